#include "UpdateCommand.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "CommandLine.h"
#include "ExitCodes.h"
#include "ConsoleWriter.h"
#include "MachineRecord.h"
#include "PackageTrust.h"
#include "Progress.h"
#include "Refusals.h"
#include "Report.h"
#include "RunEvent.h"
#include "Watcher.h"
#include "app/PortQuery.h"
#include "app/PortRules.h"
#include "engine/Journal.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "portlib/Tessock.h"
#include "terminal/Protocol.h"
#include "terminal/Terminal.h"
#include "winfw/Handle.h"
#include "winfw/KeepAwake.h"
#include "winfw/KnownPlaces.h"
#include "winfw/OsSeam.h"
#include "winfw/SystemLibrary.h"

namespace {

constexpr std::uint32_t kDeviceDescription = 0;  // SPDRP_DEVICEDESC

std::string FileStartingLine(int number, int count, const std::string& file,
                             const std::string& module, long long bytes)
{
    std::string line = "file " + std::to_string(number) + "/" + std::to_string(count) + ": " +
                       AnsiToUtf8(file) + " (" + AnsiToUtf8(module) + ")";
    return bytes >= 0 ? line + ", " + std::to_string(bytes) + " bytes" : line;
}

// The progress window's texts and bars as console lines, each stamped with the seconds
// since the run started, so a technician sees how long each step took. Runs side by side
// draw no file bar: their lines would tear it; nor does a standard error that is no console.
class ConsoleRunView : public RunView {
public:
    // `prefix` starts the lines written for the run from other threads; `trust` judges
    // each file before it is sent, `writable` set when one may be changed by users.
    ConsoleRunView(bool drawBar, std::string prefix, const PackageTrust& trust, bool& writable)
        : m_start(WallSeconds()), m_drawBar(drawBar), m_prefix(std::move(prefix)),
          m_trust(trust), m_writable(writable)
    {
    }

    void SetStepText(const CString& text) override { Line("step", text); }
    void SetFileText(const CString& text) override { Line("file", text); }
    void SetTotalRange(int count) override { m_count = count; }
    void SetTotalStep(int step) override { m_step = step; }
    void SetTotalPosition(int position) override { m_position = position; }
    void StepTotal() override
    {
        m_position += m_step;
        if (m_position > m_count)
            m_position = m_count;
        char text[64];
        std::snprintf(text, sizeof text, "%d/%d files", m_position, m_count);
        Line("total", text);
    }
    // The bar names the file it shows, not the module that files share.
    void SetModule(const CString& module) override
    {
        if (m_drawBar)
            m_bar.Module(m_file.empty() ? module : m_file);
    }
    void SetFilePercent(int percent) override
    {
        if (m_drawBar && !m_waiting)
            m_bar.Percent(percent);
    }
    void SearchStarting(const CString& portName) override
    {
        m_notice.reset();
        m_notice = std::make_unique<SlowWaitNotice>(m_prefix + LookingForReaderLine(portName));
    }
    void SearchEnded() override { m_notice.reset(); }
    void FileStarting(int number, int count, const CString& file, const CString& module,
                      long long bytes) override
    {
        m_file = file;
        Stamped(FileStartingLine(number, count, file, module, bytes));
        SayIfWritable(file);
    }
    void RestartWaiting(unsigned long elapsedMs, unsigned long totalMs) override
    {
        ShowRestartWait(elapsedMs, totalMs);
    }
    void SendingStarts() override;
    void ShowErrorBox(const CString& text) override { Line("box", text); }
    void EndRun(RunResult result) override
    {
        char text[64];
        std::snprintf(text, sizeof text, "%d (%s)", static_cast<int>(result),
                      result == RUN_SUCCEEDED ? "success" : "failure");
        Line("result", text);
    }

private:
    // Sent all the same: the package is what the administrator deployed.
    void SayIfWritable(const CString& file)
    {
        const std::string fault = m_trust.FileFault(file);
        if (fault.empty())
            return;
        m_writable = true;
        const std::string line = WritablePackageLine(AnsiToUtf8(file), fault);
        Stamped(line);
        LogLine("%s", line.c_str());
    }

