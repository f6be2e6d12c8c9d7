#include "UpdateCommand.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "Progress.h"
#include "Report.h"
#include "RunEvent.h"
#include "app/PortQuery.h"
#include "app/PortRules.h"
#include "engine/Journal.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "terminal/Protocol.h"
#include "terminal/Terminal.h"

namespace {

// The progress window's texts and bars as console lines, each stamped with the seconds
// since the run started, so a technician sees how long each step took. Runs side by side
// draw no file bar: their lines would tear it.
class ConsoleRunView : public RunView {
public:
    explicit ConsoleRunView(bool drawBar) : m_start(WallSeconds()), m_drawBar(drawBar) {}

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
    void SetModule(const CString& module) override
    {
        if (m_drawBar)
            m_bar.Module(module);
    }
    void SetFilePercent(int percent) override
    {
        if (m_drawBar)
            m_bar.Percent(percent);
    }
    void ShowErrorBox(const CString& text) override { Line("box", text); }
    void EndRun(RunResult result, bool succeeded) override
    {
        char text[64];
        std::snprintf(text, sizeof text, "%d (%s)", static_cast<int>(result),
                      succeeded ? "success" : "failure");
        Line("result", text);
    }

private:
    void Line(const char* what, const std::string& ansi)
    {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%7.2f s] %s: ", WallSeconds() - m_start, what);
        WriteStderrLine(stamp + AnsiToUtf8(ansi));
    }

    double m_start;
    bool m_drawBar;
    int m_count = 100;
    int m_step = 10;
    int m_position = 0;
    ConsoleBar m_bar;
};

// One reader's whole update, on the calling thread, with its own terminal and journal.
void RunOnPort(PortRun& run, bool drawBar)
{
    run.started = IsoLocalNow();
    try {
        CTerminal terminal;
        ConsoleRunView view(drawBar);
        UpdateRun update(terminal, run.portText, view);
        update.SetJournalDirectory(JournalDirectory());
        run.result = update.Execute();
        run.record = update.Record();
    } catch (const std::exception&) {
        // The run ends its own failures; what escapes it leaves the outcome unknown.
        run.result = RUN_DOWNLOAD_UNDEFINED;
    }
    run.finished = IsoLocalNow();
    run.message = AnsiToUtf8(ResultBoxText(run.result));
    WriteRunEvent(run);
}

// What the event log is told when no reader was found to run on.
PortRun NoReaderRun()
{
    PortRun run;
    run.result = RUN_NO_PORT;
    run.message = AnsiToUtf8(ResultBoxText(RUN_NO_PORT));
    return run;
}

// Runs side by side, one thread each, every line on standard error naming its port.
void RunSideBySide(std::vector<PortRun>& runs)
{
    std::vector<std::thread> threads;
    threads.reserve(runs.size());
    const bool drawBar = runs.size() == 1;
    for (PortRun& run : runs)
        threads.emplace_back([&run, drawBar] {
            LinePrefix prefix(run.port + ": ");
            RunOnPort(run, drawBar);
        });
    for (std::thread& thread : threads)
        thread.join();
}

// Whether one of `texts` names the port `port` ("COMn").
bool NamesPort(const std::vector<std::string>& texts, const std::string& port)
{
    return std::any_of(texts.begin(), texts.end(), [&port](const std::string& text) {
        return proto::PortNameOfText(text) == port;
    });
}

// The port texts of the maker's readers in the port list, as the main window builds it.
std::vector<std::string> ReaderEntries()
{
    std::vector<std::string> texts;
    const PortQuery outcome = CollectPortTexts(texts);
    if (outcome != PortQuery::Listed)
        WriteStderrLine("update: the port list could not be read");
    std::vector<std::string> readers;
    for (const std::string& text : texts)
        // A port listed twice would be opened by two runs: the second would fail for nothing.
        if (ports::IsReaderEntry(text) && !NamesPort(readers, proto::PortNameOfText(text)))
            readers.push_back(text);
    return readers;
}

