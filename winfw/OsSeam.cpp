#include "OsSeam.h"

#include <ntsecapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "KnownPlaces.h"
#include "Text.h"

namespace {

bool RealFileExists(const char* path)
{
    // A file search would take "*.PDF" in a package list for whatever file it matches
    // first: a name with a wildcard names no file.
    if (path == nullptr || path[0] == '\0' || std::strpbrk(path, "*?") != nullptr)
        return false;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool RealWriteStandardError(const char* bytes, DWORD size)
{
    const bool written = std::fwrite(bytes, 1, size, stderr) == size;
    return std::fflush(stderr) == 0 && written;
}

// The program's own directory with its final backslash; empty when it cannot be read, or
// cannot be held in the ANSI code page (a best fit would name another folder's library).
std::string ProgramDirectory()
{
    const std::wstring wide = RunningProgramPath();
    std::string path;
    if (wide.empty() || !WideToAnsi(wide, path))
        return std::string();
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HMODULE LoadFromTrustedDirectories(const char* name)
{
    // Only the program's own directory and the system directory: a library planted in
    // the current directory (the update package) or on PATH must never be loaded.
    HMODULE module = Os().LoadLibraryExA(
        name, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // A system without those search flags refuses them: the program's own copy is then
    // named by its full path, never by its bare name.
    const std::string directory = ProgramDirectory();
    if (directory.empty())
        return nullptr;
    return Os().LoadLibraryExA((directory + name).c_str(), nullptr, 0);
}

UINT RealDpiForWindow(HWND window)
{
    // Found at run time: older systems have no per-window DPI, only the system's.
    using DpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow != nullptr) {
        const UINT dpi = dpiForWindow(window);
        if (dpi != 0)
            return dpi;
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

bool RealRandomBytes(void* buffer, ULONG size)
{
    return ::RtlGenRandom(buffer, size) != FALSE;
}

// An export of a system library the process has loaded, found at run time: null on a
// system without it.
template <typename Fn>
Fn SystemExport(const char* module, const char* name)
{
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(module), name)));
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
    c.ClearCommError = ::ClearCommError;
    c.GetLastError = ::GetLastError;
    c.GetFileSize = ::GetFileSize;
    c.FileExists = RealFileExists;
    c.Sleep = ::Sleep;
    c.GetTickCount64 = ::GetTickCount64;
    c.GetLocalTime = ::GetLocalTime;
    c.CreateThread = ::CreateThread;
    c.SetThreadExecutionState = ::SetThreadExecutionState;
    c.MessageBoxA = ::MessageBoxA;
    c.OutputDebugStringA = ::OutputDebugStringA;
    c.LoadLibraryA = LoadFromTrustedDirectories;
    c.GetProcAddress = ::GetProcAddress;
    c.LoadLibraryExA = ::LoadLibraryExA;
    c.GetModuleFileNameA = ::GetModuleFileNameA;
    c.CreateDirectoryA = ::CreateDirectoryA;
    c.FindFirstFileA = ::FindFirstFileA;
    c.FindNextFileA = ::FindNextFileA;
    c.FindClose = ::FindClose;
    c.DeleteFileA = ::DeleteFileA;
    c.MoveFileExA = ::MoveFileExA;
    c.FlushFileBuffers = ::FlushFileBuffers;
    c.GetFileAttributesExA = ::GetFileAttributesExA;
    c.GetCurrentProcessId = ::GetCurrentProcessId;
    c.WriteStandardError = RealWriteStandardError;
    c.GetStdHandle = ::GetStdHandle;
    c.GetConsoleMode = ::GetConsoleMode;
    c.WriteConsoleW = ::WriteConsoleW;
    c.SHGetKnownFolderPath = ::SHGetKnownFolderPath;
    c.CoTaskMemFree = ::CoTaskMemFree;
    c.OpenProcessToken = ::OpenProcessToken;
    c.GetTokenInformation = ::GetTokenInformation;
    c.GetSystemTime = ::GetSystemTime;
    c.SystemTimeToTzSpecificLocalTime = ::SystemTimeToTzSpecificLocalTime;
    c.SystemTimeToTzSpecificLocalTimeEx = SystemExport<decltype(c.SystemTimeToTzSpecificLocalTimeEx)>(
        "kernel32.dll", "SystemTimeToTzSpecificLocalTimeEx");
    c.RegCreateKeyExW = ::RegCreateKeyExW;
    c.RegSetValueExW = ::RegSetValueExW;
    c.RegCloseKey = ::RegCloseKey;
    c.RegDeleteKeyExW = ::RegDeleteKeyExW;
    c.RegisterEventSourceW = ::RegisterEventSourceW;
    c.ReportEventW = ::ReportEventW;
    c.DeregisterEventSource = ::DeregisterEventSource;
    c.GetModuleFileNameW = ::GetModuleFileNameW;
    c.GetDpiForWindow = RealDpiForWindow;
    c.SetDialogDpiChangeBehavior = SystemExport<decltype(c.SetDialogDpiChangeBehavior)>(
        "user32.dll", "SetDialogDpiChangeBehavior");
    c.AdjustWindowRectExForDpi = SystemExport<decltype(c.AdjustWindowRectExForDpi)>(
        "user32.dll", "AdjustWindowRectExForDpi");
    c.SystemParametersInfoA = ::SystemParametersInfoA;
    c.GetModuleHandleA = ::GetModuleHandleA;
    c.SetDllDirectoryA = ::SetDllDirectoryA;
    c.GetSystemDirectoryA = ::GetSystemDirectoryA;
    c.FreeLibrary = ::FreeLibrary;
    c.SetCurrentDirectoryA = ::SetCurrentDirectoryA;
    c.GetCurrentDirectoryW = ::GetCurrentDirectoryW;
    c.GetFullPathNameW = ::GetFullPathNameW;
    c.CreateFileW = ::CreateFileW;
    c.CreateDirectoryW = ::CreateDirectoryW;
    c.GetFileInformationByHandleEx = ::GetFileInformationByHandleEx;
    c.GetSecurityInfo = ::GetSecurityInfo;
    c.SetSecurityInfo = ::SetSecurityInfo;
    c.GetFinalPathNameByHandleW = ::GetFinalPathNameByHandleW;
    c.SetFileInformationByHandle = ::SetFileInformationByHandle;
    c.FindFirstFileW = ::FindFirstFileW;
    c.FindNextFileW = ::FindNextFileW;
    c.GetVolumeInformationByHandleW = ::GetVolumeInformationByHandleW;
    c.RandomBytes = RealRandomBytes;
    c.SetProcessMitigationPolicy = SystemExport<BOOL(WINAPI*)(int, PVOID, SIZE_T)>(
        "kernel32.dll", "SetProcessMitigationPolicy");
    return c;
}

const OsCalls kReal = MakeRealCalls();

OsCalls g_current = kReal;

} // namespace

OsCalls& Os() { return g_current; }

const OsCalls& RealOsCalls() { return kReal; }

ScopedOsCalls::ScopedOsCalls(const OsCalls& calls) : m_saved(g_current) { g_current = calls; }

ScopedOsCalls::~ScopedOsCalls() { g_current = m_saved; }
