#include "FakeConsole.h"

#include <algorithm>

#include "winfw/Text.h"

namespace {

HANDLE const kStandardError = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFE0012));

// GetConsoleMode and WriteConsole fail with ERROR_INVALID_HANDLE on a handle that is no
// console (WriteConsole's page: "fails if it is used with a standard handle that is
// redirected to a file").
bool NoConsole()
{
    if (!FakeMessages::Current().console.redirected)
        return false;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

} // namespace

FakeMessages::FakeMessages()
{
    using Self = FakeMessages;
    OsCalls calls = Below();
    calls.MessageBoxA = Entry([](Self& m, HWND, LPCSTR text, LPCSTR, UINT type) {
        m.boxes.push_back({text ? text : "", type});
        return IDOK;
    });
    calls.OutputDebugStringA = Entry([](Self& m, LPCSTR line) { m.lines.push_back(line ? line : ""); });
    // Standard error's calls take no lock of the layer's: a blocked write holds no run.
    calls.GetStdHandle = [](DWORD which) {
        return which == STD_ERROR_HANDLE ? kStandardError : RealOsCalls().GetStdHandle(which);
    };
    calls.WriteFile = [](HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov) -> BOOL {
        if (h != kStandardError)
            return Current().Below().WriteFile(h, buffer, size, written, ov);
        *written = size;
        return Current().console.Write(static_cast<const char*>(buffer), size);
    };
    calls.GetConsoleMode = [](HANDLE handle, LPDWORD mode) -> BOOL {
        if (handle != kStandardError)
            return RealOsCalls().GetConsoleMode(handle, mode);
        if (NoConsole())
            return FALSE;
        *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
        return TRUE;
    };
    calls.WriteConsoleW = [](HANDLE handle, const VOID* units, DWORD count, LPDWORD written,
                             LPVOID reserved) -> BOOL {
        if (handle != kStandardError)
            return RealOsCalls().WriteConsoleW(handle, units, count, written, reserved);
        if (NoConsole())
            return FALSE;
        Current().console.WriteUnits(static_cast<const wchar_t*>(units), count);
        if (written != nullptr)
            *written = count;
        return TRUE;
    };
    Os() = calls;
}

bool FakeMessages::Logged(const std::string& line) const
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool FakeMessages::LoggedThen(const std::string& line, const std::string& next) const
{
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i] == line && lines[i + 1] == next)
            return true;
    return false;
}

void FakeConsole::Release()
{
    {
        Guard hold(m_lock);
        m_blocked = false;
    }
    m_released.notify_all();
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
