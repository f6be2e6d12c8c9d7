#include "RunEvent.h"

#include <string>

#include "winfw/Handle.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

constexpr wchar_t kSourceName[] = L"Orvane";

struct EventSource : NullIsEmpty<HANDLE> {
    static void Close(HANDLE source) { Os().DeregisterEventSource(source); }
};

std::wstring OrDash(const std::wstring& text) { return text.empty() ? L"-" : text; }

// Under the source `register` made; where there is none, Windows writes the event all the
// same and the viewer shows its inserted texts whole.
void Report(const PortRun& run)
{
    Owned<HANDLE, EventSource> source(Os().RegisterEventSourceW(nullptr, kSourceName));
    if (source.Get() == nullptr)
        return;
    RunEventKind kind = RunEventOf(run.result);
    // A success as SYSTEM from a package users may change is for the administrator to see.
    if (run.packageWritable && kind.type == EVENTLOG_INFORMATION_TYPE)
        kind.type = EVENTLOG_WARNING_TYPE;
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
        Report(run);
    } catch (...) {
        // Out of memory for a few texts: the run stands as it ended, without its event.
    }
}
