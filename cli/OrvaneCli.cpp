// OrvaneCli: the technician's console companion. Runs one link operation against the
// reader on the port named by a port-list text; results on standard output, progress and
// messages on standard error, the outcome in the exit code.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "ExitCodes.h"
#include "PortCommands.h"
#include "UpdateCommand.h"
#include "engine/RunResult.h"
#include "Progress.h"
#include "terminal/Terminal.h"
#include "winfw/SystemLibrary.h"
#include "winfw/TimerResolution.h"

namespace {

// The reader found and the link set up as the update run does it.
bool FindAndConfigure(CTerminal& terminal, const std::string& portText)
{
    if (!terminal.FindTerminal(portText))
        return false;
    ConfigureUpdateLink(terminal);
    return true;
}

// A link operation on the reader of `portText`, found and set up first; `notFound` when no
// reader answers there.
template <typename Operation>
ExitStatus OnReader(const std::string& portText, ExitStatus notFound, Operation operation)
{
    CTerminal terminal;
    if (!FindAndConfigure(terminal, portText))
        return SearchFailed(terminal, notFound);
    const ExitStatus status = operation(terminal);
    terminal.ClosePort();
    return status;
}

ExitStatus DescribeReader(CTerminal& terminal)
{
    TerminalDescription description = {};
    if (!terminal.ReadTerminalDescription(&description))
        return ExitCode::Failed;
    std::printf("%s\n", ModelCodeText(description).c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(&description);
    for (std::size_t i = 0; i < sizeof description; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
    return ExitCode::Done;
}

ExitStatus ListApplications(CTerminal& terminal)
{
    CStringList names;
    if (!terminal.ReadApplicationNames(names))
        return ExitCode::Failed;
    for (const CString& name : names)
        std::printf("%s\n", AnsiToUtf8(name).c_str());
    return ExitCode::Done;
}

std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

ExitStatus SendFile(CTerminal& terminal, const std::string& file, const std::string& module)
{
    if (!terminal.AnnounceFile(file, module))
        return ExitCode::AnnounceFailed;
    if (!terminal.RequestAuthorisation())
        return ExitCode::AuthorisationRefused;
    TimerResolution resolution;
    const double wallStart = WallSeconds();
    const double cpuStart = ProcessCpuSeconds();
    DownloadResult code = DL_OK;
    {
        ConsoleProgress progress(terminal);
        code = terminal.DownloadFile(file);
    }
    // What a technician needs to judge the link: how long the transfer took, and its cost.
    std::fprintf(stderr, "download: %ld bytes in %.3f s, CPU %.3f s, result %d\n",
                 static_cast<long>(terminal.GetFileSize()), WallSeconds() - wallStart,
                 ProcessCpuSeconds() - cpuStart, static_cast<int>(code));
    return code;
}

using Args = std::vector<std::string>; // a command's own arguments, after its name

ExitStatus Find(const Args& args)
{
    CTerminal terminal;
    if (!terminal.FindTerminal(args[0]))
        return SearchFailed(terminal, ExitCode::Failed);
    std::printf("%s %d\n", proto::PortNameOfText(args[0]).c_str(), terminal.GetBaudRate());
    terminal.ClosePort();
    return ExitCode::Done;
}

ExitStatus Describe(const Args& args)
{
    return OnReader(args[0], ExitCode::Failed, DescribeReader);
}

ExitStatus Apps(const Args& args) { return OnReader(args[0], ExitCode::Failed, ListApplications); }

ExitStatus Send(const Args& args)
{
    const std::string file = WindowsPath(args[1]);
    const std::string module = args.size() == 3 ? args[2] : AnnouncedNameOfPath(file);
    return OnReader(args[0], ExitCode::ReaderNotFound,
                    [&](CTerminal& terminal) { return SendFile(terminal, file, module); });
}

ExitStatus Activate(const Args& args)
{
    return OnReader(args[0], ExitCode::Failed, [](CTerminal& terminal) -> ExitStatus {
        return terminal.ActivateModules() ? ExitCode::Done : ExitCode::Failed;
    });
}

ExitStatus Restart(const Args& args)
{
    return OnReader(args[0], ExitCode::Failed, [](CTerminal& terminal) -> ExitStatus {
        return terminal.RestartTerminal() ? ExitCode::Done : ExitCode::Failed;
    });
}

ExitStatus Usage();

ExitStatus Update(const Args& args)
{
    UpdateRequest request;
    if (!ParseUpdateArguments(args, request))
        return Usage();
    return RunUpdates(request);
}

ExitStatus Check(const Args& args)
{
    CTerminal terminal;
    return RunCheck(terminal, args[0]);
}

ExitStatus Ports(const Args&) { return RunPorts(); }

ExitStatus Usb(const Args& args) { return RunUsb(args[0]); }

struct Command {
    const char* name;
    const char* form;     // its arguments, as the usage shows them
    const char* help;     // the usage's lines for it, separated by '\n'
    std::size_t minArgs;  // how many arguments it takes
    std::size_t maxArgs;
    ExitStatus (*run)(const Args& args);
};

// Every port a machine can number, and the report's two words.
constexpr std::size_t kMaxUpdateArgs = 258;

// One entry per command, in the order of the usage; a command may have several forms.
const Command kCommands[] = {
    {"find", "PORT", "find the reader's loader; prints \"PORTNAME BAUD\"", 1, 1, Find},
    {"describe", "PORT", "prints the model code and the 97-byte description in hex", 1, 1,
     Describe},
    {"apps", "PORT", "prints the reader's application names, one per line", 1, 1, Apps},
    {"send", "PORT FILE [MOD]",
     "announces, authorises and downloads FILE (module MOD,\n"
     "by default the file name in upper case)",
     2, 3, Send},
    {"activate", "PORT", "activates the loaded modules", 1, 1, Activate},
    {"restart", "PORT", "restarts the reader", 1, 1, Restart},
    {"update", "[--report FILE] PORT|--auto",
     "in a package directory: the whole update, as the updater\n"
     "runs it, without windows; its texts and bars on standard\n"
     "error, the operator's message on standard output; --auto\n"
     "takes the port the updater would select by itself",
     1, 3, Update},
    {"update", "[--report FILE] PORT PORT...|--all",
     "the same on several readers at once (--all: every\n"
     "\"DORAN Kavron\" port); one \"PORT<TAB>CODE<TAB>MESSAGE\"\n"
     "line per port; --report writes a JSON report to FILE",
     1, kMaxUpdateArgs, Update},
    {"check", "PORT",
     "in a package directory: what the update would decide about\n"
     "the reader (model, catalogue, constraints), then the load\n"
     "list in sending order, one \"FILE<TAB>MODULE\" line per file",
     1, 1, Check},
    {"ports", "",
     "the port library's COM port list:\n"
     "DESCRIPTION<TAB>NUMBER<TAB>INSTANCEID per port",
     0, 0, Ports},
    {"usb", "PORT", "the port's USB position: DRIVERKEY<TAB>HUB<TAB>PORT", 1, 1, Usb},
};

const char kUsageHead[] =
    "usage: OrvaneCli [-v] COMMAND [PORT] [ARGS]\n"
    "  PORT is a port-list text such as COM5 or \"Port COM5 (COM5)\".\n"
    "commands:\n";

const char kUsageTail[] =
    "options:\n"
    "  -v                     echo every diagnostic line on standard error\n"
    "  --help                 this text\n"
    "  --version              the version of the updater it belongs to\n"
    "exit codes: 0 done; 1 failed; 2 bad arguments; 30 reader not found;\n"
    "  send: the download result code (0 to 13), 20 announce failed,\n"
    "  21 authorisation refused;\n"
    "  update: the run result code (0 success, 1 to 24 as the updater's messages;\n"
    "  with several ports the first failed run's), 31 when every run succeeded\n"
    "  but the report could not be written;\n"
    "  check: 0 the update would be allowed, otherwise the update's result code\n"
    "  (2 description, 3 applications, 4 constraints, 5 load list, 20 model or\n"
    "  catalogue), 30 reader not found.\n";

// Where a command's help starts on its usage lines.
constexpr std::size_t kHelpColumn = 25;

std::string UsageText()
{
    std::string text = kUsageHead;
    for (const Command& command : kCommands) {
        std::string line = std::string("  ") + command.name;
        if (command.form[0] != '\0')
            line += std::string(" ") + command.form;
        // A long form puts its help on the next line, in the column.
        if (line.size() >= kHelpColumn)
            line += "\n" + std::string(kHelpColumn, ' ');
        else
            line.resize(kHelpColumn, ' ');
        for (const char* c = command.help; *c != '\0'; ++c) {
            line += *c;
            if (*c == '\n')
                line.append(kHelpColumn, ' ');
        }
        text += line + "\n";
    }
    return text + kUsageTail;
}

ExitStatus Usage()
{
    std::fputs(UsageText().c_str(), stderr);
    return ExitCode::BadArguments;
}

// The command that `name` names and whose argument count `args` meets; null when none.
const Command* FindCommand(const std::string& name, const Args& args)
{
    for (const Command& command : kCommands)
        if (name == command.name && args.size() >= command.minArgs &&
            args.size() <= command.maxArgs)
            return &command;
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything can load a library: the package folder is no place to find one.
    RestrictDllSearchToSystem32();
    ::SetConsoleOutputCP(CP_UTF8);
    bool verbose = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText().c_str(), stdout);
            return static_cast<int>(ExitCode::Done);
        }
        if (arg == "--version") {
            std::printf("OrvaneCli %s\n", OV_VERSION_TEXT);
            return static_cast<int>(ExitCode::Done);
        }
        if (arg == "-v" && words.empty())
            verbose = true;
        else
            words.push_back(arg);
    }
    if (words.empty())
        return Usage().Code();
    const Args args(words.begin() + 1, words.end());
    const Command* command = FindCommand(words[0], args);
    if (command == nullptr)
        return Usage().Code();
    ConsoleSeam console(verbose);
    try {
        return command->run(args).Code();
    } catch (const std::bad_alloc&) {
        // The terminal closed its port as the stack unwound; an update ends as undefined.
        std::fputs("OrvaneCli: memoire insuffisante\n", stderr);
        const ExitStatus status =
            command->run == Update ? ExitStatus(RUN_DOWNLOAD_UNDEFINED) : ExitCode::Failed;
        return status.Code();
    }
}
