#include "FakeOs.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "winfw/Text.h"
#include "winfw/FileTime.h"

namespace {

FakeOs* g_fake = nullptr;
HANDLE const kPortHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFF0001));

bool IsDevicePath(const char* path) { return std::strncmp(path, "\\\\.\\", 4) == 0; }

using Hold = std::lock_guard<std::recursive_mutex>;

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templ)
{
    if (!IsDevicePath(path)) {
        {
            Hold hold(g_fake->lock);
            g_fake->files.push_back(path);
        }
        return RealOsCalls().CreateFileA(path, access, share, sa, disposition, flags, templ);
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = NO_ERROR;
    {
        Hold hold(g_fake->lock);
        g_fake->opened.push_back(path);
        handle = g_fake->HandleOfPath(path);
        const FakePort& port = *g_fake->PortOfHandle(handle);
        if (port.failOpen) {
            handle = INVALID_HANDLE_VALUE;
            error = port.openError;
        }
    }
    // Set once the lock is given back, which may touch the thread's last error.
    if (handle == INVALID_HANDLE_VALUE)
        ::SetLastError(error);
    return handle;
}

// A call that fails as Windows fails it: FALSE, with the thread's last error. Called once
// the machine's lock is given back, which may touch the last error.
BOOL Refuse(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

// A failed call of the scripted port that carries no cause of its own.
constexpr DWORD kInjectedError = ERROR_GEN_FAILURE;

// With fAbortOnError, a line error ends the read or write under way and refuses every
// later one until ClearCommError (learn.microsoft.com, "Communications Errors").
bool AbortsOnLineError(const FakePort& port) { return port.lineErrors != 0 && port.dcb.fAbortOnError; }

// What one read gets from the port: NO_ERROR or why it failed.
DWORD ServeRead(FakePort& port, LPVOID buffer, DWORD size, LPDWORD read)
{
    port.readSizes.push_back(size);
    *read = 0;
    if (AbortsOnLineError(port))
        return ERROR_OPERATION_ABORTED;
    if (port.onRead)
        port.onRead(port);
    while (!port.incoming.empty() && port.incoming.front().kind == PortEvent::LineError) {
        port.lineErrors |= port.incoming.front().lineErrors;
        port.incoming.pop_front();
        if (AbortsOnLineError(port))
            return ERROR_OPERATION_ABORTED;
    }
    if (port.incoming.empty())
        return NO_ERROR;
    PortEvent& next = port.incoming.front();
    if (next.kind != PortEvent::Data) {
        const bool fail = next.kind == PortEvent::Fail;
        port.incoming.pop_front();
        return fail ? kInjectedError : NO_ERROR;
    }
    const std::size_t n = std::min<std::size_t>(size, next.bytes.size());
    std::memcpy(buffer, next.bytes.data(), n);
    next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    if (next.bytes.empty())
        port.incoming.pop_front();
    *read = static_cast<DWORD>(n);
    return NO_ERROR;
}

BOOL WINAPI FakeReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov)
{
    DWORD error = NO_ERROR;
    {
        Hold hold(g_fake->lock);
        FakePort* port = g_fake->PortOfHandle(h);
        if (port == nullptr)
            return RealOsCalls().ReadFile(h, buffer, size, read, ov);
        error = ServeRead(*port, buffer, size, read);
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

DWORD ServeWrite(FakePort& port, LPCVOID buffer, DWORD size, LPDWORD written)
{
    *written = 0;
    // Refused by the driver: nothing reaches the line.
    if (AbortsOnLineError(port))
        return ERROR_OPERATION_ABORTED;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const int index = static_cast<int>(port.writes.size());
    port.writes.emplace_back(bytes, bytes + size);
    if (index == port.failWriteNumber)
        return kInjectedError;
    *written = size;
    if (port.onWrite)
        port.onWrite(port, port.writes.back());
    return NO_ERROR;
}

// Standard error is the machine's console; the other handles are the test program's own.
HANDLE const kStandardError = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFE0012));

BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov)
{
    if (h == kStandardError) {
        *written = size;
        return g_fake->console.Write(static_cast<const char*>(buffer), size);
    }
    DWORD error = NO_ERROR;
    {
        Hold hold(g_fake->lock);
        FakePort* port = g_fake->PortOfHandle(h);
        if (port == nullptr)
            return RealOsCalls().WriteFile(h, buffer, size, written, ov);
        error = ServeWrite(*port, buffer, size, written);
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

BOOL WINAPI FakeCloseHandle(HANDLE h)
{
    {
        Hold hold(g_fake->lock);
        FakePort* port = g_fake->PortOfHandle(h);
        if (port == nullptr)
            return RealOsCalls().CloseHandle(h);
        if (!port->failClose) {
            ++g_fake->portCloses;
            return TRUE;
        }
    }
    return Refuse(kInjectedError);
}

BOOL WINAPI FakeGetCommState(HANDLE h, LPDCB dcb)
{
    DWORD error = ERROR_INVALID_HANDLE;
    {
        Hold hold(g_fake->lock);
        if (FakePort* port = g_fake->PortOfHandle(h)) {
            error = port->failGetState ? kInjectedError : NO_ERROR;
            if (error == NO_ERROR)
                *dcb = port->dcb;
        }
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

// What serial.sys refuses (learn.microsoft.com, SetCommState): equal XON and XOFF
// characters, no baud rate, a byte size outside 5 to 8.
bool LineSettingsRefused(const DCB& dcb)
{
    return dcb.XonChar == dcb.XoffChar || dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8;
}

BOOL WINAPI FakeSetCommState(HANDLE h, LPDCB dcb)
{
    DWORD error = ERROR_INVALID_HANDLE;
    {
        Hold hold(g_fake->lock);
        if (FakePort* port = g_fake->PortOfHandle(h)) {
            if (port->failSetState)
                error = kInjectedError;
            else if (LineSettingsRefused(*dcb) ||
                     std::count(port->unsupportedRates.begin(), port->unsupportedRates.end(),
                                dcb->BaudRate) != 0)
                error = ERROR_INVALID_PARAMETER;
            else
                error = NO_ERROR;
            if (error == NO_ERROR)
                port->dcb = *dcb;
        }
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

BOOL WINAPI FakeSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts)
{
    DWORD error = ERROR_INVALID_HANDLE;
    {
        Hold hold(g_fake->lock);
        if (FakePort* port = g_fake->PortOfHandle(h)) {
            error = port->failTimeouts ? kInjectedError : NO_ERROR;
            if (error == NO_ERROR)
                port->timeouts = *timeouts;
        }
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

BOOL WINAPI FakeClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status)
{
    {
        Hold hold(g_fake->lock);
        if (FakePort* port = g_fake->PortOfHandle(h)) {
            ++port->clearCalls;
            if (errors != nullptr)
                *errors = port->lineErrors;
            if (status != nullptr)
                *status = COMSTAT{};
            port->lineErrors = 0;
            return TRUE;
        }
    }
    return Refuse(ERROR_INVALID_HANDLE);
}

void WINAPI FakeSleep(DWORD ms)
{
    Hold hold(g_fake->lock);
    g_fake->Slept(ms);
}

void WINAPI FakeLocalTime(LPSYSTEMTIME time)
{
    Hold hold(g_fake->lock);
    const SYSTEMTIME utc = g_fake->ReadUtcClock();
    if (!g_fake->LocalOf(utc, *time))
        *time = utc;
}

void WINAPI FakeSystemTime(LPSYSTEMTIME time)
{
    Hold hold(g_fake->lock);
    *time = g_fake->ReadUtcClock();
}

// SystemTimeToTzSpecificLocalTime(Ex) with no zone given converts in the active zone (the
// machine's); a zone given is converted as Windows converts it.
BOOL WINAPI FakeTzLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local)
{
    if (zone != nullptr)
        return RealOsCalls().SystemTimeToTzSpecificLocalTime(zone, utc, local);
    Hold hold(g_fake->lock);
    return g_fake->LocalOf(*utc, *local) ? TRUE : Refuse(ERROR_INVALID_DATA);
}

BOOL WINAPI FakeTzLocalTimeEx(const DYNAMIC_TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                              LPSYSTEMTIME local)
{
    if (zone != nullptr)
        return Refuse(ERROR_INVALID_PARAMETER); // no dynamic zone is modelled
    return FakeTzLocalTime(nullptr, utc, local);
}

EXECUTION_STATE WINAPI FakeExecutionState(EXECUTION_STATE state)
{
    Hold hold(g_fake->lock);
    g_fake->executionStates.push_back(state);
    return ES_CONTINUOUS;
}

ULONGLONG WINAPI FakeTickCount()
{
    Hold hold(g_fake->lock);
    return g_fake->NowMs();
}

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id)
{
    {
        Hold hold(g_fake->lock);
        const int call = g_fake->threadCalls++;
        if (g_fake->failCreateThread || call == g_fake->failThreadNumber) {
            // What CreateThread says when no thread can be had.
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        ++g_fake->threadsCreated;
    }
    return RealOsCalls().CreateThread(sa, stack, start, parameter, flags, id);
}

int WINAPI FakeMessageBox(HWND, LPCSTR text, LPCSTR, UINT type)
{
    Hold hold(g_fake->lock);
    g_fake->boxes.push_back({text ? text : "", type});
    return IDOK;
}

void WINAPI FakeDebugOutput(LPCSTR line)
{
    Hold hold(g_fake->lock);
    g_fake->lines.push_back(line ? line : "");
}

DWORD WINAPI FakeFileAttributes(LPCSTR path)
{
    {
        Hold hold(g_fake->lock);
        g_fake->files.push_back(path);
    }
    return RealOsCalls().GetFileAttributesA(path);
}

// The port library gone from the program's folder: a load that may look there fails.
HMODULE WINAPI FakeLoadLibrary(LPCSTR name, HANDLE file, DWORD flags)
{
    if (g_fake->libraryMissing && (flags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != 0) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return RealOsCalls().LoadLibraryExA(name, file, flags);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE library, LPCSTR name)
{
    return g_fake->exportsMissing ? nullptr : RealOsCalls().GetProcAddress(library, name);
}

HANDLE WINAPI FakeGetStdHandle(DWORD which)
{
    return which == STD_ERROR_HANDLE ? kStandardError : RealOsCalls().GetStdHandle(which);
}

// GetConsoleMode and WriteConsole fail with ERROR_INVALID_HANDLE on a handle that is no
// console (WriteConsole's page: "fails if it is used with a standard handle that is
// redirected to a file").
bool NoConsole(HANDLE handle)
{
    if (handle != kStandardError)
        return false;
    Hold hold(g_fake->lock);
    if (!g_fake->console.redirected)
        return false;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

BOOL WINAPI FakeGetConsoleMode(HANDLE handle, LPDWORD mode)
{
    if (handle != kStandardError)
        return RealOsCalls().GetConsoleMode(handle, mode);
    if (NoConsole(handle))
        return FALSE;
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    return TRUE;
}

BOOL WINAPI FakeWriteConsole(HANDLE handle, const VOID* units, DWORD count, LPDWORD written,
                             LPVOID reserved)
{
    if (handle != kStandardError)
        return RealOsCalls().WriteConsoleW(handle, units, count, written, reserved);
    if (NoConsole(handle))
        return FALSE;
    g_fake->console.WriteUnits(static_cast<const wchar_t*>(units), count);
    if (written != nullptr)
        *written = count;
    return TRUE;
}

HRESULT WINAPI FakeKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path)
{
    std::string given;
    {
        Hold hold(g_fake->lock);
        if (IsEqualGUID(folder, FOLDERID_ProgramData))
            given = g_fake->programData;
        else if (IsEqualGUID(folder, FOLDERID_LocalAppData))
            given = g_fake->localAppData;
        else if (IsEqualGUID(folder, FOLDERID_ProgramFiles))
            given = g_fake->programFiles;
    }
    if (given.empty())
        return RealOsCalls().SHGetKnownFolderPath(folder, flags, token, path);
    const std::wstring wide(given.begin(), given.end());
    *path = static_cast<PWSTR>(::CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
    if (*path == nullptr)
        return E_OUTOFMEMORY;
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, *path);
    return S_OK;
}

// As GetModuleFileNameW: the length copied, or `size` with the text cut and
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
DWORD WINAPI FakeModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    std::wstring given;
    {
        Hold hold(g_fake->lock);
        given = g_fake->programPath;
    }
    if (module != nullptr || given.empty())
        return RealOsCalls().GetModuleFileNameW(module, buffer, size);
    if (size == 0)
        return 0;
    const DWORD copied = static_cast<DWORD>(std::min<std::size_t>(given.size(), size - 1));
    std::copy(given.c_str(), given.c_str() + copied, buffer);
    buffer[copied] = L'\0';
    if (copied < given.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return copied;
}

// The token's user as Windows gives it: the size first, then the SID after the structure.
BOOL WINAPI FakeTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size,
                                 PDWORD needed)
{
    if (kind == TokenElevation) {
        *needed = sizeof(TOKEN_ELEVATION);
        if (buffer == nullptr || size < sizeof(TOKEN_ELEVATION)) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        Hold hold(g_fake->lock);
        static_cast<TOKEN_ELEVATION*>(buffer)->TokenIsElevated =
            g_fake->elevated || g_fake->localSystem;
        return TRUE;
    }
    if (kind != TokenUser) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    const bool system = [] {
        Hold hold(g_fake->lock);
        return g_fake->localSystem;
    }();
    // A standard user: S-1-5-21-1-2-3-1001.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID user = nullptr;
    if (system)
        ::CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &sidSize);
    else if (::AllocateAndInitializeSid(&nt, 5, SECURITY_NT_NON_UNIQUE, 1, 2, 3, 1001, 0, 0, 0,
                                        &user)) {
        sidSize = ::GetLengthSid(user);
        ::CopySid(sidSize, sid, user);
        ::FreeSid(user);
    }
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER)) + sidSize;
    if (buffer == nullptr || size < *needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<TOKEN_USER*>(buffer);
    BYTE* sidCopy = static_cast<BYTE*>(buffer) + sizeof(TOKEN_USER);
    std::memcpy(sidCopy, sid, sidSize);
    out->User.Sid = sidCopy;
    out->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI FakeMoveFile(LPCSTR from, LPCSTR to, DWORD flags)
{
    DWORD error = NO_ERROR;
    {
        Hold hold(g_fake->lock);
        ++g_fake->moves;
        if (g_fake->heldMoves > 0) {
            --g_fake->heldMoves;
            error = g_fake->heldError;
        }
    }
    if (error == NO_ERROR)
        return RealOsCalls().MoveFileExA(from, to, flags);
    ::SetLastError(error);
    return FALSE;
}

HKEY const kMachineKey = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x7FFE0001));
HANDLE const kEventSource = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFD0001));

