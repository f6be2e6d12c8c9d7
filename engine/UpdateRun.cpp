#include "UpdateRun.h"

#include <new>
#include <string>

#include "RunResult.h"
#include "Journal.h"
#include "winfw/HeldFolder.h"
#include "RunTexts.h"
#include "package/Models.h"
#include "package/PackageFolder.h"
#include "package/PackageRules.h"
#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"
#include "winfw/KeepAwake.h"
#include "winfw/Text.h"
#include "winfw/TimerResolution.h"

using namespace runtext;

namespace {

constexpr DWORD kLoopPause = 10;
constexpr DWORD kCommandPause = 10;
constexpr DWORD kAfterRestartCommand = 100;
constexpr DWORD kSettleAfterReopen = 3000;
constexpr DWORD kAfterSettle = 100;
constexpr DWORD kBetweenBoxes = 3000;

// What a journal read on its own needs first: which program, which package, which port.
void LogRunIdentity(const CString& portText)
{
    LogLine("Version du programme : %s", OV_VERSION_TEXT);
    LogLine("Dossier du paquet : %s", WideToAnsiShown(CurrentDirectoryWide()).c_str());
    const CString port = proto::PortNameOfText(portText);
    LogLine("Port : %s", (port.empty() ? portText : port).c_str());
}

} // namespace

Identification IdentifyReader(CTerminal& terminal)
{
    using Outcome = Identification::Outcome;
    Identification found;
    if (!terminal.ReadTerminalDescription(&found.description))
        return found;
    LogLine("%s", kReadingCatalogue);
    found.model = FindReaderModel(found.description);
    if (found.model == nullptr) {
        LogLine("%s", kUnknownTerminal);
        found.outcome = Outcome::UnknownModel;
        return found;
    }
    if (!terminal.CheckCatalogue(found.model->code, found.description, &found.refusal)) {
        found.outcome = Outcome::CatalogueRefused;
        return found;
    }
    // Before anything opens a listed file, even to read its size.
    for (const CString& file : terminal.GetLoadList()) {
        if (!pkg::IsBareFileName(file)) {
            LogLine("Nom de fichier refuse dans le catalogue : %s", file.c_str());
            found.invalidFile = file;
            found.outcome = Outcome::InvalidFileName;
            return found;
        }
    }
    found.outcome = Outcome::Known;
    return found;
}

UpdateRun::UpdateRun(CTerminal& terminal, const CString& portText, RunView& view)
    : m_terminal(terminal), m_portText(portText), m_view(view)
{
    m_terminal.SetProgressSink(this);
}

UpdateRun::~UpdateRun() { m_terminal.SetProgressSink(nullptr); }

RunResult UpdateRun::Execute()
{
    // Every 1 ms pause of the transfer and every slice of the restart wait last what they
    // say only with the raised resolution, for the whole run.
    TimerResolution resolution;
    // A PC that sleeps mid-transfer leaves the reader half-written.
    KeepAwake awake;
    RunJournal journal(m_journalFolder.get(), proto::PortNameOfText(m_portText));
    m_record.journal = journal.Path();
    if (m_journalFolder)
        m_record.journalRefused = m_journalFolder->Refusal();
    ScopedLineSink toJournal(journal);
    LogRunIdentity(m_portText);
    // Set at the process's start already; a privileged run tells its journal when the
    // system would not.
    if (!ForbidUsersLinksWhenPrivileged())
        LogLine("Redirection trust could not be enforced: links made by users may be followed");
    try {
        return RunSteps();
    } catch (const std::bad_alloc&) {
        // Memory ran out (a package list, an INI section): nothing more goes to the reader.
        LogLine("Memoire insuffisante, arret de la mise a jour");
        // Not a failure on the port: no reopening of it to ask whether it has gone.
        return Finish(CriticalError(RUN_DOWNLOAD_UNDEFINED));
    }
}