    void Line(const char* what, const std::string& ansi)
    {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%7.2f s] %s: ", WallSeconds() - m_start, what);
        WriteStderrLine(stamp + AnsiToUtf8(ansi));
    }

    void Stamped(const std::string& utf8)
    {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%7.2f s] ", WallSeconds() - m_start);
        WriteStderrLine(stamp + utf8);
    }

    // The restart wait as a wait: drawn in place each second for one reader, said once
    // among several readers' lines. The file bar stays still meanwhile.
    void ShowRestartWait(unsigned long elapsedMs, unsigned long totalMs)
    {
        const bool starting = !m_waiting;
        m_waiting = elapsedMs < totalMs;
        const std::string total = std::to_string(totalMs / 1000) + " s";
        ConsoleWriter* console = ConsoleWriter::Bound();
        if (!m_drawBar || console == nullptr) {
            if (starting && m_waiting)
                Stamped("reader restarting: waiting " + total);
            return;
        }
        const unsigned long second = elapsedMs / 1000;
        if (starting || second != m_waitSecond || !m_waiting)
            console->DrawBar("reader restarting: " + std::to_string(second) + " of " + total);
        m_waitSecond = second;
        if (!m_waiting)
            console->EndBar();
    }

    double m_start;
    bool m_drawBar;
    int m_count = 100;
    int m_step = 10;
    int m_position = 0;
    ConsoleBar m_bar;
    std::string m_prefix;
    const PackageTrust& m_trust;
    bool& m_writable;
    CString m_file;           // the file being sent, once one is
    bool m_waiting = false;   // the reader's restart is being waited for
    unsigned long m_waitSecond = 0;
    std::unique_ptr<SlowWaitNotice> m_notice;
};

// Whether the run ended at its first search: the reader never described itself.
bool NeverFound(const PortRun& run)
{
    return run.record.model.empty() &&
           (run.result == RUN_READER_UNREACHABLE || run.result == RUN_PORT_BUSY);
}

// One reader's whole update, on the calling thread, with its own terminal and journal;
// `prefix` starts its lines.
void RunOnPort(PortRun& run, bool drawBar, const std::string& prefix,
               const std::shared_ptr<const JournalFolder>& journals, const PackageTrust& trust,
               const RunSettings& settings)
{
    run.started = IsoLocalNow();
    try {
        CTerminal terminal;
        ConsoleRunView view(drawBar, prefix, trust, run.packageWritable);
        UpdateRun update(terminal, run.portText, view);
        update.SetJournalFolder(journals);
        update.SetSettings(settings);
        run.result = update.Execute();
        run.record = update.Record();
        if (NeverFound(run))
            Say(SearchRefusal("update", terminal, run.portText, ExitStatus::Failed));
    } catch (...) {
        // The run ends its own failures; what escapes it, of any type, leaves the outcome
        // unknown.
        run.result = RUN_DOWNLOAD_UNDEFINED;
    }
    run.finished = IsoLocalNow();
}

// What the event log is told when no reader was found to run on.
PortRun NoReaderRun()
{
    PortRun run;
    run.result = RUN_NO_PORT;
    run.message = AnsiToUtf8(ResultBoxText(RUN_NO_PORT));
    return run;
}

struct Lane {
    PortRun* run;
    bool drawBar;
    const std::shared_ptr<const JournalFolder>* journals;
    const PackageTrust* trust;
    const RunSettings* settings;
};

// The top of a run's own thread: nothing escapes it.
DWORD WINAPI RunThread(LPVOID parameter)
{
    const Lane& lane = *static_cast<const Lane*>(parameter);
    try {
        const std::string text = lane.run->port + ": ";
        LinePrefix prefix(text);
        RunOnPort(*lane.run, lane.drawBar, text, *lane.journals, *lane.trust, *lane.settings);
    } catch (...) {
        lane.run->result = RUN_DOWNLOAD_UNDEFINED;
    }
    return 0;
}

