// OrvaneCli's exit codes. The numbers are a contract with the technicians' scripts and the
// README's tables: they never change.
#pragma once
#include "engine/RunResult.h"
#include "terminal/DownloadResult.h"

// The console's own codes.
enum class ExitCode : int {
    Done = 0,
    Failed = 1,
    BadArguments = 2,
    // `send`: the announce failed, or the reader refused the authorisation.
    AnnounceFailed = 20,
    AuthorisationRefused = 21,
    // `check` and `send`: no reader answered on the port.
    ReaderNotFound = 30,
    // `update --report` or `--record`: every run succeeded, but the report or the record
    // could not be written.
    ReportNotWritten = 31,
    // `check` and `update`: started in a folder that holds no package's catalogue.
    NotAPackageFolder = 32,
};

// A run's result passes through as the exit code: it must never be read as one of these.
static_assert(kLastRunResult < static_cast<int>(ExitCode::ReaderNotFound),
              "run results stay below the console's own codes");

// What a command exits with: one of the console's own codes, or the result of the run or
// of the download it performed, whose numbers pass through as they are.
class ExitStatus {
public:
    constexpr ExitStatus(ExitCode code) : m_code(static_cast<int>(code)) {}
    constexpr ExitStatus(RunResult result) : m_code(result) {}
    constexpr ExitStatus(DownloadResult result) : m_code(result) {}
    constexpr int Code() const { return m_code; }

private:
    int m_code;
};
