#include "SystemLibrary.h"

#include <string>

namespace {

HMODULE LoadFromSystemDirectory(const char* name)
{
    HMODULE module = Os().LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // Windows 7 without KB2533623 refuses the search flags: the system's copy is then named
    // by its full path.
    char directory[MAX_PATH] = {};
    const UINT length = Os().GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::string path = std::string(directory, length) + "\\" + name;
    return Os().LoadLibraryExA(path.c_str(), nullptr, 0);
}

} // namespace

SystemLibrary::SystemLibrary(const char* name) : m_module(LoadFromSystemDirectory(name)) {}

SystemLibrary::~SystemLibrary()
{
    if (m_module != nullptr)
        Os().FreeLibrary(m_module);
}

void RestrictDllSearchToSystem32()
{
    // Found at run time: Windows 7 has it only with KB2533623.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = BindKernel32<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    Os().SetDllDirectoryA("");
}