// Runs side by side, one thread each, every line on standard error naming its port. A run
// whose thread cannot be made ends as undefined; the others go on and are waited for.
void RunSideBySide(std::vector<PortRun>& runs, const std::shared_ptr<const JournalFolder>& journals,
                   const PackageTrust& trust, const RunSettings& settings)
{
    // Everything is allocated before the first thread starts: nothing can throw once one
    // runs.
    std::vector<Lane> lanes;
    lanes.reserve(runs.size());
    for (PortRun& run : runs)
        lanes.push_back(
            {&run, runs.size() == 1 && StderrDrawsInPlace(), &journals, &trust, &settings});
    std::vector<ScopedHandle> threads(runs.size());
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        threads[i].Reset(Os().CreateThread(nullptr, 0, RunThread, &lanes[i], 0, nullptr));
        if (threads[i].IsValid())
            continue;
        PortRun& run = *lanes[i].run;
        run.result = RUN_DOWNLOAD_UNDEFINED;
        try {
            run.started = run.finished = IsoLocalNow();
            WriteStderrLine(run.port + ": update: the run could not be started (no thread)");
        } catch (...) {
            // Out of memory: the result says enough, and the others are still waited for.
        }
    }
    for (const ScopedHandle& thread : threads)
        if (thread.IsValid())
            ::WaitForSingleObject(thread.Get(), INFINITE);
}

// Whether one of `texts` names the port `port` ("COMn").
bool NamesPort(const std::vector<std::string>& texts, const std::string& port)
{
    return std::any_of(texts.begin(), texts.end(), [&port](const std::string& text) {
        return proto::PortNameOfText(text) == port;
    });
}

// The maker's readers among the port list's `texts`, each port once.
std::vector<std::string> ReadersAmong(const std::vector<std::string>& texts)
{
    std::vector<std::string> readers;
    for (const std::string& text : texts)
        // A port listed twice would be opened by two runs: the second would fail for nothing.
        if (ports::IsReaderEntry(text) && !NamesPort(readers, proto::PortNameOfText(text)))
            readers.push_back(text);
    return readers;
}

// The port texts of the maker's readers in the port list, as the main window builds it.
std::vector<std::string> ReaderEntries(const std::string& command)
{
    std::vector<std::string> texts;
    const PortQuery outcome = CollectPortTexts(texts);
    if (outcome != PortQuery::Listed)
        WriteStderrLine(command + ": the port list could not be read");
    std::vector<std::string> readers = ReadersAmong(texts);
    if (outcome == PortQuery::Listed)
        WriteStderrLine(command + ": " + ports::CountText(texts));
    return readers;
}

// The operator's message on one line, for a line per port.
std::string OnOneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// 0 when every run succeeded, else the first failed run's code, in the ports' order.
int CommandResult(const std::vector<PortRun>& runs)
{
    for (const PortRun& run : runs)
        if (run.result != RUN_SUCCEEDED)
            return run.result;
    return RUN_SUCCEEDED;
}

// Ctrl+C or Ctrl+Break before any run has announced a file ends the command at once: nothing
// was sent, and a technician who named the wrong port or package need not wait for a search
// to end. From the first announce on, readers are being written: stopped then, they would be
// left half-updated, as closing the progress window would leave them, so the console says so
// and the runs go on to their end. The console's handler runs on a thread of its own and may
// outlive the command's objects: what it reads is the class's own.
class HoldInterrupts {
public:
    HoldInterrupts()
    {
        Set(false);
        ::SetConsoleCtrlHandler(OnInterrupt, TRUE);
    }
    ~HoldInterrupts() { ::SetConsoleCtrlHandler(OnInterrupt, FALSE); }
    HoldInterrupts(const HoldInterrupts&) = delete;
    HoldInterrupts& operator=(const HoldInterrupts&) = delete;

    // A run is about to announce its first file: interrupts are held from now on. A run
    // that comes here while the command is being ended waits for the process to end.
    static void SendingStarts()
    {
        std::unique_lock<std::mutex> hold(s_lock);
        if (s_ending) {
            hold.unlock();
            for (;;)
                Os().Sleep(INFINITE);
        }
        s_held = true;
    }
    // The runs have ended: what is left (the report, the record) is not cut short either.
    static void RunsOver() { Set(true); }

private:
    static void Set(bool held)
    {
        std::lock_guard<std::mutex> hold(s_lock);
        s_held = held;
    }

