#include "RunEvent.h"

#include <string>

#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

constexpr wchar_t kSourceName[] = L"Orvane";

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

std::wstring OrDash(const std::wstring& text) { return text.empty() ? L"-" : text; }

// Under the source `register` made; where there is none, Windows writes the event all the
// same and the viewer shows its inserted texts whole.
void Report(const PortRun& run)
{
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
        OrDash(AnsiToWide(run.record.journal)),
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
        Report(run);
    } catch (...) {
        // Out of memory for a few texts: the run stands as it ended, without its event.
    }
}
