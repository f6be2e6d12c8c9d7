#include "RunEvent.h"

#include <string>

#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

constexpr wchar_t kSourceName[] = L"Orvane";
constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvane";
// The longest path GetModuleFileNameW can give.
constexpr DWORD kLongestPath = 32768;

class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey()
    {
        if (m_key != nullptr)
            Os().RegCloseKey(m_key);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    PHKEY Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

class ScopedEventSource {
public:
    explicit ScopedEventSource(HANDLE source) : m_source(source) {}
    ~ScopedEventSource()
    {
        if (m_source != nullptr)
            Os().DeregisterEventSource(m_source);
    }
    ScopedEventSource(const ScopedEventSource&) = delete;
    ScopedEventSource& operator=(const ScopedEventSource&) = delete;

    HANDLE Get() const { return m_source; }

private:
    HANDLE m_source;
};

// The running program's full path; empty when it cannot be read whole.
std::wstring ProgramPath()
{
    for (DWORD size = MAX_PATH; size <= kLongestPath; size *= 2) {
        std::wstring path(size, L'\0');
        const DWORD length = Os().GetModuleFileNameW(nullptr, &path[0], size);
        if (length == 0)
            return std::wstring();
        if (length < size) {
            path.resize(length);
            return path;
        }
    }
    return std::wstring();
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return Os().RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               bytes) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return Os().RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS;
}

// The event viewer reads the texts from the program named here. A standard user, or an
// administrator whose token UAC filters, is refused the machine's key: the event is then
// written all the same, without its texts.
void RegisterSource()
{
    const std::wstring program = ProgramPath();
    if (program.empty())
        return;
    ScopedKey key;
    if (Os().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return;
    if (SetText(key.Get(), L"EventMessageFile", program))
        SetNumber(key.Get(), L"TypesSupported",
                  EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE);
}

std::wstring OrDash(const std::wstring& text) { return text.empty() ? L"-" : text; }

void RegisterAndReport(const PortRun& run)
{
    RegisterSource();
    ScopedEventSource source(Os().RegisterEventSourceW(nullptr, kSourceName));
    if (source.Get() == nullptr)
        return;
    const RunEventKind kind = RunEventOf(run.result);
    // The message table's %1 to %5.
    const std::wstring texts[] = {
        OrDash(AnsiToWide(run.port)),
        OrDash(AnsiToWide(run.record.model)),
        std::to_wstring(static_cast<int>(run.result)),
        OrDash(Utf8ToWide(run.message)),
        OrDash(AnsiToWide(run.record.journal.empty() && !run.record.journalRefused.empty()
                              ? "not kept: " + run.record.journalRefused
                              : run.record.journal)),
    };
    constexpr WORD kCount = sizeof texts / sizeof texts[0];
    const wchar_t* strings[kCount];
    for (WORD i = 0; i < kCount; ++i)
        strings[i] = texts[i].c_str();
    Os().ReportEventW(source.Get(), kind.type, 0, kind.id, nullptr, kCount, 0, strings, nullptr);
}

} // namespace

RunEventKind RunEventOf(RunResult result)
{
    const DWORD id = kRunEventBase + static_cast<DWORD>(result);
    switch (result) {
    case RUN_SUCCEEDED: return {EVENTLOG_INFORMATION_TYPE, id};
    case RUN_NO_PORT:
    case RUN_READER_UNREACHABLE:
    case RUN_PORT_BUSY:
    case RUN_READER_UNPLUGGED: return {EVENTLOG_WARNING_TYPE, id};
    default: return {EVENTLOG_ERROR_TYPE, id};
    }
}

void WriteRunEvent(const PortRun& run) noexcept
{
    try {
        RegisterAndReport(run);
    } catch (...) {
        // Out of memory for a few texts: the run stands as it ended, without its event.
    }
}
