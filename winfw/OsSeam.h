// The one table through which the updater reaches the operating system.
// Production binds the real Win32 calls; tests swap in a scripted port, a virtual
// clock and recorders. Code above the seam calls Os().X(...) as it would call X(...).
#pragma once
#include <windows.h>

struct OsCalls {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::GetCommState) GetCommState;
    decltype(&::SetCommState) SetCommState;
    decltype(&::SetCommTimeouts) SetCommTimeouts;
    decltype(&::GetFileSize) GetFileSize;
    bool (*FileExists)(const char* path);
    decltype(&::Sleep) Sleep;
    // Milliseconds of a monotonic clock: tests read their virtual clock here.
    decltype(&::GetTickCount64) GetTickCount64;
    // The wall clock in local time: what a journal's name and lines are stamped with.
    decltype(&::GetLocalTime) GetLocalTime;
    decltype(&::CreateThread) CreateThread;
    decltype(&::SetThreadExecutionState) SetThreadExecutionState;
    decltype(&::MessageBoxA) MessageBoxA;
    decltype(&::OutputDebugStringA) OutputDebugStringA;
    // Loads a library from the program's own directory or the system directory only.
    HMODULE (*LoadLibraryA)(const char* name);
    decltype(&::GetProcAddress) GetProcAddress;
    // What the loader above is built on.
    decltype(&::LoadLibraryExA) LoadLibraryExA;
    decltype(&::GetModuleFileNameA) GetModuleFileNameA;
    // The process's DLL search and the system libraries bound at run time (SystemLibrary.h).
    decltype(&::GetModuleHandleA) GetModuleHandleA;
    decltype(&::SetDllDirectoryA) SetDllDirectoryA;
    decltype(&::GetSystemDirectoryA) GetSystemDirectoryA;
    decltype(&::FreeLibrary) FreeLibrary;
    // The object a substituted table belongs to, for its calls to reach their state (a
    // console, a simulated machine); null for the real calls.
    void* binding;
};

// The table in force.
OsCalls& Os();

// An export of a loaded library as a typed function pointer; null when it is missing.
template <typename Fn>
Fn BindExport(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Os().GetProcAddress(library, name)));
}

// The real Win32 binding.
const OsCalls& RealOsCalls();

// Swaps a table in for the lifetime of the object, then restores the previous one.
class ScopedOsCalls {
public:
    explicit ScopedOsCalls(const OsCalls& calls);
    ~ScopedOsCalls();
    ScopedOsCalls(const ScopedOsCalls&) = delete;
    ScopedOsCalls& operator=(const ScopedOsCalls&) = delete;

private:
    OsCalls m_saved;
};
