#include "OsSeam.h"

#include <cstring>

namespace {

bool RealFileExists(const char* path)
{
    // A file search would take "*.PDF" in a package list for whatever file it matches
    // first: a name with a wildcard names no file.
    if (path == nullptr || path[0] == '\0' || std::strpbrk(path, "*?") != nullptr)
        return false;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

HMODULE LoadFromTrustedDirectories(const char* name)
{
    // Only the program's own directory and the system directory: a library planted in
    // the current directory (the update package) or on PATH must never be loaded.
    return ::LoadLibraryExA(name, nullptr,
                            LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Filled by member name, so a new member can never shift the others.
OsCalls MakeRealCalls()
{
    OsCalls c = {};
    c.CreateFileA = ::CreateFileA;
    c.ReadFile = ::ReadFile;
    c.WriteFile = ::WriteFile;
    c.CloseHandle = ::CloseHandle;
    c.GetCommState = ::GetCommState;
    c.SetCommState = ::SetCommState;
    c.SetCommTimeouts = ::SetCommTimeouts;
    c.GetFileSize = ::GetFileSize;
    c.FileExists = RealFileExists;
    c.Sleep = ::Sleep;
    c.GetTickCount64 = ::GetTickCount64;
    c.CreateThread = ::CreateThread;
    c.MessageBoxA = ::MessageBoxA;
    c.OutputDebugStringA = ::OutputDebugStringA;
    c.LoadLibraryA = LoadFromTrustedDirectories;
    c.GetProcAddress = ::GetProcAddress;
    return c;
}

const OsCalls kReal = MakeRealCalls();

OsCalls g_current = kReal;

} // namespace

OsCalls& Os() { return g_current; }

const OsCalls& RealOsCalls() { return kReal; }

ScopedOsCalls::ScopedOsCalls(const OsCalls& calls) : m_saved(g_current) { g_current = calls; }

ScopedOsCalls::~ScopedOsCalls() { g_current = m_saved; }
