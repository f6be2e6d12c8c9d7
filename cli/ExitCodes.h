// OrvaneCli's exit codes. The numbers are a contract with the technicians' scripts and the
// README's tables: they never change.
#pragma once
#include "engine/RunResult.h"
#include "terminal/DownloadResult.h"

// What a command exits with: one of the console's own codes, or the result of the run or
// of the download it performed, whose numbers pass through as they are.
class ExitStatus {
public:
    // The console's own codes.
    static const ExitStatus Done, Failed, BadArguments;
    // `send`: the announce failed, or the reader refused the authorisation.
    static const ExitStatus AnnounceFailed, AuthorisationRefused;
    // `check` and `send`: no reader answered on the port.
    static const ExitStatus ReaderNotFound;
    // `update --report` or `--record`: every run succeeded, but the report or the record
    // could not be written.
    static const ExitStatus ReportNotWritten;
    // `check` and `update`: started in a folder that holds no package's catalogue.
    static const ExitStatus NotAPackageFolder;
    // `update`: Ctrl+C or Ctrl+Break before any run announced a file; nothing was sent.
    static const ExitStatus Interrupted;

    static constexpr ExitStatus OfRun(RunResult result) { return ExitStatus(result); }
    static constexpr ExitStatus OfDownload(DownloadResult result) { return ExitStatus(result); }
    constexpr int Code() const { return m_code; }

private:
    explicit constexpr ExitStatus(int code) : m_code(code) {}

    int m_code;
};

inline constexpr ExitStatus ExitStatus::Done{0}, ExitStatus::Failed{1},
    ExitStatus::BadArguments{2}, ExitStatus::AnnounceFailed{20},
    ExitStatus::AuthorisationRefused{21}, ExitStatus::ReaderNotFound{30},
    ExitStatus::ReportNotWritten{31}, ExitStatus::NotAPackageFolder{32},
    ExitStatus::Interrupted{33};

// A run's result passes through as the exit code: it must never be read as one of these.
static_assert(kLastRunResult < ExitStatus::ReaderNotFound.Code(),
              "run results stay below the console's own codes");
