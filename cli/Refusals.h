// Why a command does not go on: what it refuses before it runs (an argument, the package)
// and why it could not reach the reader on its port, each said on one line of standard
// error.
#pragma once
#include <string>

#include "ExitCodes.h"
#include "terminal/Terminal.h"

// The COM name a port text gives, or the text itself when it gives none.
std::string PortOf(const std::string& portText);

// Says that `portText` names no COM port; false, the command exits with
// ExitStatus::BadArguments.
bool RefuseNotAComPort(const std::string& portText);

// Writes "COMMAND: PORT: CAUSE" on standard error; PORT is the COM name the text names, or
// the text itself when it names none.
void SayFailure(const char* command, const std::string& portText, const std::string& cause);

// Why the reader's search on `portText` failed: the text names no port, the port cannot be
// opened (absent, or held by another program), or no loader answered at any rate.
std::string SearchFailureCause(const CTerminal& terminal, const std::string& portText);

// Says why the search failed and gives the exit status: the run's own result for a port
// held by another program, `otherwise` for anything else.
ExitStatus SearchFailed(const char* command, const CTerminal& terminal,
                        const std::string& portText, ExitStatus otherwise);

// The process's current directory in the ANSI code page; empty when it cannot be read or
// held there.
std::string CurrentDirectory();

// Why a text the ANSI code page cannot hold is refused, for the end of a line.
std::string NotInCodePage();

// A path named on the command line taken whole (WholePath) before the package's folder is
// entered; false, said on one line, when the whole path cannot be held in the ANSI code
// page.
bool TakeWhole(const char* command, std::string& path);

// Whether the current directory holds a package's catalogue (a file "catalogue*.ini").
bool InPackageFolder();

// Says that the command was started outside a package folder and gives its exit status.
ExitStatus NotInPackageFolder(const char* command);

// Whether a report can be written at `path` (its folder exists and takes a new file);
// otherwise false with the reason in `reason`. Nothing is left behind.
bool ReportPathUsable(const std::string& path, std::string& reason);