RunResult UpdateRun::RunSteps()
{
    m_view.SetStepText(LoadResString(IDS_SEARCHING));
    if (!Search(m_portText))
        return Finish(m_terminal.GetOpenFailure() == CTerminal::OpenFailure::Busy ? RUN_PORT_BUSY
                                                                                  : NotDetected());
    m_positionKnown = m_terminal.HasUsbPosition();
    m_hub = m_terminal.GetUsbHub();
    m_hubPort = m_terminal.GetUsbHubPort();

    if (!ConfigureUpdateLink(m_terminal))
        return Finish(RUN_READER_UNREACHABLE);
    if (const Step refused = Identify())
        return Finish(*refused);

    PrepareLoadLoop();
    for (;;) {
        Os().Sleep(kLoopPause);
        if (const Step ended = RunState())
            return Finish(*ended);
    }
}

bool UpdateRun::Search(const CString& portText)
{
    m_view.SearchStarting(proto::PortNameOfText(portText));
    const bool found = m_terminal.FindTerminal(portText);
    m_view.SearchEnded();
    return found;
}

RunRecord::File ListedFileRecord(const CTerminal& terminal, const CString& file)
{
    RunRecord::File entry;
    entry.name = file;
    entry.module = terminal.ModuleNameForFile(file);
    if (ReadFileSize(file, &entry.bytes) != FileSizeRead::Ok)
        entry.bytes = -1;
    return entry;
}

UpdateRun::Step UpdateRun::Identify()
{
    using Outcome = Identification::Outcome;
    const Identification found = IdentifyReader(m_terminal);
    m_description = found.description;
    if (found.outcome == Outcome::Unreadable) {
        LogLine("%s", kDescriptionFailed);
        m_terminal.ClosePort();
        return UnpluggedOr(RUN_DESCRIPTION_UNREADABLE);
    }
    m_record.model = ModelCodeText(found.description);
    m_record.description = DescriptionHex(found.description);
    if (found.outcome == Outcome::Known)
        m_terminal.LoadConstraints(found.model->code);
    m_view.SetStepText(found.model != nullptr ? LoadResString(found.model->stepTextId) : CString());
    if (found.outcome == Outcome::Known)
        return std::nullopt;
    m_terminal.ClosePort();
    if (found.outcome == Outcome::InvalidFileName)
        return RUN_INVALID_FILE_NAME;
    LogLine("%s", kHardwareMismatch);
    return RUN_HARDWARE_MISMATCH;
}

void UpdateRun::PrepareLoadLoop()
{
    m_view.SetTotalRange(m_terminal.GetLoadListCount() & 0xFFFF);
    m_view.SetTotalStep(1);
    m_view.SetTotalPosition(0);
    m_module.clear();
    m_file.clear();
    m_record.files.clear();
    // A signature file's module is named from the upper-case copy of the list: taken
    // first, the record names each file's module as its announce will.
    m_terminal.SnapshotLoadList();
    for (const CString& file : m_terminal.GetLoadList())
        m_record.files.push_back(ListedFileRecord(m_terminal, file));
    m_state = kApplications;
    m_filesSent = 0;
}

UpdateRun::Step UpdateRun::RunState()
{
    switch (m_state) {
    case kApplications: return ReadApplications();
    case kConstraints: return TestConstraints();
    case kAnnounce: return Announce();
    case kAuthorisation: return Authorise();
    case kDownload: return Download();
    case kActivation: return Activate();
    case kFinalRestart: return FinalRestart();
    }
    return std::nullopt;
}

RunResult UpdateRun::Fail(RunResult result)
{
    // Whatever failed on the port, a port that has gone means a pulled cable: the
    // operator is told to plug the reader back in, not to check the package.
    const bool onThePort = result != RUN_CONSTRAINTS_NOT_MET && result != RUN_OTHER_READER_FOUND;
    return CriticalError(onThePort ? UnpluggedOr(result) : result);
}