    static bool EndsNow()
    {
        std::lock_guard<std::mutex> hold(s_lock);
        s_ending = !s_held;
        return s_ending;
    }

    static BOOL WINAPI OnInterrupt(DWORD event)
    {
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            return FALSE;
        if (!EndsNow()) {
            WriteStderrLine("update: Ctrl+C is ignored while readers are being updated; "
                            "the update ends by itself");
            return TRUE;
        }
        WriteStderrLine("update: interrupted before anything was sent");
        if (ConsoleWriter* console = ConsoleWriter::Bound())
            console->Drain(2000);
        std::fflush(stdout);
        ::ExitProcess(static_cast<UINT>(ExitStatus::Interrupted.Code()));
    }

    static inline std::mutex s_lock;
    static inline bool s_held = false;    // a run has announced a file, or every run has ended
    static inline bool s_ending = false;  // the command is being ended: no run may announce
};

void ConsoleRunView::SendingStarts() { HoldInterrupts::SendingStarts(); }

// The record's key held for writing, or why the command is refused: an account that may not
// write it (a standard user, an administrator whose token UAC filters) is told before a
// reader is touched, not after an update no tool could detect. Empty once it is held.
std::string OpenRecord(MachineRecord& record, const std::string& name)
{
    const LSTATUS status = record.Open(name);
    if (status == ERROR_SUCCESS)
        return std::string();
    return status == ERROR_ACCESS_DENIED
               ? "access denied (run it as SYSTEM or as an elevated administrator)"
               : "Windows error " + std::to_string(status);
}

// Where the reader on COM `portNumber` sits in the USB tree, asked of the port library;
// false when it cannot tell.
bool UsbPositionOfPort(int portNumber, unsigned char& hub, unsigned char& hubPort)
{
    if (portNumber <= 0 || !CTerminal::UsbLookupCovers(portNumber))
        return false;
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    if (library == nullptr)
        return false;
    auto driverOf =
        BindExport<decltype(&::searchDriverByComBrenix)>(library, "searchDriverByComBrenix");
    auto positionOf =
        BindExport<decltype(&::searchPositionByDriver)>(library, "searchPositionByDriver");
    if (driverOf == nullptr || positionOf == nullptr)
        return false;
    wchar_t key[tessock::kTextUnits] = {};
    if (driverOf(static_cast<unsigned char>(portNumber), key) != 0)
        return false;
    key[tessock::kTextUnits - 1] = L'\0';
    return positionOf(key, &hub, &hubPort) == 0;
}

// The device instance ID of each COM number the port library lists.
std::map<int, std::string> InstanceIdsByPort()
{
    std::map<int, std::string> ids;
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    const auto query = library == nullptr ? nullptr
                                          : BindExport<decltype(&::getPortComAvailable)>(
                                                library, "getPortComAvailable");
    PortTable table;
    std::int32_t count = 0;
    if (query == nullptr || query(table.Rows(), &count, kDeviceDescription) == 0)
        return ids;
    for (int i = 0; i < count && i < tessock::kMaxPortRows; ++i) {
        const PortEntry& row = table.Row(i);
        const std::size_t length = strnlen(row.instanceId, tessock::kInstanceIdSize);
        if (row.portNumber > 0 && length > 0)
            ids[row.portNumber] = std::string(row.instanceId, length);
    }
    return ids;
}

// The maker's readers in the port list, each known by its USB position ("hub 1, port 3"),
// else by its device instance ID, else by its port. `listed` false when the list could not
// be read.
std::vector<WatchEntry> PolledReaders(bool& listed)
{
    std::vector<std::string> texts;
    listed = CollectPortTexts(texts) == PortQuery::Listed;
    const std::vector<std::string> readers = ReadersAmong(texts);
    const std::map<int, std::string> ids =
        readers.empty() ? std::map<int, std::string>() : InstanceIdsByPort();
    std::vector<WatchEntry> entries;
    for (const std::string& text : readers) {
        const std::string port = proto::PortNameOfText(text);
        const int number = proto::PortNumberOfName(port);
        unsigned char hub = 0;
        unsigned char hubPort = 0;
        const auto id = ids.find(number);
        entries.push_back({text, UsbPositionOfPort(number, hub, hubPort)
                                     ? "hub " + std::to_string(hub) + ", port " +
                                           std::to_string(hubPort)
                                 : id != ids.end() ? id->second
                                                   : port});
    }
    return entries;
}