// The path a key of HKLM has in the view asked for (learn.microsoft.com, "Accessing an
// Alternate Registry View"): KEY_WOW64_32KEY, or a 32-bit process that does not ask for
// KEY_WOW64_64KEY, reaches SOFTWARE through WOW6432Node; both flags at once are refused.
std::wstring InView(const std::wstring& path, REGSAM access, bool wow64)
{
    const std::wstring software = L"SOFTWARE\\";
    const bool view32 =
        (access & KEY_WOW64_32KEY) != 0 || (wow64 && (access & KEY_WOW64_64KEY) == 0);
    if (!view32 || _wcsnicmp(path.c_str(), software.c_str(), software.size()) != 0)
        return path;
    return software + L"WOW6432Node\\" + path.substr(software.size());
}

// Only an elevated administrator or LocalSystem may create a key under the machine's
// services or SOFTWARE, whose default access lists let Users read only; the test machine
// knows no key a user could open.
LSTATUS WINAPI FakeRegCreateKey(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                                LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD)
{
    Hold hold(g_fake->lock);
    constexpr REGSAM kBothViews = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
    if (root != HKEY_LOCAL_MACHINE || subKey == nullptr || (access & kBothViews) == kBothViews)
        return ERROR_INVALID_PARAMETER;
    if (!g_fake->localSystem && !g_fake->elevated)
        return ERROR_ACCESS_DENIED;
    g_fake->machineKey = InView(subKey, access, g_fake->wow64);
    g_fake->machineKeyAccess = access;
    ++g_fake->openKeys;
    // A handle no open key holds, as Windows may give a closed one again.
    std::intptr_t handle = reinterpret_cast<std::intptr_t>(kMachineKey);
    while (g_fake->keyPaths.count(reinterpret_cast<HKEY>(handle)) != 0)
        ++handle;
    *key = reinterpret_cast<HKEY>(handle);
    g_fake->keyPaths[*key] = g_fake->machineKey;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegSetValue(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                               DWORD size)
{
    Hold hold(g_fake->lock);
    const auto open = g_fake->keyPaths.find(key);
    if (open == g_fake->keyPaths.end())
        return ERROR_INVALID_HANDLE;
    if (g_fake->machineWriteError != ERROR_SUCCESS)
        return g_fake->machineWriteError;
    g_fake->machineValues[{open->second, name != nullptr ? name : L""}] =
        FakeOs::Value{type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegCloseKey(HKEY key)
{
    Hold hold(g_fake->lock);
    if (g_fake->keyPaths.erase(key) == 0)
        return ERROR_INVALID_HANDLE;
    --g_fake->openKeys;
    return ERROR_SUCCESS;
}

// RegDeleteKeyExW: refused to a standard user; ERROR_FILE_NOT_FOUND for a key that holds
// no value here.
LSTATUS WINAPI FakeRegDeleteKey(HKEY root, LPCWSTR subKey, REGSAM, DWORD)
{
    Hold hold(g_fake->lock);
    if (root != HKEY_LOCAL_MACHINE || subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!g_fake->localSystem && !g_fake->elevated)
        return ERROR_ACCESS_DENIED;
    bool found = false;
    for (auto it = g_fake->machineValues.begin(); it != g_fake->machineValues.end();) {
        if (it->first.first != subKey) {
            ++it;
            continue;
        }
        found = true;
        it = g_fake->machineValues.erase(it);
    }
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    g_fake->deletedKeys.push_back(subKey);
    return ERROR_SUCCESS;
}

// Windows writes to the Application log under a source nobody registered.
HANDLE WINAPI FakeRegisterEventSource(LPCWSTR server, LPCWSTR source)
{
    Hold hold(g_fake->lock);
    if (server != nullptr || source == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ++g_fake->openEventSources;
    return kEventSource;
}

BOOL WINAPI FakeReportEvent(HANDLE source, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                            LPCWSTR* strings, LPVOID)
{
    Hold hold(g_fake->lock);
    if (source != kEventSource || (count > 0 && strings == nullptr)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FakeOs::Event event{type, id, {}};
    for (WORD i = 0; i < count; ++i)
        event.strings.emplace_back(strings[i] != nullptr ? strings[i] : L"");
    g_fake->events.push_back(event);
    return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE source)
{
    Hold hold(g_fake->lock);
    if (source != kEventSource) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --g_fake->openEventSources;
    return TRUE;
}

UINT WINAPI FakeDpiForWindow(HWND window)
{
    // As GetDpiForWindow: 0 for a handle that names no window.
    if (!::IsWindow(window))
        return 0;
    Hold hold(g_fake->lock);
    return g_fake->dpi;
}

BOOL WINAPI FakeSystemParameters(UINT action, UINT size, PVOID value, UINT flags)
{
    if (action != SPI_GETHIGHCONTRAST)
        return RealOsCalls().SystemParametersInfoA(action, size, value, flags);
    // Windows asks for the structure's size both in the argument and in cbSize.
    auto* contrast = static_cast<HIGHCONTRASTA*>(value);
    if (contrast == nullptr || size != sizeof *contrast || contrast->cbSize != sizeof *contrast) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Hold hold(g_fake->lock);
    contrast->dwFlags = HCF_AVAILABLE | (g_fake->highContrast ? HCF_HIGHCONTRASTON : 0);
    contrast->lpszDefaultScheme = nullptr;
    return TRUE;
}

BOOL WINAPI FakeDialogDpiChangeBehavior(HWND dialog, int mask, int values)
{
    if (!::IsWindow(dialog))
        return Refuse(ERROR_INVALID_WINDOW_HANDLE);
    Hold hold(g_fake->lock);
    g_fake->dialogDpiCalls.push_back({dialog, mask, values});
    return TRUE;
}

BOOL WINAPI FakeAdjustWindowRectForDpi(RECT* rect, DWORD style, BOOL, DWORD, UINT dpi)
{
    const int side = ::MulDiv(4, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    const bool titled = (style & WS_CAPTION) == WS_CAPTION;
    const int caption = titled ? ::MulDiv(30, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI) : 0;
    rect->left -= side;
    rect->right += side;
    rect->top -= side + caption;
    rect->bottom += side;
    return TRUE;
}

OsCalls FakeCalls()
{
    OsCalls calls = RealOsCalls();
    calls.CreateFileA = FakeCreateFile;
    calls.ReadFile = FakeReadFile;
    calls.WriteFile = FakeWriteFile;
    calls.CloseHandle = FakeCloseHandle;
    calls.GetCommState = FakeGetCommState;
    calls.SetCommState = FakeSetCommState;
    calls.SetCommTimeouts = FakeSetCommTimeouts;
    calls.ClearCommError = FakeClearCommError;
    calls.Sleep = FakeSleep;
    calls.GetTickCount64 = FakeTickCount;
    calls.GetLocalTime = FakeLocalTime;
    calls.SetThreadExecutionState = FakeExecutionState;
    calls.CreateThread = FakeCreateThread;
    calls.MessageBoxA = FakeMessageBox;
    calls.OutputDebugStringA = FakeDebugOutput;
    calls.GetFileAttributesA = FakeFileAttributes;
    calls.LoadLibraryExA = FakeLoadLibrary;
    calls.GetProcAddress = FakeGetProcAddress;
    calls.GetStdHandle = FakeGetStdHandle;
    calls.GetConsoleMode = FakeGetConsoleMode;
    calls.WriteConsoleW = FakeWriteConsole;
    calls.SHGetKnownFolderPath = FakeKnownFolderPath;
    calls.GetTokenInformation = FakeTokenInformation;
    calls.GetSystemTime = FakeSystemTime;
    calls.SystemTimeToTzSpecificLocalTime = FakeTzLocalTime;
    calls.SystemTimeToTzSpecificLocalTimeEx = FakeTzLocalTimeEx;
    calls.MoveFileExA = FakeMoveFile;
    calls.RegCreateKeyExW = FakeRegCreateKey;
    calls.RegSetValueExW = FakeRegSetValue;
    calls.RegCloseKey = FakeRegCloseKey;
    calls.RegDeleteKeyExW = FakeRegDeleteKey;
    calls.GetModuleFileNameW = FakeModuleFileNameW;
    calls.RegisterEventSourceW = FakeRegisterEventSource;
    calls.ReportEventW = FakeReportEvent;
    calls.DeregisterEventSource = FakeDeregisterEventSource;
    calls.GetDpiForWindow = FakeDpiForWindow;
    calls.SystemParametersInfoA = FakeSystemParameters;
    calls.SetDialogDpiChangeBehavior = FakeDialogDpiChangeBehavior;
    calls.AdjustWindowRectExForDpi = FakeAdjustWindowRectForDpi;
    return calls;
}

} // namespace

FakeOs::FakeOs() : m_swap(FakeCalls()), m_previous(g_fake)
{
    port.dcb.DCBlength = sizeof(DCB);
    g_fake = this;
}

// Machines nest: an inner one hands the seam back to the outer one.
FakeOs::~FakeOs() { g_fake = m_previous; }

FakePort& FakeOs::PortAt(const std::string& devicePath)
{
    std::unique_ptr<FakePort>& slot = m_otherPorts[devicePath];
    if (!slot) {
        slot = std::make_unique<FakePort>();
        slot->dcb.DCBlength = sizeof(DCB);
    }
    return *slot;
}

HANDLE FakeOs::HandleOfPath(const std::string& devicePath)
{
    std::intptr_t index = 1;
    for (const auto& other : m_otherPorts) {
        if (other.first == devicePath)
            return reinterpret_cast<HANDLE>(reinterpret_cast<std::intptr_t>(kPortHandle) + index);
        ++index;
    }
    return kPortHandle;
}

FakePort* FakeOs::PortOfHandle(HANDLE handle)
{
    if (handle == kPortHandle)
        return &port;
    std::intptr_t index = 1;
    for (auto& other : m_otherPorts) {
        if (handle == reinterpret_cast<HANDLE>(reinterpret_cast<std::intptr_t>(kPortHandle) + index))
            return other.second.get();
        ++index;
    }
    return nullptr;
}

namespace {

ULONGLONG TicksOfTime(const SYSTEMTIME& time)
{
    FILETIME file = {};
    ::SystemTimeToFileTime(&time, &file);
    return TicksOf(file);
}

} // namespace

SYSTEMTIME FakeOs::ReadUtcClock()
{
    SYSTEMTIME now = {};
    const FILETIME file = FileTimeOf(TicksOfTime(utcStart) + m_clockMs * (kTicksPerSecond / 1000));
    ::FileTimeToSystemTime(&file, &now);
    m_clockMs += msPerClockRead;
    return now;
}

bool FakeOs::LocalOf(const SYSTEMTIME& utc, SYSTEMTIME& local) const
{
    if (zoneUnreadable)
        return false;
    const ULONGLONG ticks = TicksOfTime(utc);
    const bool daylight = daylightFrom.wYear != 0 && ticks >= TicksOfTime(daylightFrom) &&
                          ticks < TicksOfTime(daylightUntil);
    const LONG bias = zoneBias + (daylight ? daylightBias : 0);
    const FILETIME file = FileTimeOf(ticks - static_cast<LONGLONG>(bias) * 60 * kTicksPerSecond);
    return ::FileTimeToSystemTime(&file, &local) != 0;
}

bool FakeOs::Logged(const std::string& line) const
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool FakeOs::LoggedThen(const std::string& line, const std::string& next) const
{
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i] == line && lines[i + 1] == next)
            return true;
    return false;
}

DWORD FakeOs::TotalSleep() const
{
    DWORD total = 0;
    for (DWORD ms : sleeps)
        total += ms;
    return total;
}

void FakeConsole::Block()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_blocked = true;
}

void FakeConsole::Release()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_blocked = false;
    }
    m_released.notify_all();
}

