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
#include "winfw/OsSeam.h"

namespace {

void Print(const std::string& text) { WriteStdoutLine(AnsiToUtf8(text)); }

// A refusal with the reader's fault as its reason.
RunResult Refuse(const std::string& step, const CTerminal& terminal, RunResult result)
{
    const std::string& fault = terminal.GetFault();
    Print(step + ": refused" + (fault.empty() ? std::string() : " (" + fault + ")"));
    return result;
}

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

RunResult CheckLoadList(CTerminal& terminal)
{
    if (terminal.IsLoadListEmpty()) {
        Print("load list: empty");
        return RUN_ANNOUNCE_FAILED;
    }
    std::printf("load list: %d files, %d loader files\n", terminal.GetLoadListCount(),
                terminal.GetLoaderFileCount());
    RunResult result = RUN_SUCCEEDED;
    for (const CString& file : terminal.GetLoadList()) {
        const std::string obstacle = AnnounceObstacle(file);
        if (!obstacle.empty()) {
            Print("file " + file + ": " + obstacle);
            result = RUN_ANNOUNCE_FAILED;
        }
    }
    return result;
}

void PrintLoadList(CTerminal& terminal)
{
    terminal.SnapshotLoadList();
    for (const CString& file : terminal.GetLoadList())
        WriteStdoutLine(AnsiToUtf8(file) + "\t" +
                        AnsiToUtf8(terminal.ModuleNameForFile(file)));
}

// What the identification found, step by step; RUN_SUCCEEDED when reader and catalogue pass.
RunResult SayIdentification(const Identification& found)
{
    using Outcome = Identification::Outcome;
    if (found.model == nullptr) {
        Print("model: unknown (" + std::string(found.description.modelCode, 3) + ")");
        return RUN_HARDWARE_MISMATCH;
    }
    const ReaderModel& model = *found.model;
    Print(std::string("model: ") + model.code + " (" + LoadResString(model.stepTextId) + ")");
    if (found.outcome == Outcome::CatalogueRefused) {
        const PackageRefusal& refusal = found.refusal;
        Print("catalogue: refused (" + refusal.reason + ")" +
              (refusal.section.empty() ? std::string() : " in section " + refusal.section));
        return RUN_HARDWARE_MISMATCH;
    }
    if (found.outcome == Outcome::InvalidFileName) {
        Print("file " + found.invalidFile + ": not a file name of the package");
        return RUN_INVALID_FILE_NAME;
    }
    Print("catalogue: OK (" + CatalogueTakenText(CatalogueOf(model.code)) + ")");
    return RUN_SUCCEEDED;
}

RunResult CheckPackage(CTerminal& terminal, const Identification& found)
{
    terminal.LoadConstraints(found.model->code);

    CStringList names;
    if (!terminal.ReadApplicationNames(names))
        return Refuse("applications", terminal, RUN_APPLICATIONS_UNREADABLE);
    std::string list;
    for (const CString& name : names)
        list += (list.empty() ? "" : ", ") + name;
    Print("applications: " + std::to_string(names.GetCount()) + " (" + list + ")");
    const std::size_t presence = terminal.GetPresenceList().GetCount();
    const std::size_t exclusion = terminal.GetExclusionList().GetCount();
    PackageRefusal refusal;
    if (!terminal.CheckConstraints(names, &refusal)) {
        Print("constraints: refused (" + (refusal.section.empty() ? "" : refusal.section + " ") +
              refusal.reason + ")");
        return RUN_CONSTRAINTS_NOT_MET;
    }
    Print("constraints: OK (" + std::to_string(presence) + " presence, " +
          std::to_string(exclusion) + " exclusion entries)");
    const RunResult result = CheckLoadList(terminal);
    PrintLoadList(terminal);
    return result;
}

RunResult CheckReader(CTerminal& terminal)
{
    const Identification found = IdentifyReader(terminal);
    if (found.outcome == Identification::Outcome::Unreadable)
        return Refuse("description", terminal, RUN_DESCRIPTION_UNREADABLE);
    const RunResult identified = SayIdentification(found);
    if (identified != RUN_SUCCEEDED)
        return identified;
    return CheckPackage(terminal, found);
}

} // namespace

ExitStatus RunCheck(CTerminal& terminal, const std::string& portText)
{
    if (!SearchReader(terminal, portText)) {
        Print("reader: not found");
        return Say(SearchRefusal("check", terminal, portText, ExitStatus::ReaderNotFound));
    }
    if (!ConfigureUpdateLink(terminal)) {
        terminal.ClosePort();
        Print("reader: the link cannot be set up");
        return Say(SearchRefusal("check", terminal, portText, ExitStatus::ReaderNotFound));
    }

    const RunResult result = CheckReader(terminal);
    terminal.ClosePort();
    Print(result == RUN_SUCCEEDED
              ? "verdict: the update would be allowed"
              : "verdict: the update would end with result " + std::to_string(result));
    return ExitStatus::OfRun(result);
}