std::uint64_t NowMs() { return Os().GetTickCount64(); }

// "42 s", "1 min 42 s".
std::string DurationText(double seconds)
{
    const long whole = seconds > 0 ? static_cast<long>(seconds + 0.5) : 0;
    const std::string rest = std::to_string(whole % 60) + " s";
    return whole < 60 ? rest : std::to_string(whole / 60) + " min " + rest;
}

// A watched run's line at its end: what it did when it succeeded, its message otherwise.
std::string WatchEndLine(const PortRun& run, double seconds)
{
    const std::string head = run.port + ": result " + std::to_string(static_cast<int>(run.result));
    if (run.result != RUN_SUCCEEDED)
        return head + ", " + OnOneLine(run.message);
    const auto sent = std::count_if(run.record.files.begin(), run.record.files.end(),
                                    [](const RunRecord::File& file) { return file.sent; });
    return head + ", model " + AnsiToUtf8(run.record.model) + ", " + std::to_string(sent) +
           " of " + std::to_string(run.record.files.size()) + " files, " +
           (run.record.verified ? "verified" : "not verified") + ", " + DurationText(seconds);
}

// The watch is asked to end by Ctrl+C, Ctrl+Break or a line "q" on standard input; the
// runs under way go on to their end, as interrupts are held during an update. The console's
// handler and the reading thread may outlive the command's objects: what they set is the
// class's own.
class WatchEnd {
public:
    WatchEnd()
    {
        s_asked = false;
        ::SetConsoleCtrlHandler(OnInterrupt, TRUE);
        // Never waited for: it may sit in its read until the process ends.
        ScopedHandle reader(Os().CreateThread(nullptr, 0, ReadLines, nullptr, 0, nullptr));
        if (!reader.IsValid())
            WriteStderrLine("update: standard input is not read: only Ctrl+C ends the watch");
    }
    ~WatchEnd() { ::SetConsoleCtrlHandler(OnInterrupt, FALSE); }
    WatchEnd(const WatchEnd&) = delete;
    WatchEnd& operator=(const WatchEnd&) = delete;

    static bool Asked() { return s_asked; }

private:
    static void Ask()
    {
        if (!s_asked.exchange(true))
            WriteStderrLine("update: ending: no new reader is started; the running updates "
                            "end by themselves");
    }

    static BOOL WINAPI OnInterrupt(DWORD event)
    {
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            return FALSE;
        Ask();
        return TRUE;
    }

    // The end of standard input is no request: a station started with no input watches on.
    // The handle is read, not the C library's stream, whose lock the process's exit takes.
    static DWORD WINAPI ReadLines(LPVOID)
    {
        const HANDLE input = Os().GetStdHandle(STD_INPUT_HANDLE);
        std::string line;
        char chunk[256];
        DWORD got = 0;
        while (Os().ReadFile(input, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            for (DWORD i = 0; i < got; ++i) {
                if (chunk[i] != '\n') {
                    if (line.size() < 16)
                        line += chunk[i];
                    continue;
                }
                while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                    line.pop_back();
                if (line == "q" || line == "Q") {
                    Ask();
                    return 0;
                }
                line.clear();
            }
        }
        return 0;
    }

    static inline std::atomic<bool> s_asked{false};
};

// One watched reader's run on its own thread.
struct WatchedRun {
    PortRun run;
    std::string key;
    double startedAt = 0;
    Lane lane{};
    ScopedHandle thread;
};

// The depot station: polls the port list each second, starts a run for each reader the
// watcher names, and tells each run's end as it comes, the report rewritten each time.
class DepotStation {
public:
    static constexpr unsigned long kPollMs = 1000;

