// One event in the Application log for each reader's update, where the administrator's
// tools collect it. Source "Orvane", event id 1000 + the run's result.
#pragma once
#include <windows.h>

#include "Report.h"

// The message table holds one text per id from 1000 to 1029: run results stay below the
// console's own codes (30 and up).
constexpr DWORD kRunEventBase = 1000;

struct RunEventKind {
    WORD type;  // EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE
    DWORD id;
};

// Information for success, a warning for what the administrator's table says to retry later
// (no reader, a silent reader, a busy port, a reader unplugged), an error for the others.
RunEventKind RunEventOf(RunResult result);

// Writes the run's event: its port, model, result, the operator's message and the journal's
// path. The source's key is `register`'s alone: a run never writes it. Nothing that fails
// here changes the run.
void WriteRunEvent(const PortRun& run) noexcept;
