// The journal of one run: its diagnostic lines, as they go to the debugger output, kept in
// a file for the technician who supports the operator, with the result as the last line.
// The lines name no patient. A journal that cannot be written changes nothing of the run.
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "winfw/Diag.h"
#include "winfw/Handle.h"
#include "winfw/HeldFolder.h"

// The journals' folder of the account the process runs as, held open with its parent
// "Orvane" for as long as a run uses it: while held, neither can be replaced by a junction
// that would steer the journals' writes and deletes elsewhere.
class JournalFolder {
public:
    bool IsHeld() const { return m_journal.IsHeld(); }
    const std::wstring& Path() const { return m_path; }
    // The held folder's final path, to which every journal pruned must belong.
    const std::wstring& FinalPath() const { return m_finalPath; }
    // Why no journal is kept, naming the folder and its owner's SID; empty when held.
    const std::string& Refusal() const { return m_refusal; }

private:
    friend std::shared_ptr<const JournalFolder> OpenJournalFolder();
    HeldObject m_orvane;
    HeldObject m_journal;
    std::wstring m_path;
    std::wstring m_finalPath;
    std::string m_refusal;
};

// "%ProgramData%\Orvane\Journal" for LocalSystem, "%LOCALAPPDATA%\Orvane\Journal" for
// every other account (whose user is a trusted owner there), each folder made with an
// explicit owner and protected DACL when missing. Never null; not held when a folder fails
// the rule or cannot be had.
std::shared_ptr<const JournalFolder> OpenJournalFolder();

// "YYYYMMDD-HHMMSS-COMn.log", or "...-COMn-K.log" for the K-th file of the same name
// (K from 2); only letters and digits of the port name are kept.
std::string JournalFileName(const SYSTEMTIME& start, const std::string& portName, int attempt);

// Whether `name` is of the form JournalFileName gives, and of no other.
bool IsJournalName(const std::wstring& name);

// "HH:MM:SS.mmm TEXT\r\n".
std::string JournalLine(const SYSTEMTIME& at, const char* text);

class RunJournal : public LineSink {
public:
    // Kept in the directory: the 30 newest files, and every file of the last 30 days up to
    // 1000 in all, so that a depot's boxes of readers keep their journals for a month.
    static constexpr std::size_t kKeptFiles = 30;
    static constexpr int kKeptDays = 30;
    static constexpr std::size_t kMostFiles = 1000;

    // Opens a new journal in `folder` for a run started now on `portName`; with no folder,
    // or one not held or that cannot be written, the journal stays closed.
    RunJournal(const JournalFolder* folder, const std::string& portName);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    void Line(const char* text) override;
    bool IsOpen() const { return m_file.IsValid(); }
    const std::string& Path() const { return m_path; }

private:
    void DeleteOldest(const JournalFolder& folder);

    ScopedHandle m_file;
    std::string m_path;
};
