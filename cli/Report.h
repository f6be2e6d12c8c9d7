// The machine-readable report of `update --report`: what a deployment tool collects.
#pragma once
#include <string>
#include <vector>

#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "winfw/HeldFolder.h"

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
    // Run as SYSTEM, it sent from a package that users may change.
    bool packageWritable = false;
};

struct UpdateReport {
    std::string package;   // the package directory, absolute
    std::string started;
    std::string finished;
    int result = 0;        // the command's exit code
    bool watching = false; // the command goes on: its result is not known yet
    bool packageWritable = false;  // a run as SYSTEM found the package open to users
    std::vector<PortRun> runs;
};

// The report as UTF-8 JSON text.
std::string ReportJson(const UpdateReport& report);

// One reader as `check` found it: the verdict the update would reach before sending
// anything, and what it read.
struct CheckRun {
    std::string portText;  // as named, or as the port list shows it
    std::string port;      // "COMn"
    int verdict = 0;       // 0 it would be updated; a run result, or the console's 30
    std::string reason;    // the verdict in words, UTF-8
    std::string model;     // empty when no description was read
    std::string options;   // the 13 option bytes in hex; empty with the model
    std::vector<std::string> applications;  // ANSI, as the reader named them
    bool applicationsRead = false;
    std::vector<RunRecord::File> files;     // what the update would send, in its order
};

// `check`'s report: update's document, the runs as `check` tells them.
std::string CheckReportJson(const UpdateReport& head, const std::vector<CheckRun>& runs);

// For a LocalSystem run, holds the folder of `path` open once it passes the folder rule,
// from before the first run until the report is written; false with the reason when it
// does not. Any other account's folder is neither judged nor held.
bool HoldReportFolder(const std::string& path, HeldObject& folder, std::string& reason);

// Writes the report to `path` through a temporary file beside it, of a name nobody can
// guess and made new, renamed into place, so that nobody reads half a report and nobody
// gets a report they prepared; a LocalSystem or elevated run's report is SYSTEM's and
// Administrators' alone. False when it could not be written whole: the temporary file is
// then gone.
bool WriteReport(const std::string& path, const UpdateReport& report);
bool WriteCheckReport(const std::string& path, const UpdateReport& head,
                      const std::vector<CheckRun>& runs);