RunResult UpdateRun::CriticalError(RunResult result)
{
    m_terminal.ClosePort();
    m_view.SetStepText(LoadResString(IDS_CRITICAL_ERROR));
    return result;
}

RunResult UpdateRun::UnpluggedOr(RunResult result)
{
    if (!m_terminal.PortHasGone())
        return result;
    LogLine("%s", kUnplugged);
    return RUN_READER_UNPLUGGED;
}

UpdateRun::Step UpdateRun::ReadApplications()
{
    m_applications.RemoveAll();
    if (!m_terminal.ReadApplicationNames(m_applications)) {
        LogLine("%s", kApplicationsFailed);
        return Fail(RUN_APPLICATIONS_UNREADABLE);
    }
    m_state = kConstraints;
    return std::nullopt;
}

UpdateRun::Step UpdateRun::TestConstraints()
{
    LogLine("%s", kCheckingConstraints);
    if (!m_terminal.CheckConstraints(m_applications)) {
        LogLine("%s", kConstraintsRefused);
        return Fail(RUN_CONSTRAINTS_NOT_MET);
    }
    LogLine("%s", kConstraintsOk);
    m_state = kAnnounce;
    return std::nullopt;
}

UpdateRun::Step UpdateRun::Announce()
{
    m_view.SetStepText(LoadResString(IDS_BROADCASTING));
    if (!m_sending) {
        m_sending = true;
        m_view.SendingStarts();
    }
    if (!m_terminal.IsLoadListEmpty()) {
        m_file = m_terminal.TakeNextFile();
        m_module = m_terminal.ModuleNameForFile(m_file);
        LogLine("Autorisation %s (%s)", m_file.c_str(), m_module.c_str());
        m_state = kAuthorisation;
    } else {
        // The last file sent is announced again: the reader then activates what it holds.
        LogLine("Activation %s (%s)", m_file.c_str(), m_module.c_str());
        m_state = kActivation;
    }
    const bool announced = m_state == kActivation ? m_terminal.AnnounceAgain(m_file, m_module)
                                                  : m_terminal.AnnounceFile(m_file, m_module);
    if (announced)
        return std::nullopt;
    LogLine("%s", kAnnounceFailed);
    return Fail(RUN_ANNOUNCE_FAILED);
}

UpdateRun::Step UpdateRun::Authorise()
{
    if (!m_terminal.RequestAuthorisation()) {
        LogLine("%s", kAuthorisationRefused);
        return Fail(RUN_AUTHORISATION_REFUSED);
    }
    m_state = kDownload;
    return std::nullopt;
}

UpdateRun::Step UpdateRun::Download()
{
    LogLine("%s", kDownloading);
    const auto index = static_cast<std::size_t>(m_filesSent);
    m_view.FileStarting(m_filesSent + 1, static_cast<int>(m_record.files.size()), m_file,
                        m_module, index < m_record.files.size() ? m_record.files[index].bytes : -1);
    const ULONGLONG start = Os().GetTickCount64();
    const DownloadResult code = m_terminal.DownloadFile(m_file);
    if (code != DL_OK) {
        LogLine("%s", kDownloadFailed);
        return Fail(ResultOfDownload(code));
    }
    RecordSent(Os().GetTickCount64() - start);
    ++m_filesSent;
    m_view.StepTotal();
    if (m_terminal.LoaderStageDone(m_filesSent))
        if (const Step ended = RestartAfterLoader())
            return ended;
    m_state = kAnnounce;
    return std::nullopt;
}

void UpdateRun::RecordSent(ULONGLONG milliseconds)
{
    // Every file before the one in hand was sent, or the run would have ended.
    if (m_filesSent >= static_cast<int>(m_record.files.size()))
        return;
    RunRecord::File& file = m_record.files[static_cast<std::size_t>(m_filesSent)];
    file.sent = true;
    file.seconds = static_cast<double>(milliseconds) / 1000.0;
    file.bytes = m_terminal.GetFileSize();
    file.sha256 = m_terminal.GetFileSha256();
}