std::vector<std::string> PortTexts(const UpdateRequest& request)
{
    if (request.ports == UpdateRequest::Ports::Named)
        return request.named;
    std::vector<std::string> readers = ReaderEntries();
    if (request.ports == UpdateRequest::Ports::Auto && readers.size() > 1)
        readers.resize(1);
    for (const std::string& text : readers)
        WriteStderrLine("update: " + AnsiToUtf8(text));
    return readers;
}

std::string CurrentDirectory()
{
    char path[MAX_PATH * 2] = {};
    const DWORD length = ::GetCurrentDirectoryA(sizeof path, path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
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

// Ctrl+C or Ctrl+Break while readers are being written would leave them half-updated, as
// closing the progress window would: for the command's lifetime the console says so and
// the runs go on to their end.
class HoldInterrupts {
public:
    HoldInterrupts() { ::SetConsoleCtrlHandler(Refuse, TRUE); }
    ~HoldInterrupts() { ::SetConsoleCtrlHandler(Refuse, FALSE); }
    HoldInterrupts(const HoldInterrupts&) = delete;
    HoldInterrupts& operator=(const HoldInterrupts&) = delete;

private:
    static BOOL WINAPI Refuse(DWORD event)
    {
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            return FALSE;
        WriteStderrLine("update: Ctrl+C is ignored while readers are being updated; "
                        "the update ends by itself");
        return TRUE;
    }
};

} // namespace

bool ParseUpdateArguments(const std::vector<std::string>& args, UpdateRequest& request)
{
    request = UpdateRequest();
    bool automatic = false;
    bool all = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--report" && i + 1 < args.size() && request.reportPath.empty())
            request.reportPath = args[++i];
        else if (args[i] == "--auto")
            automatic = true;
        else if (args[i] == "--all")
            all = true;
        else if (args[i].compare(0, 2, "--") == 0)
            return false;
        else
            request.named.push_back(args[i]);
    }
    if (automatic + all + !request.named.empty() != 1)
        return false;
    std::vector<std::string> earlier;
    for (const std::string& text : request.named) {
        const std::string port = proto::PortNameOfText(text);
        if (NamesPort(earlier, port)) {
            WriteStderrLine("update: " + port + " is named twice");
            return false;
        }
        earlier.push_back(text);
    }
    request.ports = automatic ? UpdateRequest::Ports::Auto
                    : all     ? UpdateRequest::Ports::All
                              : UpdateRequest::Ports::Named;
    return true;
}

ExitStatus RunUpdates(const UpdateRequest& request)
{
    HoldInterrupts interrupts;
    UpdateReport report;
    report.package = CurrentDirectory();
    report.started = IsoLocalNow();
    const double wallStart = WallSeconds();
    const double cpuStart = ProcessCpuSeconds();

    for (const std::string& text : PortTexts(request)) {
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
        std::printf("%s\n", AnsiToUtf8(ResultBoxText(RUN_NO_PORT)).c_str());
        WriteRunEvent(NoReaderRun());
    } else {
        if (lines)
            RunSideBySide(report.runs);
        else
            RunOnPort(report.runs.front(), true);
        for (const PortRun& run : report.runs) {
            if (lines)
                std::printf("%s\t%d\t%s\n", run.port.c_str(), static_cast<int>(run.result),
                            OnOneLine(run.message).c_str());
            else
                std::printf("%s\n", run.message.c_str());
        }
        report.result = CommandResult(report.runs);
    }
    std::fflush(stdout);
    char cost[96];
    std::snprintf(cost, sizeof cost, "update: %u run(s) in %.2f s, CPU %.2f s",
                  static_cast<unsigned>(report.runs.size()), WallSeconds() - wallStart,
                  ProcessCpuSeconds() - cpuStart);
    WriteStderrLine(cost);

    report.finished = IsoLocalNow();
    if (!request.reportPath.empty() && !WriteReport(request.reportPath, report)) {
        WriteStderrLine("update: the report could not be written: " +
                        AnsiToUtf8(request.reportPath));
        // The runs stand as they are; a deployment tool still learns the report is missing.
        if (report.result == RUN_SUCCEEDED)
            return ExitCode::ReportNotWritten;
    }
    return ExitStatus(static_cast<RunResult>(report.result));
}
