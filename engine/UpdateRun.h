// One update of one reader, from the search to the final restart, written once for every
// front end: the progress window and the console both bind a RunView. The run reaches the
// reader through its CTerminal and the operating system only through the OS seam.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RunResult.h"
#include "package/Models.h"
#include "terminal/Terminal.h"
#include "winfw/Strings.h"

// What the run shows while it works. Every call completes before the run goes on.
class JournalFolder;

class RunView {
public:
    virtual ~RunView() = default;
    virtual void SetStepText(const CString& text) = 0;
    virtual void SetFileText(const CString& text) = 0;
    // The total bar: range 0 to `count` files, step, position, one step per file sent.
    virtual void SetTotalRange(int count) = 0;
    virtual void SetTotalStep(int step) = 0;
    virtual void SetTotalPosition(int position) = 0;
    virtual void StepTotal() = 0;
    // The file bar: a new module is being sent, and the current file's percentage (0 to
    // 100). Called from inside the transfer: a front end only records or posts here.
    virtual void SetModule(const CString& module) = 0;
    virtual void SetFilePercent(int percent) = 0;
    // A message box with the error icon, shown by the run itself.
    virtual void ShowErrorBox(const CString& text) = 0;
    // The run is over: `result` is final; the front end closes.
    virtual void EndRun(RunResult result) = 0;

    // What a front end may show beyond the window's texts and bars. A search for the reader
    // starts on the port `portName` (empty: at the reader's USB position) and lasts until
    // SearchEnded.
    virtual void SearchStarting(const CString& /*portName*/) {}
    virtual void SearchEnded() {}
    // File `number` of `count` is being sent: its name, its module and its size (-1 when
    // it could not be read).
    virtual void FileStarting(int /*number*/, int /*count*/, const CString& /*file*/,
                              const CString& /*module*/, long long /*bytes*/) {}
    // The reader restarts after its loader's files: `elapsedMs` of the `totalMs` wait have
    // passed; the wait is over when they are equal. The file bar moves with it meanwhile.
    virtual void RestartWaiting(unsigned long /*elapsedMs*/, unsigned long /*totalMs*/) {}
    // The run is about to announce its first file: from here on the reader is changed. A
    // front end whose command is being ended holds the run here, so nothing is sent.
    virtual void SendingStarts() {}
};

// What the identification of a reader found, for the run and for `check`.
struct Identification {
    enum class Outcome { Known, Unreadable, UnknownModel, CatalogueRefused, InvalidFileName };
    Outcome outcome = Outcome::Unreadable;
    TerminalDescription description = {};
    const ReaderModel* model = nullptr;  // null for an unreadable or unknown reader
    PackageRefusal refusal;              // why the catalogue refused the reader
    CString invalidFile;                 // the load-list entry that is not a package file
};

// Reads the reader's description, recognises its model, checks the model's catalogue and
// the names of its load list, and logs as the run does. The port stays open, and no file
// of the list has been touched.
Identification IdentifyReader(CTerminal& terminal);

// What a run did, for a report: filled as the run goes, complete once it has ended.
struct RunRecord {
    struct File {
        std::string name;    // as the load list names it (ANSI)
        std::string module;
        long long bytes = -1;   // its size; -1 when it could not be read
        bool sent = false;      // its download completed
        double seconds = -1.0;  // its transfer time; -1 until it was sent
        std::string sha256;     // of the bytes sent, lowercase hex; empty until it was sent
    };
    // What the reader said of itself, at the start or after its final restart.
    struct Reader {
        std::string model;        // its three characters
        std::string description;  // the 97 bytes, lowercase hex
        std::string options;      // the option bytes 27 to 39, lowercase hex
        std::vector<std::string> applications;
    };
    std::string model;             // the three characters the reader gave; empty before
    std::string description;       // its 97 bytes in lowercase hex; empty before
    std::string portAfterRestart;  // "COMn" where the reader came back, when it moved
    // The reader read again after its final restart: set only when it answered as itself.
    bool verified = false;
    std::optional<Reader> after;
    std::vector<File> files;       // the load list in sending order, once it is known
    std::string journal;           // the run's journal file; empty when none was written
    std::string journalRefused;    // why none was kept: the folder, its owner and the fault
};

