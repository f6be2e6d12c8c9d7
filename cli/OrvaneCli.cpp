// OrvaneCli: the technician's console companion. Runs one link operation against the
// reader on the port named by a port-list text; results on standard output, progress and
// messages on standard error, the outcome in the exit code.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "PortCommands.h"
#include "UpdateCommand.h"
#include "engine/RunResult.h"
#include "Progress.h"
#include "terminal/Terminal.h"
#include "winfw/TimerResolution.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitAnnounceFailed = 20;
constexpr int kExitAuthorisationRefused = 21;
constexpr int kExitReaderNotFound = 30;

const char kUsage[] =
    "usage: OrvaneCli [-v] COMMAND [PORT] [ARGS]\n"
    "  PORT is a port-list text such as COM5 or \"Port COM5 (COM5)\".\n"
    "commands:\n"
    "  find PORT              find the reader's loader; prints \"PORTNAME BAUD\"\n"
    "  describe PORT          prints the model code and the 97-byte description in hex\n"
    "  apps PORT              prints the reader's application names, one per line\n"
    "  send PORT FILE [MOD]   announces, authorises and downloads FILE (module MOD,\n"
    "                         by default the file name in upper case)\n"
    "  activate PORT          activates the loaded modules\n"
    "  restart PORT           restarts the reader\n"
    "  update PORT            in a package directory: the whole update, as the updater\n"
    "                         runs it, without windows; its texts and bars on standard\n"
    "                         error, the operator's message on standard output\n"
    "  check PORT             in a package directory: what the update would decide about\n"
    "                         the reader (model, catalogue, constraints), then the load\n"
    "                         list in sending order, one \"FILE<TAB>MODULE\" line per file\n"
    "  ports                  the port library's COM port list:\n"
    "                         DESCRIPTION<TAB>NUMBER<TAB>INSTANCEID per port\n"
    "  usb PORT               the port's USB position: DRIVERKEY<TAB>HUB<TAB>PORT\n"
    "options:\n"
    "  -v                     echo every diagnostic line on standard error\n"
    "  --help                 this text\n"
    "  --version              the version of the updater it belongs to\n"
    "exit codes: 0 done; 1 failed; 2 bad arguments; 30 reader not found;\n"
    "  send: the download result code (0 to 13), 20 announce failed,\n"
    "  21 authorisation refused;\n"
    "  update: the run result code (0 success, 1 to 21 as the updater's messages);\n"
    "  check: 0 the update would be allowed, otherwise the update's result code\n"
    "  (2 description, 3 applications, 4 constraints, 5 load list, 20 model or\n"
    "  catalogue), 30 reader not found.\n";

int Usage()
{
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The reader found and the link set up as the update run does it.
bool FindAndConfigure(CTerminal& terminal, const std::string& portText)
{
    if (!terminal.FindTerminal(portText))
        return false;
    ConfigureUpdateLink(terminal);
    return true;
}

int RunFind(CTerminal& terminal, const std::string& portText)
{
    if (!terminal.FindTerminal(portText))
        return 1;
    std::printf("%s %d\n", proto::PortNameOfText(portText).c_str(), terminal.GetBaudRate());
    terminal.ClosePort();
    return 0;
}

int RunDescribe(CTerminal& terminal)
{
    TerminalDescription description = {};
    if (!terminal.ReadTerminalDescription(&description))
        return 1;
    std::string model;
    for (char c : description.modelCode)
        model.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    std::printf("%s\n", model.c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(&description);
    for (std::size_t i = 0; i < sizeof description; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
    return 0;
}

int RunApps(CTerminal& terminal)
{
    CStringList names;
    if (!terminal.ReadApplicationNames(names))
        return 1;
    for (const CString& name : names)
        std::printf("%s\n", AnsiToUtf8(name).c_str());
    return 0;
}

std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int RunSend(CTerminal& terminal, const std::string& file, const std::string& module)
{
    if (!terminal.AnnounceFile(file, module))
        return kExitAnnounceFailed;
    if (!terminal.RequestAuthorisation())
        return kExitAuthorisationRefused;
    TimerResolution resolution;
    const double wallStart = WallSeconds();
    const double cpuStart = ProcessCpuSeconds();
    int code;
    {
        ConsoleProgress progress(terminal);
        code = terminal.DownloadFile(file);
    }
    // What a technician needs to judge the link: how long the transfer took, and its cost.
    std::fprintf(stderr, "download: %ld bytes in %.3f s, CPU %.3f s, result %d\n",
                 static_cast<long>(terminal.GetFileSize()), WallSeconds() - wallStart,
                 ProcessCpuSeconds() - cpuStart, code);
    return code;
}

int RunCommand(const std::vector<std::string>& args)
{
    const std::string& command = args[0];
    const std::string& portText = args[1];
    CTerminal terminal;
    if (command == "find")
        return args.size() == 2 ? RunFind(terminal, portText) : Usage();
    if (command == "check")
        return args.size() == 2 ? RunCheck(terminal, portText) : Usage();
    if (command == "update")
        return args.size() == 2 ? RunUpdate(terminal, portText) : Usage();

    const bool known = command == "describe" || command == "apps" || command == "activate" ||
                       command == "restart" || command == "send";
    const bool sizeOk = command == "send" ? (args.size() == 3 || args.size() == 4) : args.size() == 2;
    if (!known || !sizeOk)
        return Usage();

    if (!FindAndConfigure(terminal, portText))
        return command == "send" ? kExitReaderNotFound : 1;
    int code = 1;
    if (command == "describe")
        code = RunDescribe(terminal);
    else if (command == "apps")
        code = RunApps(terminal);
    else if (command == "activate")
        code = terminal.ActivateModules() ? 0 : 1;
    else if (command == "restart")
        code = terminal.RestartTerminal() ? 0 : 1;
    else {
        const std::string file = WindowsPath(args[2]);
        code = RunSend(terminal, file, args.size() == 4 ? args[3] : AnnouncedNameOfPath(file));
    }
    terminal.ClosePort();
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    ::SetConsoleOutputCP(CP_UTF8);
    bool verbose = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("OrvaneCli %s\n", OV_VERSION_TEXT);
            return 0;
        }
        if (arg == "-v" && args.empty())
            verbose = true;
        else
            args.push_back(arg);
    }
    // "ports" alone takes no port.
    if (args.empty() || (args.size() < 2 && args[0] != "ports"))
        return Usage();
    ConsoleSeam console(verbose);
    try {
        if (args[0] == "ports")
            return args.size() == 1 ? RunPorts() : Usage();
        if (args[0] == "usb")
            return args.size() == 2 ? RunUsb(args[1]) : Usage();
        return RunCommand(args);
    } catch (const std::bad_alloc&) {
        // The terminal closed its port as the stack unwound; an update ends as undefined.
        std::fputs("OrvaneCli: memoire insuffisante\n", stderr);
        return args[0] == "update" ? RUN_DOWNLOAD_UNDEFINED : 1;
    }
}
