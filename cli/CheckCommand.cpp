#include "CheckCommand.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "ConsoleWriter.h"
#include "Progress.h"
#include "Refusals.h"
#include "Report.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "package/Models.h"
#include "terminal/Protocol.h"
#include "terminal/Terminal.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"

namespace {

// One reader's check: the steps said on standard output when it is checked alone, the
// verdict and its reason kept for the line per port and the report.
class ReaderChecker {
public:
    ReaderChecker(CTerminal& terminal, CheckRun& run, bool say)
        : m_terminal(terminal), m_run(run), m_say(say)
    {
    }

    // The verdict, also in the run; the port is closed again.
    int Check();

private:
    void Print(const std::string& text) const
    {
        if (m_say)
            WriteStdoutLine(AnsiToUtf8(text));
    }

    // Ends the check with `verdict` and its reason (ANSI).
    int Verdict(int verdict, const std::string& reason)
    {
        m_run.verdict = verdict;
        m_run.reason = AnsiToUtf8(reason);
        return verdict;
    }

    // A refusal with the reader's fault as its reason.
    int Refuse(const std::string& step, RunResult result)
    {
        const std::string& fault = m_terminal.GetFault();
        const std::string said = fault.empty() ? std::string() : " (" + fault + ")";
        Print(step + ": refused" + said);
        return Verdict(result, "the " + step + " could not be read" + said);
    }

    int Identified(const Identification& found);
    int Package(const Identification& found);
    int LoadList();

    CTerminal& m_terminal;
    CheckRun& m_run;
    bool m_say;
};

// Why the announce of a listed file would fail, or empty when it would not.
std::string AnnounceObstacle(const CString& file)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!Os().GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "missing";
    if (data.nFileSizeHigh != 0 || !proto::AnnounceableSize(data.nFileSizeLow))
        return "too large to announce";
    // A name too long to announce never gets here: the identification refused it.
    return std::string();
}

