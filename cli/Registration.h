// The event source "Orvane", the administrator's: `register` points it once at the installed
// OrvaneCli.exe, `unregister` takes it away. Runs only write events under it.
#pragma once
#include <string>

#include "ExitCodes.h"

// Where the Application log finds the source's texts.
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvane";

// Whether `path` names something inside `folder`, compared name by name ignoring case, as
// the file system does: "C:\Program Files Evil\x" is not inside "C:\Program Files". The
// "\\?\" form that GetFinalPathNameByHandleW gives is taken as the plain path it stands for;
// a "." or ".." name never lies anywhere.
bool LiesUnderFolder(const std::wstring& path, const std::wstring& folder);

// `OrvaneCli register`: 0 registered, 1 the registry refused, 2 not elevated or a program
// that lies where a user could replace it (nothing changed), the reason on standard error.
ExitStatus RunRegister();

// `OrvaneCli unregister`: 0 removed (or there was none), 1 the registry refused, 2 not
// elevated. The journals stay.
ExitStatus RunUnregister();
