// The one table through which the updater reaches the operating system.
// Production binds the real Win32 calls; tests swap in a scripted port, a virtual
// clock and recorders. Code above the seam calls Os().X(...) as it would call X(...).
#pragma once
#include <windows.h>
#include <shlobj.h>

struct OsCalls {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::GetCommState) GetCommState;
    decltype(&::SetCommState) SetCommState;
    decltype(&::SetCommTimeouts) SetCommTimeouts;
    decltype(&::ClearCommError) ClearCommError;
    // The calling thread's last error, as the calls above left it.
    decltype(&::GetLastError) GetLastError;
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
    // The journal's folder and files, the report's file, the check's look at listed files.
    decltype(&::CreateDirectoryA) CreateDirectoryA;
    decltype(&::FindFirstFileA) FindFirstFileA;
    decltype(&::FindNextFileA) FindNextFileA;
    decltype(&::FindClose) FindClose;
    decltype(&::DeleteFileA) DeleteFileA;
    decltype(&::MoveFileExA) MoveFileExA;
    decltype(&::FlushFileBuffers) FlushFileBuffers;
    decltype(&::GetFileAttributesExA) GetFileAttributesExA;
    decltype(&::GetCurrentProcessId) GetCurrentProcessId;
    // Standard error as bytes (a console, a pipe or a file): a console with a selection
    // open blocks here.
    bool (*WriteStandardError)(const char* bytes, DWORD size);
    decltype(&::GetConsoleMode) GetConsoleMode;
    decltype(&::SetConsoleMode) SetConsoleMode;
    decltype(&::GetConsoleOutputCP) GetConsoleOutputCP;
    decltype(&::SetConsoleOutputCP) SetConsoleOutputCP;
    // Where the journals go, and who the process runs as.
    decltype(&::SHGetKnownFolderPath) SHGetKnownFolderPath;
    decltype(&::CoTaskMemFree) CoTaskMemFree;
    decltype(&::OpenProcessToken) OpenProcessToken;
    decltype(&::GetTokenInformation) GetTokenInformation;
    // The report: its zone offset and its move into place.
    decltype(&::GetTimeZoneInformation) GetTimeZoneInformation;
    // The event of each run, and its source's registration.
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegCloseKey) RegCloseKey;
    // The event source's removal by `unregister`.
    decltype(&::RegDeleteKeyExW) RegDeleteKeyExW;
    decltype(&::RegisterEventSourceW) RegisterEventSourceW;
    decltype(&::ReportEventW) ReportEventW;
    decltype(&::DeregisterEventSource) DeregisterEventSource;
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    // The DPI a window is drawn at: GetDpiForWindow where the system has it (Windows 10
    // 1607 on), the system DPI otherwise.
    UINT (*GetDpiForWindow)(HWND window);
    // The system parameters the windows follow (SPI_GETHIGHCONTRAST).
    decltype(&::SystemParametersInfoA) SystemParametersInfoA;
    // The process's DLL search and the system libraries bound at run time (SystemLibrary.h).
    decltype(&::GetModuleHandleA) GetModuleHandleA;
    decltype(&::SetDllDirectoryA) SetDllDirectoryA;
    decltype(&::GetSystemDirectoryA) GetSystemDirectoryA;
    decltype(&::FreeLibrary) FreeLibrary;
    // The package's folder entered at start, and a path taken whole before it is.
    decltype(&::SetCurrentDirectoryA) SetCurrentDirectoryA;
    decltype(&::GetCurrentDirectoryA) GetCurrentDirectoryA;
    decltype(&::GetFullPathNameA) GetFullPathNameA;
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
