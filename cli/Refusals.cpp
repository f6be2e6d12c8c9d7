#include "Refusals.h"

#include <windows.h>

#include <cstdio>

#include "ConsoleWriter.h"
#include "package/PackageFolder.h"
#include "terminal/Protocol.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"

namespace {

std::string SearchFailureCause(const CTerminal& terminal, const std::string& portText)
{
    const std::string name = proto::PortNameOfText(portText);
    if (name.empty() || name.size() > proto::kPortNameMaxLength)
        return "not a port name";
    switch (terminal.GetOpenFailure()) {
    case CTerminal::OpenFailure::Busy:
        return "the port cannot be opened: another program holds it";
    case CTerminal::OpenFailure::Absent: return "the port cannot be opened: there is no such port";
    case CTerminal::OpenFailure::Other: return "the port cannot be opened";
    case CTerminal::OpenFailure::None: break;
    }
    return "no reader's loader answered at any rate (9600 to 115200 baud)";
}

} // namespace

std::string PortOf(const std::string& portText)
{
    const std::string name = proto::PortNameOfText(portText);
    return name.empty() || name.size() > proto::kPortNameMaxLength ? portText : name;
}

Refusal SearchRefusal(const char* command, const CTerminal& terminal,
                      const std::string& portText, ExitStatus otherwise)
{
    const bool busy = terminal.GetOpenFailure() == CTerminal::OpenFailure::Busy;
    return {Refusal::Kind::Port, command, portText, SearchFailureCause(terminal, portText),
            busy ? ExitStatus::OfRun(RUN_PORT_BUSY) : otherwise};
}

std::string CurrentDirectory()
{
    std::string ansi;
    return WideToAnsi(CurrentDirectoryWide(), ansi) ? ansi : std::string();
}

bool TakeWhole(std::string& path)
{
    const std::string whole = path.empty() ? path : WholePath(path);
    if (!path.empty() && whole.empty())
        return false;
    path = whole;
    return true;
}

std::string NotInCodePage()
{
    return "has a character the system's code page (" + std::to_string(::GetACP()) +
           ") cannot hold: it would name another file";
}

bool InPackageFolder() { return HoldsCatalogue(); }

namespace {

// The refusal's line, without its command.
std::string Words(const Refusal& refusal)
{
    const std::string subject = AnsiToUtf8(refusal.subject);
    switch (refusal.kind) {
    case Refusal::Kind::Line: return refusal.detail;
    case Refusal::Kind::NotAComPort:
        return "\"" + subject + "\" is not a COM port name (COM and its number, such as COM5)";
    case Refusal::Kind::PathNotInCodePage:
        return "the path " + WideToUtf8(CurrentDirectoryWide()) + "\\" + subject + " " +
               NotInCodePage();
    case Refusal::Kind::PackageFolderUnusable:
        return "the package folder \"" + subject + "\" cannot be used: " + refusal.detail;
    case Refusal::Kind::NotAPackageFolder: {
        const std::wstring folder = CurrentDirectoryWide();
        return "no update package in " + (folder.empty() ? std::string(".") : WideToUtf8(folder)) +
               ": no catalogue*.ini";
    }
    case Refusal::Kind::ReportUnusable:
        return "the report cannot be written to " + subject + ": " + refusal.detail;
    case Refusal::Kind::Port: return AnsiToUtf8(PortOf(refusal.subject)) + ": " + refusal.detail;
    case Refusal::Kind::NotElevated:
        return "the event source is the machine's: run it as an administrator (elevated) or as SYSTEM";
    case Refusal::Kind::RecordUnwritable:
        return "the record " + refusal.subject + " cannot be written: " + refusal.detail;
    case Refusal::Kind::ReportFolderRefused: return "the report's folder is refused: " + refusal.detail;
    case Refusal::Kind::ProgramReplaceable:
        return "as SYSTEM it does not run where users may replace it: " + refusal.detail;
    case Refusal::Kind::Other: break;
    }
    return refusal.detail;
}

} // namespace

ExitStatus Say(const Refusal& refusal)
{
    WriteStderrLine((refusal.command.empty() ? std::string("OrvaneCli") : refusal.command) + ": " +
                    Words(refusal));
    if (refusal.kind == Refusal::Kind::Line)
        WriteStderrLine(refusal.subject.substr(0, refusal.subject.size() - 1));
    return refusal.status;
}

bool ReportPathUsable(const std::string& path, std::string& reason)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (Os().GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes) &&
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reason = "it is a folder";
        return false;
    }
    // A file made beside the report and gone when closed: the folder exists and takes the
    // report's temporary file.
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%lu.probe", Os().GetCurrentProcessId());
    ScopedHandle probe(Os().CreateFileA((path + suffix).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                        nullptr));
    if (probe.IsValid())
        return true;
    const DWORD error = Os().GetLastError();
    switch (error) {
    case ERROR_PATH_NOT_FOUND: reason = "its folder does not exist"; break;
    case ERROR_ACCESS_DENIED: reason = "its folder cannot be written"; break;
    default: reason = "its folder cannot be written (system error " + std::to_string(error) + ")";
    }
    return false;
}

