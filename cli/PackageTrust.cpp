#include "PackageTrust.h"

#include "winfw/KnownPlaces.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

// Why the object may be changed by users; empty when it is sound.
std::string JudgedFault(const std::wstring& path, ObjectKind kind)
{
    const Judgement judgement = JudgePath(path, kind, nullptr);
    return judgement.fault == FolderFault::Sound ? std::string() : JudgementText(judgement);
}

} // namespace

std::string JudgementText(const Judgement& judgement)
{
    std::string text = FolderFaultText(judgement.fault);
    if (!judgement.owner.empty())
        text += ", owner " + WideToUtf8(judgement.owner);
    return text;
}

PackageTrust::PackageTrust(bool judge, const std::wstring& folder)
    : m_judge(judge), m_folder(folder)
{
    if (m_judge)
        m_folderFault = JudgedFault(m_folder, ObjectKind::Folder);
}

std::string PackageTrust::FileFault(const std::string& ansiName) const
{
    if (!m_judge)
        return std::string();
    // A parent users may write in lets them delete the file and put another in its place.
    if (!m_folderFault.empty())
        return "its folder: " + m_folderFault;
    return JudgedFault(m_folder + L"\\" + AnsiToWide(ansiName), ObjectKind::File);
}

std::string WritablePackageLine(const std::string& what, const std::string& reason)
{
    return "update: " + what + " may be changed by users (" + reason +
           "); deploy the package as the tool's content or from a read-only share";
}

bool HoldProgramAndLibrary(HeldObject& folder, HeldObject& library, std::string& reason)
{
    const std::wstring program = RunningProgramPath();
    const std::wstring directory = ParentOf(program);
    if (directory.empty()) {
        reason = "the program's own folder cannot be read";
        return false;
    }
    Judgement judgement = HoldExisting(directory, ObjectKind::Folder, nullptr, folder);
    if (judgement.fault != FolderFault::Sound) {
        reason = "its folder " + WideToUtf8(directory) + ": " + JudgementText(judgement);
        return false;
    }
    const std::wstring tessock = directory + L"\\Tessock.dll";
    judgement = HoldExisting(tessock, ObjectKind::File, nullptr, library);
    if (judgement.fault != FolderFault::Sound && !judgement.absent) {
        reason = WideToUtf8(tessock) + ": " + JudgementText(judgement);
        return false;
    }
    return true;
}
