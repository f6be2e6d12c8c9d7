// What the console says of its own: why a command failed, one line on standard error that
// names the port and the cause, and that a wait goes on when it lasts.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "ExitCodes.h"
#include "terminal/Terminal.h"

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

// While it lives, says `line` once on standard error when it lives longer than a second: a
// search or a lookup that keeps the console silent for longer says that it goes on.
class SlowWaitNotice {
public:
    explicit SlowWaitNotice(std::string line);
    ~SlowWaitNotice();
    SlowWaitNotice(const SlowWaitNotice&) = delete;
    SlowWaitNotice& operator=(const SlowWaitNotice&) = delete;

private:
    void Watch();

    std::string m_line;
    std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_over = false;
    std::thread m_watcher;
};

// The notice of a search of the reader on the port `portText` names; at its USB position
// when `portText` is empty.
std::string LookingForReaderLine(const std::string& portText);

// "file 3/11: 3648LDR.SGN (KAVRON MANAGER), 1354 bytes": the file an update sends now.
std::string FileStartingLine(int number, int count, const std::string& file,
                             const std::string& module, long long bytes);

// "reader restarting: 12 of 30 s", drawn in place as the wait goes on.
std::string RestartWaitText(unsigned long elapsedMs, unsigned long totalMs);
// "reader restarting: waiting 30 s", said once where nothing is drawn in place.
std::string RestartWaitLine(unsigned long totalMs);

// Why --auto or --all found nothing to update: no reader's entry among `portCount` ports.
std::string NoReaderEntryLine(std::size_t portCount);