UpdateRun::Step UpdateRun::RestartAfterLoader()
{
    LogLine("%s%s", kEndOfModule, m_module.c_str());
    m_view.SetFileText(m_terminal.GetStageLabel(m_filesSent));
    Os().Sleep(kCommandPause);
    LogLine("%s", kActivating);
    // A reader that will not run its new loader must not be sent the rest, nor restarted
    // onto it.
    if (!m_terminal.ActivateModules()) {
        m_view.ShowErrorBox(LoadResString(IDS_ACTIVATION_REFUSED_BOX));
        return Fail(RUN_ACTIVATION_REFUSED);
    }
    m_view.SetFileText(LoadResString(IDS_RESTART_DO_NOT_UNPLUG));
    LogLine("%s", kRestarting);
    Os().Sleep(kCommandPause);
    m_terminal.RestartTerminal();
    Os().Sleep(kAfterRestartCommand);
    LogLine("%s", kClosingPort);
    m_terminal.ClosePort();
    m_view.SetFileText(LoadResString(IDS_RESTARTING_READER));
    WaitForRestart();

    m_view.SetFileText(LoadResString(IDS_SEARCHING));
    const bool found = Search(m_portText);
    // A port that no longer exists was unplugged, unless the reader turns up elsewhere.
    const bool portGone = !found && m_terminal.GetOpenFailure() == CTerminal::OpenFailure::Absent;
    const bool moved = !found && FindAtFirstPosition();
    // Lost: the run ends at once, without the failure's texts.
    if (!found && !moved) {
        const RunResult lost = portGone ? RUN_READER_UNPLUGGED : RUN_READER_UNREACHABLE;
        if (portGone)
            LogLine("%s", kUnplugged);
        m_view.ShowErrorBox(LoadResString(IDS_REOPEN_FAILED_BOX));
        m_terminal.ClosePort();
        Os().Sleep(kBetweenBoxes);
        m_view.ShowErrorBox(LoadResString(ResultMessageId(lost)));
        return lost;
    }
    if (!ConfigureUpdateLink(m_terminal))
        return RUN_READER_UNREACHABLE;
    Os().Sleep(kSettleAfterReopen);
    Os().Sleep(kAfterSettle);
    if (moved && !IsTheSameReader()) {
        LogLine("Le terminal du port COM%d n'est pas celui en cours de mise a jour, arret",
                m_terminal.GetPortNumber());
        return Fail(RUN_OTHER_READER_FOUND);
    }
    return std::nullopt;
}

bool UpdateRun::IsTheSameReader()
{
    TerminalDescription now = {};
    if (!m_terminal.ReadTerminalDescription(&now))
        return false;
    return SameModelAndOptions(now, m_description);
}

bool UpdateRun::FindAtFirstPosition()
{
    if (!m_positionKnown)
        return false;
    const int previous = m_terminal.GetPortNumber();
    LogLine("Terminal absent du port COM%d, recherche du port a sa position USB (HUB= %d, "
            "HUBPORT = %d)", previous, m_hub, m_hubPort);
    int moved = 0;
    m_view.SearchStarting(CString());
    const bool there = m_terminal.FindPortAtUsbPosition(m_hub, m_hubPort, &moved);
    m_view.SearchEnded();
    if (!there || moved == previous) {
        LogLine("Aucun autre port a cette position USB");
        return false;
    }
    LogLine("Terminal revenu sur le port COM%d, recherche sur ce port", moved);
    m_portText = "COM" + std::to_string(moved);
    if (!Search(m_portText))
        return false;
    m_record.portAfterRestart = proto::PortNameOfText(m_portText);
    return true;
}

