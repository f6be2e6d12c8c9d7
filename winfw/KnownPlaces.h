// Who the process runs as, and the folders Windows keeps for that account.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

// Whether the process's token is LocalSystem's (S-1-5-18): a deployment tool's account.
bool RunsAsLocalSystem();

// Whether the process may change the machine: LocalSystem, or an administrator's token that
// UAC did not filter (TokenElevation).
bool RunsElevated();

// A known folder's path in the ANSI code page; empty when Windows gives none.
std::string KnownFolderPath(REFKNOWNFOLDERID folder);