// A file of the load list as the record names it before anything is sent: its module as its
// announce will name it (from the list's upper-case copy, taken first) and its size.
RunRecord::File ListedFileRecord(const CTerminal& terminal, const CString& file);

// How a front end wants the run made.
struct RunSettings {
    // After the final restart, wait for the reader, find it again and read it: the run
    // succeeds only when the same reader answers.
    bool verify = false;
};

class UpdateRun : private ProgressSink {
public:
    enum State { kApplications = 1, kConstraints, kAnnounce, kAuthorisation, kDownload,
                 kActivation, kFinalRestart };

    // The restart wait: 40 slices of 750 ms, the file bar moving from 0 to 97 %.
    static constexpr int kRestartSlices = 40;
    static constexpr unsigned long kRestartSliceMs = 750;

    UpdateRun(CTerminal& terminal, const CString& portText, RunView& view);
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // Where the run keeps its journal, held by the caller for the whole run; none without
    // it.
    void SetJournalFolder(std::shared_ptr<const JournalFolder> folder) { m_journalFolder = std::move(folder); }
    void SetSettings(const RunSettings& settings) { m_settings = settings; }

    // Runs the update to its end and tells the view; returns the run result.
    RunResult Execute();

    const RunRecord& Record() const { return m_record; }

private:
    // The terminal's progress, handed to the view.
    void OnModule(const CString& module) override { m_view.SetModule(module); }
    void OnPercent(int percent) override { m_view.SetFilePercent(percent); }

    // What a step gives back: nothing while the run goes on, else the result that ends it.
    using Step = std::optional<RunResult>;
    Step Identify();
    // The reader searched on `portText`, the view told while it lasts.
    bool Search(const CString& portText);
    void PrepareLoadLoop();
    Step RunState();
    Step ReadApplications();
    Step TestConstraints();
    Step Announce();
    Step Authorise();
    Step Download();
    // The file in hand (the record's entry after the files sent) was sent, in `milliseconds`.
    void RecordSent(ULONGLONG milliseconds);
    Step Activate();
    Step FinalRestart();
    // The reader restarted at the end: found again and read, or the result that ends the run.
    Step VerifyAfterRestart();
    // The reader searched on its port, then at its USB position; false when neither answers.
    bool FindAgain();
    // The reader not found or not read after its final restart.
    RunResult NotBack();
    // The record's `after`: what the reader said of itself once back.
    void RecordAfter(const TerminalDescription& now, const CStringList& applications);
    // The loader's own files are in: restart the reader once and find it again.
    Step RestartAfterLoader();
    void WaitForRestart();
    // A USB reader may come back under another COM number: the port whose device now sits
    // where the reader sat at the start is searched once.
    bool FindAtFirstPosition();
    // Whether the device found on another port describes itself as the reader did at the
    // start: the same model and the same hardware options.
    bool IsTheSameReader();
    RunResult RunSteps();
    RunResult NotDetected();
    // A step failed: `result`, or RUN_READER_UNPLUGGED when the port has gone under it.
    RunResult Fail(RunResult result);
    // The port closed and the window saying the update failed.
    RunResult CriticalError(RunResult result);
    // RUN_READER_UNPLUGGED when the port has gone, else `result`.
    RunResult UnpluggedOr(RunResult result);
    // Closes the port, journals the result and tells the view.
    RunResult Finish(RunResult result);

    CTerminal& m_terminal;
    CString m_portText;
    RunView& m_view;
    std::shared_ptr<const JournalFolder> m_journalFolder;
    RunSettings m_settings;

    CString m_file;
    CString m_module;
    int m_filesSent = 0;
    bool m_sending = false;  // the view was told the first announce comes
    State m_state = kApplications;
    // What the reader said of itself at the start of the run.
    TerminalDescription m_description = {};
    CStringList m_applications;
    // Where the first search found the reader's device in the USB tree, if it did.
    bool m_positionKnown = false;
    std::uint8_t m_hub = 0;
    std::uint8_t m_hubPort = 0;
    RunRecord m_record;
};