    DepotStation(const std::string& reportPath, UpdateReport& report, const PackageTrust& trust)
        : m_reportPath(reportPath), m_report(report), m_trust(trust),
          m_journals(OpenJournalFolder())
    {
        m_settings.verify = true;
        if (!m_journals->IsHeld())
            WriteStderrLine("update: no journal is kept: " + AnsiToUtf8(m_journals->Refusal()));
    }

    // Until asked to end; then the running runs are waited for.
    void Watch()
    {
        bool unlisted = false;
        while (!WatchEnd::Asked()) {
            CollectEnded();
            bool listed = true;
            const std::vector<WatchEntry> entries = PolledReaders(listed);
            if (!listed && !unlisted)
                WriteStderrLine("update: the port list could not be read");
            unlisted = !listed;
            for (const WatchStart& start : m_watcher.Poll(entries, NowMs()))
                Start(start);
            Os().Sleep(kPollMs);
        }
        // Looked at often rather than waited for one by one: their ends are told, and the
        // first failure found, in the order they come.
        for (CollectEnded(); !m_running.empty(); CollectEnded())
            Os().Sleep(kPollMs / 5);
    }

    const WatchTally& Tally() const { return m_tally; }

private:
    void Start(const WatchStart& start)
    {
        // In its place before its thread starts: nothing can throw once it runs.
        m_running.push_back(std::make_unique<WatchedRun>());
        WatchedRun& watched = *m_running.back();
        watched.key = start.key;
        watched.run.portText = start.portText;
        watched.run.port = proto::PortNameOfText(start.portText);
        watched.startedAt = WallSeconds();
        watched.lane = {&watched.run, false, &m_journals, &m_trust, &m_settings};
        const bool placed = start.key.compare(0, 4, "hub ") == 0;
        WriteStdoutLine(watched.run.port + ": " +
                        (start.retry > 0 ? "trying again (" + std::to_string(start.retry) +
                                               " of " + std::to_string(Watcher::kRetries) + ")"
                                         : "reader plugged in") +
                        (placed ? " (" + start.key + ")" : "") + ", updating");
        watched.thread.Reset(Os().CreateThread(nullptr, 0, RunThread, &watched.lane, 0, nullptr));
        if (watched.thread.IsValid())
            return;
        watched.run.result = RUN_DOWNLOAD_UNDEFINED;
        watched.run.started = watched.run.finished = IsoLocalNow();
        WriteStderrLine(watched.run.port + ": update: the run could not be started (no thread)");
    }

    // The runs that have ended since the last look.
    void CollectEnded()
    {
        for (auto it = m_running.begin(); it != m_running.end();) {
            WatchedRun& watched = **it;
            if (watched.thread.IsValid() &&
                ::WaitForSingleObject(watched.thread.Get(), 0) != WAIT_OBJECT_0) {
                ++it;
                continue;
            }
            Finish(watched);
            it = m_running.erase(it);
        }
    }

    void Finish(WatchedRun& watched)
    {
        PortRun& run = watched.run;
        run.message = AnsiToUtf8(ResultBoxText(run.result));
        WriteRunEvent(run);
        const bool again = !WatchEnd::Asked() && m_watcher.Ended(watched.key, run.result, NowMs());
        WriteStdoutLine(WatchEndLine(run, WallSeconds() - watched.startedAt) +
                        (again ? "; trying again in " +
                                     std::to_string(Watcher::kRetryAfterMs / 1000) + " s"
                               : ""));
        if (!again)
            m_tally.Ended(run.port, run.result);
        m_report.packageWritable = m_report.packageWritable || run.packageWritable;
        m_report.runs.push_back(run);
        RewriteReport();
    }

    void RewriteReport()
    {
        if (m_reportPath.empty())
            return;
        m_report.finished = IsoLocalNow();
        if (!WriteReport(m_reportPath, m_report))
            WriteStderrLine("update: the report could not be written: " + AnsiToUtf8(m_reportPath));
    }

