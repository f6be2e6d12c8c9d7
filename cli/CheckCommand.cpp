#include "CheckCommand.h"

#include <windows.h>

#include <cstdio>

#include "ConsoleWriter.h"
#include "Progress.h"
#include "Refusals.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "package/Models.h"
#include "terminal/Terminal.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

namespace {

// The last diagnostic line the calling thread writes while it lives: a verdict's reason.
class LastLine : private LineSink {
public:
    LastLine() : m_scope(*this) {}
    const std::string& Text() const { return m_text; }

private:
    void Line(const char* text) override { m_text = text; }

    std::string m_text;
    ScopedLineSink m_scope;
};

void Say(const std::string& text) { WriteStdoutLine(AnsiToUtf8(text)); }

// A refusal with the last diagnostic line the step wrote as its reason.
RunResult Refuse(const std::string& step, const LastLine& last, RunResult result)
{
    std::string text = step + ": refused";
    if (!last.Text().empty())
        text += " (" + last.Text() + ")";
    Say(text);
    return result;
}

// Why the announce of a listed file would fail, or empty when it would not.
std::string AnnounceObstacle(const CString& file)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!Os().GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "missing";
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > static_cast<DWORD>(proto::kAnnounceMaxFileSize))
        return "too large to announce";
    // A name too long to announce never gets here: the identification refused it.
    return std::string();
}

RunResult CheckLoadList(CTerminal& terminal)
{
    if (terminal.IsLoadListEmpty()) {
        Say("load list: empty");
        return RUN_ANNOUNCE_FAILED;
    }
    std::printf("load list: %d files, %d loader files\n", terminal.GetLoadListCount(),
                terminal.GetLoaderFileCount());
    RunResult result = RUN_SUCCEEDED;
    for (const CString& file : terminal.GetLoadList()) {
        const std::string obstacle = AnnounceObstacle(file);
        if (!obstacle.empty()) {
            Say("file " + file + ": " + obstacle);
            result = RUN_ANNOUNCE_FAILED;
        }
    }
    return result;
}

// What a refusal names: "SECTION what failed", or what failed alone.
std::string Named(const PackageRefusal& refusal)
{
    return refusal.section.empty() ? refusal.reason : refusal.section + " " + refusal.reason;
}

void PrintLoadList(CTerminal& terminal)
{
    terminal.SnapshotLoadList();
    for (const CString& file : terminal.GetLoadList())
        WriteStdoutLine(AnsiToUtf8(file) + "\t" +
                        AnsiToUtf8(terminal.ModuleNameForFile(file)));
}

// What the run's identification found, said step by step; RUN_SUCCEEDED when the reader
// and the catalogue pass. `lastLine` is the last diagnostic line it wrote.
RunResult SayIdentification(const Identification& found, const std::string& lastLine)
{
    using Outcome = Identification::Outcome;
    if (found.model == nullptr) {
        Say("model: unknown (" + std::string(found.description.modelCode, 3) + ")");
        return RUN_HARDWARE_MISMATCH;
    }
    const ReaderModel& model = *found.model;
    Say(std::string("model: ") + model.code + " (" + LoadResString(model.stepTextId) + ")");
    if (found.outcome == Outcome::CatalogueRefused) {
        const PackageRefusal& refusal = found.refusal;
        Say("catalogue: refused (" + refusal.reason + ")" +
            (refusal.section.empty() ? std::string() : " in section " + refusal.section));
        return RUN_HARDWARE_MISMATCH;
    }
    if (found.outcome == Outcome::InvalidFileName) {
        Say("file " + found.invalidFile + ": not a file name of the package");
        return RUN_INVALID_FILE_NAME;
    }
    Say("catalogue: OK" + (lastLine.empty() ? std::string() : " (" + lastLine + ")"));
    return RUN_SUCCEEDED;
}

RunResult CheckPackage(CTerminal& terminal, const Identification& found)
{
    terminal.LoadConstraints(found.model->code);

    CStringList names;
    {
        LastLine last;
        if (!terminal.ReadApplicationNames(names))
            return Refuse("applications", last, RUN_APPLICATIONS_UNREADABLE);
    }
    std::string list;
    for (const CString& name : names)
        list += (list.empty() ? "" : ", ") + name;
    Say("applications: " + std::to_string(names.GetCount()) + " (" + list + ")");
    const std::size_t presence = terminal.GetPresenceList().GetCount();
    const std::size_t exclusion = terminal.GetExclusionList().GetCount();
    PackageRefusal refusal;
    if (!terminal.CheckConstraints(names, &refusal)) {
        Say("constraints: refused (" + Named(refusal) + ")");
        return RUN_CONSTRAINTS_NOT_MET;
    }
    Say("constraints: OK (" + std::to_string(presence) + " presence, " +
        std::to_string(exclusion) + " exclusion entries)");
    const RunResult result = CheckLoadList(terminal);
    PrintLoadList(terminal);
    return result;
}

RunResult CheckReader(CTerminal& terminal)
{
    Identification found;
    std::string lastLine;
    {
        LastLine last;
        found = IdentifyReader(terminal);
        if (found.outcome == Identification::Outcome::Unreadable)
            return Refuse("description", last, RUN_DESCRIPTION_UNREADABLE);
        lastLine = last.Text();
    }
    const RunResult identified = SayIdentification(found, lastLine);
    if (identified != RUN_SUCCEEDED)
        return identified;
    return CheckPackage(terminal, found);
}

} // namespace

ExitStatus RunCheck(CTerminal& terminal, const std::string& portText)
{
    bool found = false;
    {
        SlowWaitNotice notice(LookingForReaderLine(portText));
        found = terminal.FindTerminal(portText);
    }
    if (!found) {
        Say("reader: not found");
        return SearchFailed("check", terminal, portText, ExitStatus::ReaderNotFound);
    }
    if (!ConfigureUpdateLink(terminal)) {
        terminal.ClosePort();
        Say("reader: the link cannot be set up");
        return SearchFailed("check", terminal, portText, ExitStatus::ReaderNotFound);
    }

    const RunResult result = CheckReader(terminal);
    terminal.ClosePort();
    Say(result == RUN_SUCCEEDED
            ? "verdict: the update would be allowed"
            : "verdict: the update would end with result " + std::to_string(result));
    return ExitStatus::OfRun(result);
}
