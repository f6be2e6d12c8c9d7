#include "Refusals.h"

#include <windows.h>

#include <cstdio>

#include "ConsoleWriter.h"
#include "package/PackageFolder.h"
#include "terminal/Protocol.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"

std::string PortOf(const std::string& portText)
{
    const std::string name = proto::PortNameOfText(portText);
    return name.empty() || name.size() > proto::kPortNameMaxLength ? portText : name;
}

bool RefuseNotAComPort(const std::string& portText)
{
    WriteStderrLine("OrvaneCli: \"" + AnsiToUtf8(portText) +
                    "\" is not a COM port name (COM and its number, such as COM5)");
    return false;
}

void SayFailure(const char* command, const std::string& portText, const std::string& cause)
{
    WriteStderrLine(std::string(command) + ": " + AnsiToUtf8(PortOf(portText)) + ": " + cause);
}

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

ExitStatus SearchFailed(const char* command, const CTerminal& terminal,
                        const std::string& portText, ExitStatus otherwise)
{
    SayFailure(command, portText, SearchFailureCause(terminal, portText));
    if (terminal.GetOpenFailure() == CTerminal::OpenFailure::Busy)
        return ExitStatus::OfRun(RUN_PORT_BUSY);
    return otherwise;
}

std::string CurrentDirectory()
{
    std::string ansi;
    return WideToAnsi(CurrentDirectoryWide(), ansi) ? ansi : std::string();
}

bool TakeWhole(const char* command, std::string& path)
{
    if (path.empty())
        return true;
    const std::string whole = WholePath(path);
    if (!whole.empty()) {
        path = whole;
        return true;
    }
    WriteStderrLine(std::string(command) + ": the path " + WideToUtf8(CurrentDirectoryWide()) +
                    "\\" + AnsiToUtf8(path) + " " + NotInCodePage());
    return false;
}

std::string NotInCodePage()
{
    return "has a character the system's code page (" + std::to_string(::GetACP()) +
           ") cannot hold: it would name another file";
}

bool InPackageFolder() { return HoldsCatalogue(); }

ExitStatus NotInPackageFolder(const char* command)
{
    const std::wstring folder = CurrentDirectoryWide();
    WriteStderrLine(std::string(command) + ": no update package in " +
                    (folder.empty() ? std::string(".") : WideToUtf8(folder)) +
                    ": no catalogue*.ini");
    return ExitStatus::NotAPackageFolder;
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

