// The console's progress: one file's bar drawn in place, the timings it is judged by, and
// the diagnostic lines a step wrote.
#pragma once
#include <string>
#include <vector>

#include "terminal/Terminal.h"
#include "winfw/Diag.h"

// Seconds of the performance counter: what the console's timings are measured with.
double WallSeconds();

// The processor time the process has used so far, kernel and user, in seconds.
double ProcessCpuSeconds();

// Keeps every diagnostic line the calling thread writes while it lives (for a verdict's
// reason).
class LineCapture : private LineSink {
public:
    LineCapture() : m_scope(*this) {}
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    void Line(const char* text) override { m_lines.emplace_back(text); }

    std::vector<std::string> m_lines;
    ScopedLineSink m_scope;
};

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