std::string FakeConsole::Written()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_written;
}

std::wstring FakeConsole::UnitsWritten()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_units;
}

std::string FakeConsole::BytesWritten()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_bytes;
}

bool FakeConsole::Write(const char* bytes, DWORD size)
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_released.wait(hold, [this] { return !m_blocked; });
    m_written.append(bytes, size);
    m_bytes.append(bytes, size);
    return true;
}

bool FakeConsole::WriteUnits(const wchar_t* units, DWORD count)
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_released.wait(hold, [this] { return !m_blocked; });
    const std::wstring text(units, count);
    m_written += WideToUtf8(text);
    m_units += text;
    return true;
}

Bytes Reply(std::uint8_t status)
{
    Bytes reply(32, 0);
    reply[0] = 0x06;
    reply[1] = 1;
    reply[2] = status;
    return reply;
}

Bytes NameReply(const std::string& name)
{
    Bytes reply(32, 0);
    reply[1] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(name.size(), 30)),
              reply.begin() + 2);
    return reply;
}

TempFile::TempFile(const std::string& name, std::size_t size)
    : m_dir("ovfile"), m_path(m_dir.Path() + "\\" + name)
{
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i)
        out.put(static_cast<char>((i * 7 + 3) & 0xFF));
}

Bytes TempFile::Content() const
{
    std::ifstream in(m_path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
