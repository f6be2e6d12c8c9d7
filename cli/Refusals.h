// Why a command does not go on: what it refuses before it runs (its line, an argument, the
// package, the account) and why it could not reach the reader on its port. A refusal is made where it
// is found, as data, and said on standard error by Say alone.
#pragma once
#include <string>

#include "ExitCodes.h"
#include "terminal/Terminal.h"

struct Refusal {
    enum class Kind {
        Line,                   // the line: `detail` what was wrong, `subject` the usage
        NotAComPort,            // `subject` names no COM port
        PathNotInCodePage,      // `subject`, named on the line, cannot be taken whole
        PackageFolderUnusable,  // the --package folder `subject`: `detail` why
        NotAPackageFolder,      // no catalogue in the current directory
        ReportUnusable,         // no report can be written to `subject`: `detail` why
        Port,                   // on the port `subject` names: `detail` what failed
        NotElevated,            // the machine's event source, for an administrator only
        RecordUnwritable,       // the record's key `subject` cannot be written: `detail` why
        ReportFolderRefused,    // the report's folder, as SYSTEM: `detail` why
        ProgramReplaceable,     // as SYSTEM, users may replace the program: `detail` how
        Other,                  // the command's own: `detail`
    };
    Kind kind;
    std::string command{};  // the command refused; empty for the line's own refusals
    std::string subject{};  // what is refused, as the line gave it (ANSI)
    std::string detail{};
    ExitStatus status = ExitStatus::BadArguments;  // what the command exits with
};

// Writes the refusal's lines on standard error; its exit status.
ExitStatus Say(const Refusal& refusal);

// Why the reader's search on `portText` failed: the text names no port, the port cannot be
// opened (absent, or held by another program), or no loader answered at any rate. Its
// status is the run's own result for a port held by another program, `otherwise` else.
Refusal SearchRefusal(const char* command, const CTerminal& terminal,
                      const std::string& portText, ExitStatus otherwise);

// The COM name a port text gives, or the text itself when it gives none.
std::string PortOf(const std::string& portText);

// The process's current directory in the ANSI code page; empty when it cannot be read or
// held there.
std::string CurrentDirectory();

// Why a text the ANSI code page cannot hold is refused, for the end of a line.
std::string NotInCodePage();

// A path named on the command line taken whole (WholePath) before the package's folder is
// entered; false when the whole path cannot be held in the ANSI code page.
bool TakeWhole(std::string& path);

// Whether the current directory holds a package's catalogue (a file "catalogue*.ini").
bool InPackageFolder();

// Whether a report can be written at `path` (its folder exists and takes a new file);
// otherwise false with the reason in `reason`. Nothing is left behind.
bool ReportPathUsable(const std::string& path, std::string& reason);

