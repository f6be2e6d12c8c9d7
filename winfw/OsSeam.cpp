#include "OsSeam.h"

namespace {

bool RealFileExists(const char* path)
{
    // Wildcards in a package file name must not match some other file.
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(find);
    return true;
}

HMODULE LoadFromTrustedDirectories(const char* name)
{
    // Only the program's own directory and the system directory: a library planted in
    // the current directory (the update package) or on PATH must never be loaded.
    return ::LoadLibraryExA(name, nullptr,
                            LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

const OsCalls kReal = {
    ::CreateFileA,     ::ReadFile,          ::WriteFile,       ::CloseHandle,
    ::GetCommState,    ::SetCommState,      ::SetCommTimeouts, ::GetFileSize,
    RealFileExists,    ::Sleep,             ::MessageBoxA,     ::OutputDebugStringA,
    LoadFromTrustedDirectories, ::GetProcAddress,
};

OsCalls g_current = kReal;

} // namespace

OsCalls& Os() { return g_current; }

const OsCalls& RealOsCalls() { return kReal; }

ScopedOsCalls::ScopedOsCalls(const OsCalls& calls) : m_saved(g_current) { g_current = calls; }

ScopedOsCalls::~ScopedOsCalls() { g_current = m_saved; }
