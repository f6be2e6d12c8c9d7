#include "FakePort.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

HANDLE const kPortHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFF0001));

bool IsDevicePath(const char* path) { return std::strncmp(path, "\\\\.\\", 4) == 0; }

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

// A call on one of the ports: `serve` gives NO_ERROR or the error the call fails with.
template <typename Serve>
BOOL OnPort(FakePorts& ports, HANDLE h, Serve serve)
{
    FakePort* port = ports.PortOfHandle(h);
    const DWORD error = port == nullptr ? ERROR_INVALID_HANDLE : serve(*port);
    return error == NO_ERROR ? TRUE : Refuse(error);
}

// What serial.sys refuses (learn.microsoft.com, SetCommState): equal XON and XOFF
// characters, no baud rate, a byte size outside 5 to 8.
bool LineSettingsRefused(const DCB& dcb)
{
    return dcb.XonChar == dcb.XoffChar || dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8;
}

} // namespace

FakePorts::FakePorts()
{
    using Self = FakePorts;
    OsCalls calls = Below();
    calls.CreateFileA = Entry([](Self& p, LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE templ) {
        if (!IsDevicePath(path))
            return p.Below().CreateFileA(path, access, share, sa, disposition, flags, templ);
        p.opened.push_back(path);
        const HANDLE handle = p.HandleOfPath(path);
        const FakePort& port = *p.PortOfHandle(handle);
        if (!port.failOpen)
            return handle;
        ::SetLastError(port.openError);
        return INVALID_HANDLE_VALUE;
    });
    calls.ReadFile = Entry([](Self& p, HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov) {
        if (p.PortOfHandle(h) == nullptr)
            return p.Below().ReadFile(h, buffer, size, read, ov);
        return OnPort(p, h, [&](FakePort& port) { return ServeRead(port, buffer, size, read); });
    });
    calls.WriteFile = Entry([](Self& p, HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
        if (p.PortOfHandle(h) == nullptr)
            return p.Below().WriteFile(h, buffer, size, written, ov);
        return OnPort(p, h, [&](FakePort& port) { return ServeWrite(port, buffer, size, written); });
    });
    calls.CloseHandle = Entry([](Self& p, HANDLE h) {
        if (p.PortOfHandle(h) == nullptr)
            return p.Below().CloseHandle(h);
        return OnPort(p, h, [&](FakePort& port) {
            if (port.failClose)
                return kInjectedError;
            ++p.portCloses;
            return DWORD{NO_ERROR};
        });
    });
    calls.GetCommState = Entry([](Self& p, HANDLE h, LPDCB dcb) {
        return OnPort(p, h, [dcb](FakePort& port) {
            if (port.failGetState)
                return kInjectedError;
            *dcb = port.dcb;
            return DWORD{NO_ERROR};
        });
    });
    calls.SetCommState = Entry([](Self& p, HANDLE h, LPDCB dcb) {
        return OnPort(p, h, [dcb](FakePort& port) {
            if (port.failSetState)
                return kInjectedError;
            if (LineSettingsRefused(*dcb) ||
                std::count(port.unsupportedRates.begin(), port.unsupportedRates.end(), dcb->BaudRate) != 0)
                return DWORD{ERROR_INVALID_PARAMETER};
            port.dcb = *dcb;
            return DWORD{NO_ERROR};
        });
    });
    calls.SetCommTimeouts = Entry([](Self& p, HANDLE h, LPCOMMTIMEOUTS timeouts) {
        return OnPort(p, h, [timeouts](FakePort& port) {
            if (port.failTimeouts)
                return kInjectedError;
            port.timeouts = *timeouts;
            return DWORD{NO_ERROR};
        });
    });
    calls.ClearCommError = Entry([](Self& p, HANDLE h, LPDWORD errors, LPCOMSTAT status) {
        return OnPort(p, h, [errors, status](FakePort& port) {
            ++port.clearCalls;
            // Bytes that came with a line error have set its flags by now.
            while (!port.incoming.empty() && port.incoming.front().kind == PortEvent::LineError) {
                port.lineErrors |= port.incoming.front().lineErrors;
                port.incoming.pop_front();
            }
            if (errors != nullptr)
                *errors = port.lineErrors;
            if (status != nullptr)
                *status = COMSTAT{};
            // cbInQue: the bytes received and not yet read, up to the next gap on the line.
            if (status != nullptr && !port.incoming.empty() && port.incoming.front().kind == PortEvent::Data)
                status->cbInQue = static_cast<DWORD>(port.incoming.front().bytes.size());
            port.lineErrors = 0;
            return DWORD{NO_ERROR};
        });
    });
    Os() = calls;
}

FakePort& FakePorts::PortAt(const std::string& devicePath)
{
    std::unique_ptr<FakePort>& slot = m_otherPorts[devicePath];
    if (!slot)
        slot = std::make_unique<FakePort>();
    return *slot;
}

// The default port's handle, and one past it for each other port in the order of their paths.
HANDLE FakePorts::HandleOfPath(const std::string& devicePath)
{
    const auto at = m_otherPorts.find(devicePath);
    const std::intptr_t index = at == m_otherPorts.end() ? 0 : 1 + std::distance(m_otherPorts.begin(), at);
    return reinterpret_cast<HANDLE>(reinterpret_cast<std::intptr_t>(kPortHandle) + index);
}

FakePort* FakePorts::PortOfHandle(HANDLE handle)
{
    const std::intptr_t index =
        reinterpret_cast<std::intptr_t>(handle) - reinterpret_cast<std::intptr_t>(kPortHandle);
    if (index == 0)
        return &port;
    if (index < 0 || index > static_cast<std::intptr_t>(m_otherPorts.size()))
        return nullptr;
    return std::next(m_otherPorts.begin(), index - 1)->second.get();
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