    const std::string& m_reportPath;
    UpdateReport& m_report;
    const PackageTrust& m_trust;
    const std::shared_ptr<const JournalFolder> m_journals;
    RunSettings m_settings;
    Watcher m_watcher;
    std::vector<std::unique_ptr<WatchedRun>> m_running;
    WatchTally m_tally;
};

// The report closed and written; the command's status, which says when the report is missing
// though every run succeeded (the runs stand as they are: a deployment tool still learns it).
ExitStatus FinishedReport(const UpdateRequest& request, UpdateReport& report)
{
    report.finished = IsoLocalNow();
    const ExitStatus status = ExitStatus::OfRun(static_cast<RunResult>(report.result));
    if (request.reportPath.empty() || WriteReport(request.reportPath, report))
        return status;
    WriteStderrLine("update: the report could not be written: " + AnsiToUtf8(request.reportPath));
    return report.result == RUN_SUCCEEDED ? ExitStatus::ReportNotWritten : status;
}

// `update --watch`: readers updated as they are plugged in, until the technician ends it.
ExitStatus WatchForReaders(const UpdateRequest& request)
{
    HeldObject reportFolder;
    std::string refusal;
    if (!request.reportPath.empty() && !HoldReportFolder(request.reportPath, reportFolder, refusal))
        return Say({Refusal::Kind::ReportFolderRefused, "update", "", AnsiToUtf8(refusal)});
    UpdateReport report;
    report.package = CurrentDirectory();
    report.started = IsoLocalNow();
    report.watching = true;
    const PackageTrust trust(RunsAsLocalSystem(), AnsiToWide(report.package));
    if (!trust.FolderReason().empty()) {
        report.packageWritable = true;
        WriteStderrLine(WritablePackageLine("the package folder " + AnsiToUtf8(report.package),
                                            trust.FolderReason()));
    }
    WatchEnd ending;
    WriteStderrLine("update: watching for readers; a line \"q\" or Ctrl+C ends the watch, "
                    "the running updates first");
    {
        // A station left alone between two readers must still hear the next one.
        KeepAwake awake;
        DepotStation station(request.reportPath, report, trust);
        station.Watch();
        report.result = station.Tally().Result();
        WriteStdoutLine(station.Tally().Summary());
    }
    std::fflush(stdout);
    report.watching = false;
    return FinishedReport(request, report);
}

} // namespace

std::vector<std::string> PortTexts(const UpdateRequest& request, const std::string& command)
{
    if (request.ports == UpdateRequest::Ports::Named)
        return request.named;
    std::vector<std::string> readers = ReaderEntries(command);
    if (request.ports == UpdateRequest::Ports::Auto && readers.size() > 1)
        readers.resize(1);
    for (const std::string& text : readers)
        WriteStderrLine(command + ": " + AnsiToUtf8(text));
    return readers;
}

bool ParseUpdateArguments(ArgumentReader& args, UpdateRequest& request)
{
    request = UpdateRequest();
    const bool automatic = args.Flag("--auto");
    const bool all = args.Flag("--all");
    request.verify = args.Flag("--verify");
    const bool watch = args.Flag("--watch");
    const bool recorded = args.Has("--record");
    if (!args.Option("--report", "FILE", request.reportPath) ||
        !args.Option("--record", "NAME", request.recordName))
        return false;
    if (recorded && !IsRecordName(request.recordName))
        return args.Refuse("--record NAME takes 1 to 64 letters, digits, \"-\", \"_\" or \".\"");
    request.named = args.TakeRest();
    if (args.Failed())
        return false;
    if (watch) {
        // A station's readers come and go: a record of one moment's readers would mislead.
        if (recorded)
            return args.Refuse("--record is not taken with --watch");
        if (automatic || all || !request.named.empty())
            return args.Refuse("--watch takes every reader plugged in: no PORT, --auto or --all");
        request.watch = request.verify = true;
        request.ports = UpdateRequest::Ports::All;
        return true;
    }
    if (automatic + all + !request.named.empty() != 1)
        return args.Refuse(automatic || all ? "name ports, --auto or --all, only one of them"
                                            : "missing PORT (or --auto, or --all)");
    std::vector<std::string> earlier;
    for (const std::string& text : request.named) {
        const std::string port = proto::PortNameOfText(text);
        if (NamesPort(earlier, port))
            return args.Refuse(port + " is named twice");
        earlier.push_back(text);
    }
    request.ports = automatic ? UpdateRequest::Ports::Auto
                    : all     ? UpdateRequest::Ports::All
                              : UpdateRequest::Ports::Named;
    return true;
}

