// The console's progress: one file's bar drawn in place, the notice that a wait goes on,
// and the timings a technician judges the link by.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "terminal/Terminal.h"
#include "winfw/Diag.h"

// Seconds of the performance counter: what the console's timings are measured with.
double WallSeconds();

// The processor time the process has used so far, kernel and user, in seconds.
double ProcessCpuSeconds();

// A file's progress bar: the module and its percentage, drawn in place on the console.
class ConsoleBar {
public:
    void Module(const CString& module);
    void Percent(int percent);
    ~ConsoleBar();

private:
    void Draw(int percent);

    CString m_module;
    // The notification right after a new module still carries the previous file's figure.
    bool m_moduleJustStarted = false;
    bool m_drawn = false;
};

// Shows the download progress of `terminal` on standard error while it lives.
class ConsoleProgress : private ProgressSink {
public:
    explicit ConsoleProgress(CTerminal& terminal);
    ~ConsoleProgress();
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

private:
    void OnModule(const CString& module) override { m_bar.Module(module); }
    void OnPercent(int percent) override { m_bar.Percent(percent); }

    CTerminal& m_terminal;
    ConsoleBar m_bar;
};

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

// The reader's search on `portText`, said to go on when it lasts (the USB lookup, a silent
// port).
bool SearchReader(CTerminal& terminal, const std::string& portText);
