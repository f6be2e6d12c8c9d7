#include "FakeOs.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

FakeOs* g_fake = nullptr;
HANDLE const kPortHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFF0001));

bool IsDevicePath(const char* path) { return std::strncmp(path, "\\\\.\\", 4) == 0; }

using Hold = std::lock_guard<std::recursive_mutex>;

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templ)
{
    if (!IsDevicePath(path))
        return RealOsCalls().CreateFileA(path, access, share, sa, disposition, flags, templ);
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

BOOL WINAPI FakeReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov)
{
    Hold hold(g_fake->lock);
    FakePort* found = g_fake->PortOfHandle(h);
    if (found == nullptr)
        return RealOsCalls().ReadFile(h, buffer, size, read, ov);
    FakePort& port = *found;
    port.readSizes.push_back(size);
    *read = 0;
    if (port.onRead)
        port.onRead(port);
    if (port.incoming.empty())
        return TRUE;
    PortEvent& next = port.incoming.front();
    if (next.kind != PortEvent::Data) {
        const bool fail = next.kind == PortEvent::Fail;
        port.incoming.pop_front();
        return fail ? FALSE : TRUE;
    }
    const std::size_t n = std::min<std::size_t>(size, next.bytes.size());
    std::memcpy(buffer, next.bytes.data(), n);
    next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    if (next.bytes.empty())
        port.incoming.pop_front();
    *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov)
{
    Hold hold(g_fake->lock);
    FakePort* found = g_fake->PortOfHandle(h);
    if (found == nullptr)
        return RealOsCalls().WriteFile(h, buffer, size, written, ov);
    FakePort& port = *found;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const int index = static_cast<int>(port.writes.size());
    port.writes.emplace_back(bytes, bytes + size);
    if (index == port.failWriteNumber) {
        *written = 0;
        return FALSE;
    }
    *written = size;
    if (port.onWrite)
        port.onWrite(port, port.writes.back());
    return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE h)
{
    Hold hold(g_fake->lock);
    FakePort* port = g_fake->PortOfHandle(h);
    if (port == nullptr)
        return RealOsCalls().CloseHandle(h);
    if (port->failClose)
        return FALSE;
    ++g_fake->portCloses;
    return TRUE;
}

BOOL WINAPI FakeGetCommState(HANDLE h, LPDCB dcb)
{
    Hold hold(g_fake->lock);
    FakePort* port = g_fake->PortOfHandle(h);
    if (port == nullptr || port->failGetState)
        return FALSE;
    *dcb = port->dcb;
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE h, LPDCB dcb)
{
    Hold hold(g_fake->lock);
    FakePort* port = g_fake->PortOfHandle(h);
    if (port == nullptr || port->failSetState)
        return FALSE;
    port->dcb = *dcb;
    return TRUE;
}

BOOL WINAPI FakeSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts)
{
    Hold hold(g_fake->lock);
    FakePort* port = g_fake->PortOfHandle(h);
    if (port == nullptr)
        return FALSE;
    port->timeouts = *timeouts;
    return TRUE;
}

void WINAPI FakeSleep(DWORD ms)
{
    Hold hold(g_fake->lock);
    g_fake->Slept(ms);
}

void WINAPI FakeLocalTime(LPSYSTEMTIME time)
{
    Hold hold(g_fake->lock);
    *time = g_fake->LocalTime();
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
        if (g_fake->failCreateThread)
            return nullptr;
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

HMODULE FakeLoadLibrary(const char* name)
{
    return g_fake->libraryMissing ? nullptr : RealOsCalls().LoadLibraryA(name);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE library, LPCSTR name)
{
    return g_fake->exportsMissing ? nullptr : RealOsCalls().GetProcAddress(library, name);
}

UINT FakeDpiForWindow(HWND window)
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
    calls.Sleep = FakeSleep;
    calls.GetTickCount64 = FakeTickCount;
    calls.GetLocalTime = FakeLocalTime;
    calls.SetThreadExecutionState = FakeExecutionState;
    calls.CreateThread = FakeCreateThread;
    calls.MessageBoxA = FakeMessageBox;
    calls.OutputDebugStringA = FakeDebugOutput;
    calls.LoadLibraryA = FakeLoadLibrary;
    calls.GetProcAddress = FakeGetProcAddress;
    calls.GetDpiForWindow = FakeDpiForWindow;
    calls.SystemParametersInfoA = FakeSystemParameters;
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

SYSTEMTIME FakeOs::LocalTime() const
{
    const ULONGLONG ms = m_clockMs + ((9 * 60 + 30) * 60) * 1000ULL;
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 8;
    time.wHour = static_cast<WORD>(ms / 3600000 % 24);
    time.wMinute = static_cast<WORD>(ms / 60000 % 60);
    time.wSecond = static_cast<WORD>(ms / 1000 % 60);
    time.wMilliseconds = static_cast<WORD>(ms % 1000);
    return time;
}

bool FakeOs::Logged(const std::string& line) const
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

DWORD FakeOs::TotalSleep() const
{
    DWORD total = 0;
    for (DWORD ms : sleeps)
        total += ms;
    return total;
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
