// Who the process runs as, and the folders Windows keeps for that account.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

// The account the process runs as.
struct RunningAccount {
    std::vector<DWORD> sid;  // DWORD cells keep the SID aligned; empty when unreadable
    bool localSystem = false;
    bool elevated = false;   // an administrator's full token
    PSID Sid() const { return sid.empty() ? nullptr : const_cast<DWORD*>(sid.data()); }
};
RunningAccount CurrentAccount();

// The running program's full path; empty when it cannot be read whole.
std::wstring RunningProgramPath();

// A known folder's path as the system gives it; empty when Windows gives none.
std::wstring KnownFolderWidePath(REFKNOWNFOLDERID folder);

// Whether the process's token is LocalSystem's (S-1-5-18): a deployment tool's account.
bool RunsAsLocalSystem();

// Whether the process may change the machine: LocalSystem, or an administrator's token that
// UAC did not filter (TokenElevation).
bool RunsElevated();
