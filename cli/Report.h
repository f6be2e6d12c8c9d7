// The machine-readable report of `update --report`: what a deployment tool collects.
#pragma once
#include <string>
#include <vector>

#include "engine/RunResult.h"
#include "engine/UpdateRun.h"

// Local time in ISO 8601 with its offset from UTC: "2026-12-08T09:30:00+01:00"; UTC
// ("2026-12-08T08:30:00Z") when the zone cannot give the local time.
std::string IsoLocalNow();

// One reader's run, as the report and the result lines tell it.
struct PortRun {
    std::string portText;  // as named, or as the port list shows it
    std::string port;      // "COMn"
    RunResult result = RUN_DOWNLOAD_UNDEFINED;
    std::string message;   // the operator's text, UTF-8
    std::string started;
    std::string finished;
    RunRecord record;
};

struct UpdateReport {
    std::string package;   // the package directory, absolute
    std::string started;
    std::string finished;
    int result = 0;        // the command's exit code
    std::vector<PortRun> runs;
};

// The report as UTF-8 JSON text.
std::string ReportJson(const UpdateReport& report);

// Writes the report to `path` through a temporary file beside it, renamed into place, so
// that nobody reads half a report; false when it could not be written whole.
bool WriteReport(const std::string& path, const UpdateReport& report);