// Option bytes 27 to 39 of the description, as the catalogue's sections test them.
std::string OptionsHex(const TerminalDescription& description)
{
    constexpr std::size_t kFirst = 27, kCount = 13;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&description);
    std::string hex;
    char pair[3];
    for (std::size_t i = kFirst; i < kFirst + kCount; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

std::string ListText(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

int ReaderChecker::Check()
{
    const Identification found = IdentifyReader(m_terminal);
    if (found.outcome == Identification::Outcome::Unreadable)
        return Refuse("description", RUN_DESCRIPTION_UNREADABLE);
    m_run.model = ModelCodeText(found.description);
    m_run.options = OptionsHex(found.description);
    const int identified = Identified(found);
    return identified != RUN_SUCCEEDED ? identified : Package(found);
}

// What the identification found, step by step; RUN_SUCCEEDED when reader and catalogue pass.
int ReaderChecker::Identified(const Identification& found)
{
    using Outcome = Identification::Outcome;
    if (found.model == nullptr) {
        Print("model: unknown (" + std::string(found.description.modelCode, 3) + ")");
        return Verdict(RUN_HARDWARE_MISMATCH, "model " + m_run.model + " is unknown");
    }
    const ReaderModel& model = *found.model;
    Print(std::string("model: ") + model.code + " (" + LoadResString(model.stepTextId) + ")");
    if (found.outcome == Outcome::CatalogueRefused) {
        const PackageRefusal& refusal = found.refusal;
        const std::string section =
            refusal.section.empty() ? std::string() : " in section " + refusal.section;
        Print("catalogue: refused (" + refusal.reason + ")" + section);
        return Verdict(RUN_HARDWARE_MISMATCH, "catalogue refused (" + refusal.reason + ")" +
                                                  section + "; the reader's options: " +
                                                  m_run.options);
    }
    if (found.outcome == Outcome::InvalidFileName) {
        Print("file " + found.invalidFile + ": not a file name of the package");
        return Verdict(RUN_INVALID_FILE_NAME, "the catalogue lists " + found.invalidFile +
                                                  ", not a file name of the package");
    }
    Print("catalogue: OK (" + CatalogueTakenText(CatalogueOf(model.code)) + ")");
    return RUN_SUCCEEDED;
}

int ReaderChecker::Package(const Identification& found)
{
    m_terminal.LoadConstraints(found.model->code);

    CStringList names;
    if (!m_terminal.ReadApplicationNames(names))
        return Refuse("applications", RUN_APPLICATIONS_UNREADABLE);
    m_run.applicationsRead = true;
    for (const CString& name : names)
        m_run.applications.push_back(name);
    const std::string list = ListText(m_run.applications);
    Print("applications: " + std::to_string(names.GetCount()) + " (" + list + ")");
    const std::size_t presence = m_terminal.GetPresenceList().GetCount();
    const std::size_t exclusion = m_terminal.GetExclusionList().GetCount();
    PackageRefusal refusal;
    if (!m_terminal.CheckConstraints(names, &refusal)) {
        const std::string why =
            (refusal.section.empty() ? "" : refusal.section + " ") + refusal.reason;
        Print("constraints: refused (" + why + ")");
        return Verdict(RUN_CONSTRAINTS_NOT_MET,
                       "constraints refused (" + why + "); the reader has: " +
                           (list.empty() ? "no application" : list));
    }
    Print("constraints: OK (" + std::to_string(presence) + " presence, " +
          std::to_string(exclusion) + " exclusion entries)");
    return LoadList();
}

// The files the update would send, as it would announce them, each judged.
int ReaderChecker::LoadList()
{
    if (m_terminal.IsLoadListEmpty()) {
        Print("load list: empty");
        return Verdict(RUN_ANNOUNCE_FAILED, "the load list is empty");
    }
    if (m_say)
        std::printf("load list: %d files, %d loader files\n", m_terminal.GetLoadListCount(),
                    m_terminal.GetLoaderFileCount());
    int verdict = RUN_SUCCEEDED;
    std::string reason =
        "would be updated: " + std::to_string(m_terminal.GetLoadListCount()) + " files";
    for (const CString& file : m_terminal.GetLoadList()) {
        const std::string obstacle = AnnounceObstacle(file);
        if (!obstacle.empty() && verdict == RUN_SUCCEEDED)
            reason = "file " + file + ": " + obstacle;
        if (!obstacle.empty()) {
            Print("file " + file + ": " + obstacle);
            verdict = RUN_ANNOUNCE_FAILED;
        }
    }
    // A signature file's module is named from the list's upper-case copy, as the run does.
    m_terminal.SnapshotLoadList();
    for (const CString& file : m_terminal.GetLoadList()) {
        RunRecord::File entry = ListedFileRecord(m_terminal, file);
        if (!ReadFileSha256(file, &entry.sha256))
            entry.sha256.clear();
        m_run.files.push_back(entry);
        if (m_say)
            WriteStdoutLine(AnsiToUtf8(file) + "\t" + AnsiToUtf8(entry.module));
    }
    return Verdict(verdict, reason);
}

// One reader from its search to its verdict. Said step by step when `say`.
int CheckOnPort(CheckRun& run, bool say)
{
    CTerminal terminal;
    if (!SearchReader(terminal, run.portText)) {
        if (say)
            WriteStdoutLine("reader: not found");
        const Refusal refusal =
            SearchRefusal("check", terminal, run.portText, ExitStatus::ReaderNotFound);
        run.verdict = Say(refusal).Code();
        run.reason = refusal.detail;
        return run.verdict;
    }
    if (!ConfigureUpdateLink(terminal)) {
        terminal.ClosePort();
        if (say)
            WriteStdoutLine("reader: the link cannot be set up");
        run.verdict =
            Say(SearchRefusal("check", terminal, run.portText, ExitStatus::ReaderNotFound)).Code();
        run.reason = "the link cannot be set up";
        return run.verdict;
    }
    ReaderChecker checker(terminal, run, say);
    const int verdict = checker.Check();
    terminal.ClosePort();
    if (say)
        WriteStdoutLine(verdict == RUN_SUCCEEDED ? "verdict: the update would be allowed"
                                                 : "verdict: the update would end with result " +
                                                       std::to_string(verdict));
    return verdict;
}

// The top of a check's own thread: nothing escapes it.
DWORD WINAPI CheckThread(LPVOID parameter)
{
    CheckRun& run = *static_cast<CheckRun*>(parameter);
    try {
        LinePrefix prefix(run.port + ": ");
        CheckOnPort(run, false);
    } catch (...) {
        run.verdict = RUN_DOWNLOAD_UNDEFINED;
        run.reason = "the check could not be completed";
    }
    return 0;
}

// Every reader read at once, one thread each; a check whose thread cannot be made says so.
void CheckSideBySide(std::vector<CheckRun>& runs)
{
    std::vector<ScopedHandle> threads(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        threads[i].Reset(Os().CreateThread(nullptr, 0, CheckThread, &runs[i], 0, nullptr));
        if (!threads[i].IsValid()) {
            runs[i].verdict = RUN_DOWNLOAD_UNDEFINED;
            runs[i].reason = "the check could not be started (no thread)";
        }
    }
    for (const ScopedHandle& thread : threads)
        if (thread.IsValid())
            ::WaitForSingleObject(thread.Get(), INFINITE);
}

// The reason on one line, for a line per port.
std::string OnOneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

} // namespace

ExitStatus RunChecks(const UpdateRequest& request)
{
    UpdateReport head;
    head.package = CurrentDirectory();
    head.started = IsoLocalNow();
    std::vector<CheckRun> runs;
    for (const std::string& text : PortTexts(request, "check")) {
        CheckRun run;
        run.portText = text;
        run.port = proto::PortNameOfText(text);
        runs.push_back(run);
    }
    // The steps for one named port alone, as ever; a line per port otherwise.
    const bool alone = request.ports == UpdateRequest::Ports::Named && runs.size() == 1;
    int result = RUN_SUCCEEDED;
    if (runs.empty()) {
        result = RUN_NO_PORT;
        WriteStdoutLine(AnsiToUtf8(ResultBoxText(RUN_NO_PORT)));
    } else if (alone) {
        result = CheckOnPort(runs.front(), true);
    } else {
        CheckSideBySide(runs);
        for (const CheckRun& run : runs) {
            WriteStdoutLine(run.port + "\t" + std::to_string(run.verdict) + "\t" + run.model +
                            "\t" + OnOneLine(run.reason));
            if (result == RUN_SUCCEEDED)
                result = run.verdict;
        }
    }
    std::fflush(stdout);
    head.result = result;
    head.finished = IsoLocalNow();
    // 30 is the console's own code, every other verdict a run result passed through.
    ExitStatus status = result == ExitStatus::ReaderNotFound.Code()
                            ? ExitStatus::ReaderNotFound
                            : ExitStatus::OfRun(static_cast<RunResult>(result));
    if (!request.reportPath.empty() && !WriteCheckReport(request.reportPath, head, runs)) {
        WriteStderrLine("check: the report could not be written: " +
                        AnsiToUtf8(request.reportPath));
        if (result == RUN_SUCCEEDED)
            status = ExitStatus::ReportNotWritten;
    }
    return status;
}
