// The one table through which the updater reaches the operating system.
// Production binds the real Win32 calls; tests swap in a scripted port, a virtual
// clock and recorders. Code above the seam calls Os().X(...) as it would call X(...).
#pragma once
#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>
#include <shlobj.h>

// Every call the programs make of Windows, one line each: the table and its real binding are
// both made from this list. CALL(Name) is the Win32 call Name itself. LATE(Module, Name, Type)
// is a call only newer Windows has, found in Module at run time and null where it is absent
// (the programs still load on Windows 7 and under Wine); Type is written out because the
// headers of our Windows 7 target hide it.
#define OV_OS_CALLS(CALL, LATE) \
    /* The port, and the files of the package, the journal and the report. */ \
    CALL(CreateFileA) \
    CALL(ReadFile) \
    CALL(WriteFile) \
    CALL(CloseHandle) \
    CALL(GetCommState) \
    CALL(SetCommState) \
    CALL(SetCommTimeouts) \
    CALL(ClearCommError) \
    CALL(GetLastError) \
    CALL(GetFileSize) \
    CALL(GetFileAttributesA) \
    CALL(CreateDirectoryA) \
    CALL(FindFirstFileA) \
    CALL(FindNextFileA) \
    CALL(FindClose) \
    CALL(DeleteFileA) \
    CALL(MoveFileExA) \
    CALL(FlushFileBuffers) \
    CALL(GetFileAttributesExA) \
    /* The clocks and threads: tests read a virtual clock. */ \
    CALL(Sleep) \
    CALL(GetTickCount64) \
    CALL(GetLocalTime) \
    CALL(CreateThread) \
    CALL(SetThreadExecutionState) \
    CALL(GetCurrentProcessId) \
    /* What the operator is told, and the standard handles: a console with a selection \
       open, or a full pipe, blocks its writer. */ \
    CALL(MessageBoxA) \
    CALL(OutputDebugStringA) \
    CALL(GetStdHandle) \
    CALL(GetConsoleMode) \
    CALL(WriteConsoleW) \
    /* Libraries: the process's DLL search and the loads of SystemLibrary.h. */ \
    CALL(LoadLibraryExA) \
    CALL(GetProcAddress) \
    CALL(GetModuleHandleA) \
    CALL(FreeLibrary) \
    CALL(SetDllDirectoryA) \
    CALL(GetSystemDirectoryA) \
    CALL(GetModuleFileNameW) \
    LATE("kernel32.dll", SetDefaultDllDirectories, BOOL(WINAPI*)(DWORD)) \
    /* Where the journals go, and who the process runs as. */ \
    CALL(SHGetKnownFolderPath) \
    CALL(CoTaskMemFree) \
    CALL(OpenProcessToken) \
    CALL(GetTokenInformation) \
    /* The report's times: one UTC instant and the zone's local time of it, the Ex form by \
       the zone's rules of the instant's year; and its random bytes. */ \
    CALL(GetSystemTime) \
    CALL(SystemTimeToTzSpecificLocalTime) \
    LATE("kernel32.dll", SystemTimeToTzSpecificLocalTimeEx, \
         BOOL(WINAPI*)(const DYNAMIC_TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*)) \
    CALL(RtlGenRandom) \
    /* The event of each run, and its source's registration and removal. */ \
    CALL(RegCreateKeyExW) \
    CALL(RegSetValueExW) \
    CALL(RegCloseKey) \
    CALL(RegDeleteKeyExW) \
    CALL(RegisterEventSourceW) \
    CALL(ReportEventW) \
    CALL(DeregisterEventSource) \
    /* The windows: DPI (per window from 10 1607, a dialog's own re-layout from 1703) and \
       high contrast. */ \
    LATE("user32.dll", GetDpiForWindow, UINT(WINAPI*)(HWND)) \
    LATE("user32.dll", SetDialogDpiChangeBehavior, BOOL(WINAPI*)(HWND, int, int)) \
    LATE("user32.dll", AdjustWindowRectExForDpi, BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)) \
    CALL(SystemParametersInfoA) \
    /* The package's folder entered at start, and a path taken whole before it is. */ \
    CALL(SetCurrentDirectoryA) \
    CALL(GetCurrentDirectoryW) \
    CALL(GetFullPathNameW) \
    /* Folders and files held by handle and judged by their owner and DACL (HeldFolder.h); \
       the policy's number is PROCESS_MITIGATION_POLICY, which older headers lack. */ \
    CALL(CreateFileW) \
    CALL(CreateDirectoryW) \
    CALL(GetFileInformationByHandleEx) \
    CALL(GetSecurityInfo) \
    CALL(SetSecurityInfo) \
    CALL(GetFinalPathNameByHandleW) \
    CALL(SetFileInformationByHandle) \
    CALL(FindFirstFileW) \
    CALL(FindNextFileW) \
    CALL(GetVolumeInformationByHandleW) \
    LATE("kernel32.dll", SetProcessMitigationPolicy, BOOL(WINAPI*)(int, PVOID, SIZE_T)) \
    /* Windows 11's throttling of a hidden process's timer resolution (TimerResolution.h). */ \
    LATE("kernel32.dll", SetProcessInformation, \
         BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD))

// A type written whole, so that a pointer to a function can precede the member's name.
template <typename T>
using OsCallType = T;
#define OV_OS_MEMBER(name) decltype(&::name) name;
#define OV_OS_LATE_MEMBER(module, name, ...) OsCallType<__VA_ARGS__> name;
struct OsCalls {
    OV_OS_CALLS(OV_OS_MEMBER, OV_OS_LATE_MEMBER)
};
#undef OV_OS_MEMBER
#undef OV_OS_LATE_MEMBER

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
