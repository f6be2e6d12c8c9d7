// The journal of one run: its diagnostic lines, as they go to the debugger output, kept in
// a file for the technician who supports the operator, with the result as the last line.
// The lines name no patient. A journal that cannot be written changes nothing of the run.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "winfw/Diag.h"
#include "winfw/Handle.h"

// "%LOCALAPPDATA%\Orvane\Journal", or "%ProgramData%\Orvane\Journal" for LocalSystem,
// made if missing; empty when it cannot be had.
std::string JournalDirectory();

// "YYYYMMDD-HHMMSS-COMn.log", or "...-COMn-K.log" for the K-th file of the same name
// (K from 2); only letters and digits of the port name are kept.
std::string JournalFileName(const SYSTEMTIME& start, const std::string& portName, int attempt);

// "HH:MM:SS.mmm TEXT\r\n".
std::string JournalLine(const SYSTEMTIME& at, const char* text);

class RunJournal : public LineSink {
public:
    // Kept in the directory: the 30 newest files, and every file of the last 30 days up to
    // 1000 in all, so that a depot's boxes of readers keep their journals for a month.
    static constexpr std::size_t kKeptFiles = 30;
    static constexpr int kKeptDays = 30;
    static constexpr std::size_t kMostFiles = 1000;

    // Opens a new journal in `directory` for a run started now on `portName`; with an
    // empty directory, or one that cannot be written, the journal stays closed.
    RunJournal(const std::string& directory, const std::string& portName);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    void Line(const char* text) override;
    bool IsOpen() const { return m_file.IsValid(); }
    const std::string& Path() const { return m_path; }

private:
    void DeleteOldest(const std::string& directory);

    ScopedHandle m_file;
    std::string m_path;
};
