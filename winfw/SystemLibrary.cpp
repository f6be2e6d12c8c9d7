#include "SystemLibrary.h"

#include <string>

#include "KnownPlaces.h"
#include "Text.h"

namespace {

// The program's own folder with its final backslash; empty when it cannot be read, or
// cannot be held in the ANSI code page (a best fit would name another folder's library).
std::string ProgramFolder()
{
    const std::wstring wide = RunningProgramPath();
    std::string path;
    if (wide.empty() || !WideToAnsi(wide, path))
        return std::string();
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// System32 with its final backslash; empty when it cannot be read.
std::string SystemFolder()
{
    char folder[MAX_PATH] = {};
    const UINT length = Os().GetSystemDirectoryA(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length) + "\\";
}

// The one loader: by the search flags, or where Windows 7 without KB2533623 refuses them,
// by the full path of the one folder the library may come from.
HMODULE LoadFromTrustedFolders(const char* name, bool programFolder)
{
    const DWORD flags = LOAD_LIBRARY_SEARCH_SYSTEM32 |
                        (programFolder ? LOAD_LIBRARY_SEARCH_APPLICATION_DIR : 0);
    HMODULE module = Os().LoadLibraryExA(name, nullptr, flags);
    if (module != nullptr || Os().GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    const std::string folder = programFolder ? ProgramFolder() : SystemFolder();
    return folder.empty() ? nullptr : Os().LoadLibraryExA((folder + name).c_str(), nullptr, 0);
}

} // namespace

HMODULE LoadBesideProgram(const char* name) { return LoadFromTrustedFolders(name, true); }

SystemLibrary::SystemLibrary(const char* name) : m_module(LoadFromTrustedFolders(name, false)) {}

SystemLibrary::~SystemLibrary()
{
    if (m_module != nullptr)
        Os().FreeLibrary(m_module);
}

void RestrictDllSearchToSystem32()
{
    // Windows 7 has it only with KB2533623.
    if (Os().SetDefaultDllDirectories != nullptr &&
        Os().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    Os().SetDllDirectoryA("");
}