ExitStatus RunUpdates(const UpdateRequest& request)
{
    if (request.watch)
        return WatchForReaders(request);
    MachineRecord record;
    const std::string& name = request.recordName;
    if (const std::string why = name.empty() ? "" : OpenRecord(record, name); !why.empty())
        return Say({Refusal::Kind::RecordUnwritable, "update", RecordKeyText(name), why});
    // Before any run: SYSTEM writes its report only in a folder no user can steer, held
    // until the report is in place.
    HeldObject reportFolder;
    std::string refusal;
    if (!request.reportPath.empty() && !HoldReportFolder(request.reportPath, reportFolder, refusal))
        return Say({Refusal::Kind::ReportFolderRefused, "update", "", AnsiToUtf8(refusal)});
    HoldInterrupts interrupts;
    UpdateReport report;
    report.package = CurrentDirectory();
    report.started = IsoLocalNow();
    const double wallStart = WallSeconds();
    const double cpuStart = ProcessCpuSeconds();
    // Under SYSTEM, a package users can change is sent all the same, and said.
    const PackageTrust trust(RunsAsLocalSystem(), AnsiToWide(report.package));
    if (!trust.FolderReason().empty()) {
        report.packageWritable = true;
        WriteStderrLine(WritablePackageLine("the package folder " + AnsiToUtf8(report.package),
                                            trust.FolderReason()));
    }

    for (const std::string& text : PortTexts(request, "update")) {
        PortRun run;
        run.portText = text;
        run.port = proto::PortNameOfText(text);
        report.runs.push_back(run);
    }
    // One line per port when several may be asked for; the message alone for one port.
    const bool lines = request.ports == UpdateRequest::Ports::All || request.named.size() > 1;
    if (report.runs.empty()) {
        // No reader of the maker in the list: nothing is sent anywhere.
        report.result = RUN_NO_PORT;
        WriteStdoutLine(AnsiToUtf8(ResultBoxText(RUN_NO_PORT)));
        WriteRunEvent(NoReaderRun());
    } else {
        // One folder for every run, held until the last has ended; said once when it fails.
        const std::shared_ptr<const JournalFolder> journals = OpenJournalFolder();
        if (!journals->IsHeld())
            WriteStderrLine("update: no journal is kept: " + AnsiToUtf8(journals->Refusal()));
        RunSettings settings;
        settings.verify = request.verify;
        if (lines)
            RunSideBySide(report.runs, journals, trust, settings);
        else
            RunOnPort(report.runs.front(), StderrDrawsInPlace(), std::string(), journals, trust,
                      settings);
        HoldInterrupts::RunsOver();
        // Every run has its event, a run whose thread could not be made too.
        for (PortRun& run : report.runs) {
            report.packageWritable = report.packageWritable || run.packageWritable;
            run.message = AnsiToUtf8(ResultBoxText(run.result));
            WriteRunEvent(run);
        }
        for (const PortRun& run : report.runs) {
            if (lines)
                WriteStdoutLine(run.port + "\t" + std::to_string(static_cast<int>(run.result)) +
                                "\t" + OnOneLine(run.message));
            else
                WriteStdoutLine(run.message);
        }
        report.result = CommandResult(report.runs);
    }
    std::fflush(stdout);
    char cost[96];
    std::snprintf(cost, sizeof cost, "update: %u run(s) in %.2f s, CPU %.2f s",
                  static_cast<unsigned>(report.runs.size()), WallSeconds() - wallStart,
                  ProcessCpuSeconds() - cpuStart);
    WriteStderrLine(cost);

    ExitStatus status = FinishedReport(request, report);
    if (record.IsOpen() &&
        !record.Write(status.Code(), report.finished, ReadersText(report.runs))) {
        WriteStderrLine("update: the record " + RecordKeyText(request.recordName) +
                        " could not be written");
        // Its detection rule would take the readers for not updated: the tool must hear why.
        if (status.Code() == RUN_SUCCEEDED)
            status = ExitStatus::ReportNotWritten;
    }
    return status;
}
