// What a run as SYSTEM sends and loads, judged by the folder rule: a package that users can
// change is said and sent all the same; a program or library that users can replace is
// never run.
#pragma once
#include <string>

#include "winfw/HeldFolder.h"

// The package folder's verdict, taken once for the whole command; nothing is judged when
// the run is not LocalSystem's.
class PackageTrust {
public:
    PackageTrust(bool judge, const std::wstring& folder);

    // Why users may change the package folder; empty when they may not (or unjudged).
    const std::string& FolderReason() const { return m_folderFault; }
    // Why users may change the package file `name` about to be sent, its folder included;
    // empty when they may not (or unjudged).
    std::string FileFault(const std::string& ansiName) const;

private:
    bool m_judge;
    std::wstring m_folder;
    std::string m_folderFault;
};

// Why a judged object fails the rule, with its owner's SID when it could be read.
std::string JudgementText(const Judgement& judgement);

// "the package folder X may be changed by users (REASON): ..." as the console and the
// journal say it.
std::string WritablePackageLine(const std::string& what, const std::string& reason);

// Under LocalSystem: the program's own folder and Tessock.dll beside it, held for as long
// as the objects live so neither can be swapped before the library is loaded. False, with
// the reason, when either may be changed by users; an absent library is no fault.
bool HoldProgramAndLibrary(HeldObject& folder, HeldObject& library, std::string& reason);
