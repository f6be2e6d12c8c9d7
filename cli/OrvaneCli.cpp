// OrvaneCli: the technician's console companion. Runs one link operation against the
// reader on the port named by a port-list text; results on standard output, progress and
// messages on standard error, the outcome in the exit code.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "CommandLine.h"
#include "ConsoleWriter.h"
#include "EndSessionGuard.h"
#include "ExitCodes.h"
#include "PackageTrust.h"
#include "PortCommands.h"
#include "Progress.h"
#include "Refusals.h"
#include "Registration.h"
#include "UpdateCommand.h"
#include "engine/RunResult.h"
#include "package/PackageFolder.h"
#include "terminal/Terminal.h"
#include "winfw/HeldFolder.h"
#include "winfw/KnownPlaces.h"
#include "winfw/SystemLibrary.h"
#include "winfw/TimerResolution.h"

namespace {

using Args = std::vector<std::string>;

// The reader found and the link set up as the update run does it.
bool FindAndConfigure(CTerminal& terminal, const std::string& portText)
{
    if (!SearchReader(terminal, portText))
        return false;
    if (ConfigureUpdateLink(terminal))
        return true;
    terminal.ClosePort();
    return false;
}

// A link operation on the reader of `portText`, found and set up first; `notFound` when no
// reader answers there. The operation gives its failure's cause in `cause`.
template <typename Operation>
ExitStatus OnReader(const char* command, const std::string& portText, ExitStatus notFound,
                    Operation operation)
{
    CTerminal terminal;
    if (!FindAndConfigure(terminal, portText))
        return Say(SearchRefusal(command, terminal, portText, notFound));
    std::string cause;
    const ExitStatus status = operation(terminal, cause);
    terminal.ClosePort();
    if (!cause.empty())
        Say({Refusal::Kind::Port, command, portText, cause});
    return status;
}

ExitStatus DescribeReader(CTerminal& terminal, std::string& cause)
{
    TerminalDescription description = {};
    if (!terminal.ReadTerminalDescription(&description)) {
        cause = "the reader answered but its description could not be read";
        return ExitStatus::Failed;
    }
    std::printf("%s\n", ModelCodeText(description).c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(&description);
    for (std::size_t i = 0; i < sizeof description; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
    return ExitStatus::Done;
}

ExitStatus ActivateModules(CTerminal& terminal, std::string& cause)
{
    if (terminal.ActivateModules())
        return ExitStatus::Done;
    cause = "the reader did not accept the activation";
    return ExitStatus::Failed;
}

ExitStatus RestartReader(CTerminal& terminal, std::string& cause)
{
    if (terminal.RestartTerminal())
        return ExitStatus::Done;
    cause = "the reader did not acknowledge the restart";
    return ExitStatus::Failed;
}

ExitStatus ListApplications(CTerminal& terminal, std::string& cause)
{
    CStringList names;
    if (!terminal.ReadApplicationNames(names)) {
        cause = "the reader answered but its applications could not be read";
        return ExitStatus::Failed;
    }
    for (const CString& name : names)
        WriteStdoutLine(AnsiToUtf8(name));
    return ExitStatus::Done;
}

std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

ExitStatus SendFile(CTerminal& terminal, const std::string& file, const std::string& module,
                    std::string& cause)
{
    const std::string name = AnsiToUtf8(AnnouncedNameOfPath(file));
    if (!terminal.AnnounceFile(file, module)) {
        cause = "the announce of " + name +
                " failed: the file is missing, unreadable or too large, or the reader refused it";
        return ExitStatus::AnnounceFailed;
    }
    if (!terminal.RequestAuthorisation()) {
        cause = "the reader refused the authorisation to send " + name;
        return ExitStatus::AuthorisationRefused;
    }
    TimerResolution resolution;
    const double wallStart = WallSeconds();
    const double cpuStart = ProcessCpuSeconds();
    DownloadResult code = DL_OK;
    {
        ConsoleProgress progress(terminal);
        code = terminal.DownloadFile(file);
    }
    // What a technician needs to judge the link: how long the transfer took, and its cost.
    // After the bar's last figure, through the console's one writer.
    char cost[128];
    std::snprintf(cost, sizeof cost, "download: %ld bytes in %.3f s, CPU %.3f s, result %d",
                  static_cast<long>(terminal.GetFileSize()), WallSeconds() - wallStart,
                  ProcessCpuSeconds() - cpuStart, static_cast<int>(code));
    WriteStderrLine(cost);
    if (code != DL_OK)
        cause = "the download of " + name + " failed with result " + std::to_string(code);
    return ExitStatus::OfDownload(code);
}

// The package's folder named by --package made the current directory, before anything is
// opened; without it, the current directory is the package's as it is. Why the folder
// cannot be used, or empty.
std::string EnterPackage(const GlobalOptions& options)
{
    std::string reason;
    return options.package.empty() || EnterPackageFolder(options.package, reason) ? "" : reason;
}

// A command's port: false, the line or the name refused, otherwise.
bool TakePort(ArgumentReader& args, std::string& port)
{
    const bool taken = args.Take("PORT", port);
    if (taken && !IsComPortArgument(port))
        Say({Refusal::Kind::NotAComPort, "", port});
    return taken && IsComPortArgument(port);
}

// A command that takes one port and nothing else; false, the line refused, otherwise.
bool OnePort(ArgumentReader& args, std::string& port)
{
    return TakePort(args, port) && args.Done();
}

ExitStatus Find(const GlobalOptions&, ArgumentReader& args)
{
    std::string port;
    if (!OnePort(args, port))
        return ExitStatus::BadArguments;
    CTerminal terminal;
    if (!SearchReader(terminal, port))
        return Say(SearchRefusal("find", terminal, port, ExitStatus::Failed));
    std::printf("%s %d\n", proto::PortNameOfText(port).c_str(), terminal.GetBaudRate());
    terminal.ClosePort();
    return ExitStatus::Done;
}

// A command that takes one port and runs `operation` on its reader.
template <ExitStatus (*operation)(CTerminal&, std::string&)>
ExitStatus OnOneReader(const GlobalOptions&, ArgumentReader& args)
{
    std::string port;
    if (!OnePort(args, port))
        return ExitStatus::BadArguments;
    return OnReader(args.Command().c_str(), port, ExitStatus::Failed, operation);
}

ExitStatus Send(const GlobalOptions&, ArgumentReader& args)
{
    std::string port;
    std::string file;
    std::string module;
    if (!TakePort(args, port) || !args.Take("FILE", file))
        return ExitStatus::BadArguments;
    file = WindowsPath(file);
    if (!args.TakeOptional(module))
        module = AnnouncedNameOfPath(file);
    if (!args.Done())
        return ExitStatus::BadArguments;
    return OnReader("send", port, ExitStatus::ReaderNotFound,
                    [&](CTerminal& terminal, std::string& cause) {
                        return SendFile(terminal, file, module, cause);
                    });
}

// The refusals update and check share, in their order: port names, the report's path (a
// file named from where the command was started), the package folder, then the report's
// folder. Nothing is opened before the two things a whole update needs at its end and start.
std::optional<ExitStatus> RefusedRequest(const char* command, const GlobalOptions& options,
                                         UpdateRequest& request)
{
    for (const std::string& port : request.named)
        if (!IsComPortArgument(port))
            return Say({Refusal::Kind::NotAComPort, "", port});
    if (!TakeWhole(request.reportPath))
        return Say({Refusal::Kind::PathNotInCodePage, command, request.reportPath});
    if (const std::string why = EnterPackage(options); !why.empty())
        return Say({Refusal::Kind::PackageFolderUnusable, command, options.package, why});
    if (!InPackageFolder())
        return Say({Refusal::Kind::NotAPackageFolder, command, "", "", ExitStatus::NotAPackageFolder});
    std::string reason;
    if (!request.reportPath.empty() && !ReportPathUsable(request.reportPath, reason))
        return Say({Refusal::Kind::ReportUnusable, command, request.reportPath, reason});
    return std::nullopt;
}

ExitStatus Update(const GlobalOptions& options, ArgumentReader& args)
{
    UpdateRequest request;
    if (!ParseUpdateArguments(args, request))
        return ExitStatus::BadArguments;
    if (const std::optional<ExitStatus> refused = RefusedRequest("update", options, request))
        return *refused;
    EndSessionGuard guard;
    return RunUpdates(request);
}

ExitStatus Check(const GlobalOptions& options, ArgumentReader& args)
{
    // The same ports as update's; nothing of the machine is recorded by a check.
    if (args.Has("--record") || args.Has("--watch")) {
        args.Refuse(std::string(args.Has("--record") ? "--record" : "--watch") +
                    " is update's alone");
        return ExitStatus::BadArguments;
    }
    UpdateRequest request;
    if (!ParseUpdateArguments(args, request))
        return ExitStatus::BadArguments;
    if (const std::optional<ExitStatus> refused = RefusedRequest("check", options, request))
        return *refused;
    return RunChecks(request);
}

// A command that takes no argument.
template <ExitStatus (*run)()>
ExitStatus NoArguments(const GlobalOptions&, ArgumentReader& args)
{
    return args.Done() ? run() : ExitStatus::BadArguments;
}

ExitStatus Usb(const GlobalOptions&, ArgumentReader& args)
{
    std::string port;
    if (!OnePort(args, port))
        return ExitStatus::BadArguments;
    SlowWaitNotice notice("looking for the USB position of " +
                          AnsiToUtf8(proto::PortNameOfText(port)) + "...");
    return RunUsb(port);
}

ExitStatus Help(const GlobalOptions&, ArgumentReader& args);

struct Command {
    const char* name;
    const char* form;   // its arguments, as the usage shows them
    const char* help;   // the usage's lines for it, separated by '\n'
    const char* exits;  // its exit codes besides 2 (bad arguments); null on a second form
    ExitStatus (*run)(const GlobalOptions& options, ArgumentReader& args);
};

// The run results run up to the last one the updater knows.
const std::string kUpdateExits =
    "the run's result (0 success, 1 to " + std::to_string(kLastRunResult) +
    " as the updater's\n"
    "messages; with several ports the first failed run's),\n"
    "2 also when the report's folder cannot be written, the\n"
    "--package folder cannot be read or the record cannot be\n"
    "opened for writing (nothing sent),\n"
    "31 every run succeeded but the report or the record\n"
    "was not written,\n"
    "32 not started in a package folder (nothing opened),\n"
    "33 interrupted before anything was sent (Ctrl+C or\n"
    "Ctrl+Break before the first file was announced)";

// One entry per form, in the order of the usage; a command's first entry runs it.
const Command kCommands[] = {
    {"find", "PORT", "find the reader's loader; prints \"PORTNAME BAUD\"",
     "0 found, 1 no reader found, 22 the port is held by another program", Find},
    {"describe", "PORT", "prints the model code and the 97-byte description in hex",
     "0 done, 1 no reader found or no description, 22 the port is held", OnOneReader<DescribeReader>},
    {"apps", "PORT", "prints the reader's application names, one per line",
     "0 done, 1 no reader found or no list, 22 the port is held", OnOneReader<ListApplications>},
    {"send", "PORT FILE [MOD]",
     "announces, authorises and downloads FILE (module MOD,\n"
     "by default the file name in upper case)",
     "the download's result (0 done, 1 to 13), 20 announce failed,\n"
     "21 authorisation refused, 22 the port is held, 30 no reader found",
     Send},
    {"activate", "PORT", "activates the loaded modules",
     "0 done, 1 no reader found or activation refused, 22 the port is held", OnOneReader<ActivateModules>},
    {"restart", "PORT", "restarts the reader",
     "0 done, 1 no reader found or no answer, 22 the port is held", OnOneReader<RestartReader>},
    {"update", "[--report FILE] [--record NAME] [--verify] PORT|--auto",
     "in a package folder: the whole update, as the updater\n"
     "runs it, without windows; its texts and bars on standard\n"
     "error, the operator's message on standard output; --auto\n"
     "takes the port the updater would select by itself",
     kUpdateExits.c_str(), Update},
    {"update", "[--report FILE] [--record NAME] [--verify] PORT PORT...|--all",
     "the same on several readers at once (--all: every\n"
     "\"DORAN Kavron\" port); one \"PORT<TAB>CODE<TAB>MESSAGE\"\n"
     "line per port; --report writes a JSON report to FILE;\n"
     "--record writes the exit code (Result), the time\n"
     "(Finished) and each port's result (Readers) to the\n"
     "registry key HKLM\\SOFTWARE\\Orvane\\Records\\NAME (NAME:\n"
     "1 to 64 letters, digits, -, _ or .); SYSTEM or an\n"
     "elevated administrator only; --verify waits for each\n"
     "reader after its final restart, finds it again and reads\n"
     "it: the same model and options or the run fails (26 no\n"
     "answer, 24 another reader)",
     nullptr, Update},
    {"update", "[--report FILE] --watch",
     "a depot station: every \"DORAN Kavron\" reader present or\n"
     "plugged in later is updated and verified on its own, a\n"
     "line at its start and one at its end; --report is\n"
     "rewritten after each run; a line \"q\" or Ctrl+C ends it\n"
     "once the running updates have ended",
     "0 every reader updated, 1 none seen, otherwise the first\n"
     "failed run's result in the order they ended",
     Update},
    {"check", "[--report FILE] PORT",
     "in a package folder: what the update would decide about\n"
     "the reader (model, catalogue, constraints), then the load\n"
     "list in sending order, one \"FILE<TAB>MODULE\" line per file",
     "0 the update would be allowed, otherwise the update's result\n"
     "(2 description, 3 applications, 4 constraints, 5 load list,\n"
     "20 model or catalogue, 25 a listed name that is not a file of\n"
     "the package), 22 the port is held, 30 no reader found,\n"
     "32 not started in a package folder (nothing opened),\n"
     "2 also when the --package folder or the report's folder\n"
     "cannot be read; with several ports the first verdict that\n"
     "is not 0, in the ports' order",
     Check},
    {"check", "[--report FILE] PORT PORT...|--auto|--all",
     "the same on several readers at once, each asked for its\n"
     "description and application list only (nothing sent): one\n"
     "\"PORT<TAB>VERDICT<TAB>MODEL<TAB>REASON\" line per port,\n"
     "VERDICT 0 when the update would update the reader;\n"
     "--report writes a JSON report to FILE (each reader's\n"
     "options, applications and the files it would be sent)",
     nullptr, Check},
    {"ports", "",
     "the port library's COM port list:\n"
     "DESCRIPTION<TAB>NUMBER<TAB>INSTANCEID per port",
     "0 done (also with no port), 1 the library or its list failed", NoArguments<RunPorts>},
    {"usb", "PORT", "the port's USB position: DRIVERKEY<TAB>HUB<TAB>PORT",
     "0 found, 1 not found or the library failed", Usb},
    {"register", "",
     "as an administrator, once: makes this OrvaneCli.exe, installed\n"
     "under Program Files, the event source \"Orvane\", and makes\n"
     "the machine's data folder (%ProgramData%\\Orvane\\Journal)",
     "0 registered, 1 the registry or the data folder refused,\n"
     "2 not elevated, or this copy is not inside Program Files or\n"
     "users may change it or a folder above it (nothing changed)",
     NoArguments<RunRegister>},
    {"unregister", "", "as an administrator: removes the event source (the journals stay)",
     "0 removed or there was none, 1 the registry refused, 2 not elevated", NoArguments<RunUnregister>},
    {"help", "[COMMAND]", "this text, or COMMAND's", "0", Help},
};

const char kShortUsage[] = "usage: OrvaneCli [-v] [--package DIR] COMMAND [ARGS]\n";

const char kUsageHead[] =
    "usage: OrvaneCli [-v] [--package DIR] COMMAND [ARGS]\n"
    "  PORT is a port-list text such as COM5 or \"Port COM5 (COM5)\".\n"
    "commands:\n";

const char kOptions[] =
    "options, anywhere on the line:\n"
    "  -v                     echo every diagnostic line on standard error\n"
    "  --package DIR          read the update package from DIR, not from the\n"
    "                         current folder (check, update)\n"
    "  -h, --help             this text (with a command: that command's)\n"
    "  --version              the version of the updater it belongs to\n";

// Where a command's help starts on its usage lines.
constexpr std::size_t kHelpColumn = 25;

// `text`'s lines, the first after `line` (padded to the column, or on a line of its own
// when `line` reaches it), the others in the column.
std::string InColumn(std::string line, const char* text)
{
    if (line.size() >= kHelpColumn)
        line += "\n" + std::string(kHelpColumn, ' ');
    else
        line.resize(kHelpColumn, ' ');
    for (const char* c = text; *c != '\0'; ++c) {
        line += *c;
        if (*c == '\n')
            line.append(kHelpColumn, ' ');
    }
    return line + "\n";
}

std::string FormLine(const Command& command)
{
    std::string line = command.name;
    if (command.form[0] != '\0')
        line += std::string(" ") + command.form;
    return line;
}

std::string UsageText()
{
    std::string text = kUsageHead;
    for (const Command& command : kCommands)
        text += InColumn("  " + FormLine(command), command.help);
    text += kOptions;
    text += "exit codes (every command: 2 bad arguments):\n";
    for (const Command& command : kCommands)
        if (command.exits != nullptr)
            text += InColumn(std::string("  ") + command.name, command.exits);
    return text;
}

// The usage lines of one command: each of its forms.
std::string CommandUsage(const std::string& name)
{
    std::string text;
    for (const Command& command : kCommands)
        if (name == command.name)
            text += "usage: OrvaneCli [-v] [--package DIR] " + FormLine(command) + "\n";
    return text;
}

// One command's whole help: its forms, what they do, and its exit codes.
std::string CommandHelp(const std::string& name)
{
    std::string text = CommandUsage(name);
    for (const Command& command : kCommands)
        if (name == command.name) {
            text += InColumn("  " + FormLine(command), command.help);
            if (command.exits != nullptr)
                text += InColumn("  exit codes", command.exits);
        }
    return text;
}

const Command* FindCommand(const std::string& name)
{
    for (const Command& command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

ExitStatus UnknownCommand(const std::string& name)
{
    // A misspelt global option before the command (`--packge DIR update`).
    if (name.size() > 1 && name[0] == '-')
        return Say({Refusal::Kind::Line, "", kShortUsage, UnknownOptionReason(name, "", {})});
    std::vector<std::string> names;
    for (const Command& command : kCommands)
        names.push_back(command.name);
    const std::string nearest = NearestName(name, names);
    if (nearest.empty())
        return Say({Refusal::Kind::Line, "", kShortUsage,
                    "unknown command \"" + name + "\" (OrvaneCli help lists them)"});
    return Say({Refusal::Kind::Line, "", CommandUsage(nearest),
                "unknown command \"" + name + "\"; did you mean \"" + nearest + "\"?"});
}

ExitStatus Help(const GlobalOptions&, ArgumentReader& args)
{
    std::string name;
    const bool named = args.TakeOptional(name);
    if (!args.Done())
        return ExitStatus::BadArguments;
    if (!named) {
        std::fputs(UsageText().c_str(), stdout);
        return ExitStatus::Done;
    }
    if (FindCommand(name) == nullptr)
        return UnknownCommand(name);
    std::fputs(CommandHelp(name).c_str(), stdout);
    return ExitStatus::Done;
}

ExitStatus RunCommand(const GlobalOptions& options, const Args& words)
{
    if (options.help) {
        const bool one = !words.empty() && FindCommand(words[0]) != nullptr;
        std::fputs(one ? CommandHelp(words[0]).c_str() : UsageText().c_str(), stdout);
        return ExitStatus::Done;
    }
    if (!options.refusal.empty())
        return Say({Refusal::Kind::Line, "", kShortUsage, options.refusal});
    if (words.empty())
        return Say({Refusal::Kind::Line, "", UsageText(), "no command given"});
    const Command* command = FindCommand(words[0]);
    if (command == nullptr)
        return UnknownCommand(words[0]);
    ArgumentReader args(command->name, Args(words.begin() + 1, words.end()));
    try {
        const ExitStatus status = command->run(options, args);
        if (args.Failed())
            return Say({Refusal::Kind::Line, "", CommandUsage(command->name),
                        std::string(command->name) + ": " + args.Reason()});
        return status;
    } catch (const std::bad_alloc&) {
        // The terminal closed its port as the stack unwound; an update ends as undefined.
        try {
            WriteStderrLine("OrvaneCli: memoire insuffisante");
        } catch (const std::bad_alloc&) {
            // Not even a line to spare: the exit code alone says it.
        }
        return command->run == Update ? ExitStatus::OfRun(RUN_DOWNLOAD_UNDEFINED)
                                      : ExitStatus::Failed;
    }
}

// The line's words in the ANSI code page the commands speak, taken from the wide command
// line: the runtime's own ANSI words would best-fit a name (C:\Users\Łukasz becoming
// C:\Users\Lukasz, another folder). False, `refused` naming it, for a word the code page
// cannot hold.
bool WordsOfLine(int argc, wchar_t** argv, Args& words, std::wstring& refused)
{
    for (int i = 1; i < argc; ++i) {
        std::string word;
        if (!WideToAnsi(argv[i], word)) {
            refused = argv[i];
            return false;
        }
        words.push_back(word);
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Before anything can load a library: the package folder is no place to find one.
    RestrictDllSearchToSystem32();
    Args line;
    std::wstring refused;
    if (!WordsOfLine(argc, argv, line, refused)) {
        ConsoleWriter console(false);
        return Say({Refusal::Kind::Line, "", kShortUsage,
                    "\"" + WideToUtf8(refused) + "\" " + NotInCodePage()})
            .Code();
    }
    // A privileged run follows no junction or link a user made (where Windows can tell).
    ForbidUsersLinksWhenPrivileged();
    GlobalOptions options;
    const Args words = TakeGlobalOptions(line, options);
    if (options.version && !options.help) {
        std::printf("OrvaneCli %s\n", OV_VERSION_TEXT);
        return ExitStatus::Done.Code();
    }
    ConsoleWriter console(options.verbose);
    // SYSTEM never loads a library a user can replace: the program's folder and Tessock.dll
    // are judged, and held unchanged, before any command may load it.
    HeldObject programFolder;
    HeldObject library;
    std::string reason;
    if (RunsAsLocalSystem() && !HoldProgramAndLibrary(programFolder, library, reason))
        return Say({Refusal::Kind::ProgramReplaceable, "", "", reason}).Code();
    return RunCommand(options, words).Code();
}
