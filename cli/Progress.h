// Console side of the companion: standard error as whole lines and one bar drawn in place,
// and the seam binding that turns message boxes and (with -v) diagnostic lines into
// console lines.
#pragma once
#include "winfw/Text.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ExitCodes.h"
#include "terminal/Terminal.h"
#include "winfw/OsSeam.h"

// Seconds of the performance counter: what the console's timings are measured with.
double WallSeconds();

// The processor time the process has used so far, kernel and user, in seconds.
double ProcessCpuSeconds();

// Writes one line of UTF-8 text on standard error, after any bar drawn in place.
void WriteStderrLine(const std::string& utf8);

class LineCapture;

// Binds message boxes to standard error and, with `verbose`, echoes diagnostic lines there
// too, for its lifetime. Lines from several threads are written whole.
class ConsoleSeam {
public:
    explicit ConsoleSeam(bool verbose);
    ConsoleSeam(const ConsoleSeam&) = delete;
    ConsoleSeam& operator=(const ConsoleSeam&) = delete;

    // The console bound to the seam in force; null when none is.
    static ConsoleSeam* Bound();

    void WriteLine(const std::string& utf8);
    // Redraws the bar in place (one line of its own with -v, where diagnostic lines
    // interleave).
    void DrawBar(const std::string& utf8);
    void EndBar();
    void Capture(LineCapture* capture) { m_capture = capture; }
    LineCapture* Capturing() const { return m_capture; }
    // Lines the calling thread writes start with `prefix` (none when empty): runs side by
    // side say whose line it is.
    void SetThreadPrefix(const std::string& prefix);

private:
    static int WINAPI MessageToStderr(HWND, LPCSTR text, LPCSTR caption, UINT);
    static void WINAPI DebugLineToStderr(LPCSTR line);
    static OsCalls Calls(ConsoleSeam* self);
    void WriteLocked(const std::string& text);

    std::mutex m_lock;
    bool m_verbose;
    bool m_barOpen = false; // a bar drawn in place waits for its line's end
    LineCapture* m_capture = nullptr;
    std::map<std::thread::id, std::string> m_prefixes;
    ScopedOsCalls m_swap;
};

// Prefixes the calling thread's console lines for the object's lifetime.
class LinePrefix {
public:
    explicit LinePrefix(const std::string& prefix);
    ~LinePrefix();
    LinePrefix(const LinePrefix&) = delete;
    LinePrefix& operator=(const LinePrefix&) = delete;
};

// Keeps every diagnostic line written while it lives (for a verdict's reason).
class LineCapture {
public:
    LineCapture();
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;
    const std::vector<std::string>& Lines() const { return m_lines; }
    void Add(const std::string& line) { m_lines.push_back(line); }

private:
    std::vector<std::string> m_lines;
    LineCapture* m_previous;
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