void UpdateRun::WaitForRestart()
{
    constexpr unsigned long kWaitMs = kRestartSlices * kRestartSliceMs;
    for (int slice = 0; slice < kRestartSlices; ++slice) {
        m_view.RestartWaiting(static_cast<unsigned long>(slice) * kRestartSliceMs, kWaitMs);
        m_terminal.SetPercent(slice * 5 / 2);
        SleepAtLeast(kRestartSliceMs);
    }
    m_terminal.SetPercent(100);
    m_view.RestartWaiting(kWaitMs, kWaitMs);
}

UpdateRun::Step UpdateRun::Activate()
{
    m_view.SetStepText(LoadResString(IDS_ACTIVATING_MODULES));
    if (!m_terminal.ActivateModules()) {
        m_view.ShowErrorBox(LoadResString(IDS_ACTIVATION_REFUSED_BOX));
        // Never a success: the files are on the reader but not in use.
        return Fail(RUN_ACTIVATION_REFUSED);
    }
    m_state = kFinalRestart;
    return std::nullopt;
}

UpdateRun::Step UpdateRun::FinalRestart()
{
    m_view.SetStepText(LoadResString(IDS_FINISHING));
    m_terminal.RestartTerminal();
    if (!m_settings.verify)
        return RUN_SUCCEEDED;
    return VerifyAfterRestart();
}

UpdateRun::Step UpdateRun::VerifyAfterRestart()
{
    Os().Sleep(kAfterRestartCommand);
    m_terminal.ClosePort();
    m_view.SetFileText(LoadResString(IDS_RESTARTING_READER));
    WaitForRestart();
    m_view.SetFileText(LoadResString(IDS_SEARCHING));
    // Its port may leave the list while it restarts: that is the restart, not a pulled
    // cable, so nothing here asks whether the port has gone.
    if (!FindAgain())
        return m_terminal.GetOpenFailure() == CTerminal::OpenFailure::Busy
                   ? CriticalError(RUN_PORT_BUSY)
                   : NotBack();
    TerminalDescription now = {};
    if (!ConfigureUpdateLink(m_terminal))
        return NotBack();
    Os().Sleep(kSettleAfterReopen);
    Os().Sleep(kAfterSettle);
    if (!m_terminal.ReadTerminalDescription(&now))
        return NotBack();
    if (!SameModelAndOptions(now, m_description)) {
        LogLine("Le terminal du port COM%d n'est pas celui en cours de mise a jour, arret",
                m_terminal.GetPortNumber());
        return Fail(RUN_OTHER_READER_FOUND);
    }
    CStringList applications;
    if (!m_terminal.ReadApplicationNames(applications))
        return NotBack();
    LogLine("Lecteur retrouve apres la mise a jour sur le port COM%d", m_terminal.GetPortNumber());
    RecordAfter(now, applications);
    return RUN_SUCCEEDED;
}

bool UpdateRun::FindAgain()
{
    if (Search(m_portText))
        return true;
    // Held by another program: the reader is there, and no other port is its.
    return m_terminal.GetOpenFailure() != CTerminal::OpenFailure::Busy && FindAtFirstPosition();
}

RunResult UpdateRun::NotBack()
{
    LogLine("%s", kNotBackAfterUpdate);
    return CriticalError(RUN_READER_NOT_BACK);
}

void UpdateRun::RecordAfter(const TerminalDescription& now, const CStringList& applications)
{
    RunRecord::Reader after;
    after.model = ModelCodeText(now);
    after.description = DescriptionHex(now);
    after.options = OptionBytesHex(now);
    after.applications.assign(applications.begin(), applications.end());
    m_record.after = after;
    m_record.verified = true;
}

RunResult UpdateRun::NotDetected()
{
    const CString notDetected = LoadResString(IDS_NOT_DETECTED);
    LogLine("%s", notDetected.c_str());
    m_view.SetStepText(notDetected);
    return RUN_READER_UNREACHABLE;
}

RunResult UpdateRun::Finish(RunResult result)
{
    m_terminal.ClosePort();
    LogLine("Resultat de la mise a jour : %d (message %u)", result, ResultMessageId(result));
    m_view.EndRun(result);
    return result;
}
