// Console side of the companion: standard error as whole lines and one bar drawn in place,
// and the seam binding that turns message boxes and (with -v) diagnostic lines into
// console lines.
#pragma once
#include "winfw/Text.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ExitCodes.h"
#include "terminal/Terminal.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

// Seconds of the performance counter: what the console's timings are measured with.
double WallSeconds();

// The processor time the process has used so far, kernel and user, in seconds.
double ProcessCpuSeconds();

// Writes one line of UTF-8 text on standard error, after any bar drawn in place.
void WriteStderrLine(const std::string& utf8);

// Writes one line of UTF-8 text on standard output, after what printf left there.
void WriteStdoutLine(const std::string& utf8);


// Binds message boxes to standard error and, with `verbose`, echoes diagnostic lines there
// too, for its lifetime. Callers only queue their lines: one writer thread of its own
// writes them whole and in order, so a console that blocks (a selection, a paused
// terminal, a full pipe) never holds up a run. Every line queued is written before the
// object is gone. The console itself is left as it is (code page, modes).
class ConsoleSeam {
public:
    explicit ConsoleSeam(bool verbose);
    ~ConsoleSeam();
    ConsoleSeam(const ConsoleSeam&) = delete;
    ConsoleSeam& operator=(const ConsoleSeam&) = delete;

    // The console bound to the seam in force; null when none is.
    static ConsoleSeam* Bound();

    void WriteLine(const std::string& utf8);
    // Redraws the bar in place (one line of its own with -v, where diagnostic lines
    // interleave). A bar still waiting for the writer is replaced: the console shows
    // the latest figure, never a backlog of them.
    void DrawBar(const std::string& utf8);
    void EndBar();

private:
    struct Entry {
        enum Kind { Line, Bar, EndOfBar } kind;
        std::string text;
    };

    static int WINAPI MessageToStderr(HWND, LPCSTR text, LPCSTR caption, UINT);
    static void WINAPI DebugLineToStderr(LPCSTR line);
    static OsCalls Calls(const OsCalls& below, ConsoleSeam* self);
    void Queue(Entry entry);
    void WriteQueued();
    void Write(const Entry& entry);

    const OsCalls m_below; // the table the seam was bound over: the writer's output
    bool m_verbose;
    std::mutex m_lock;
    std::condition_variable m_queued;
    std::deque<Entry> m_queue;
    bool m_closing = false;    // the seam is going: the writer ends once the queue is empty
    bool m_writerGone = false; // no writer (it could not start, or it ended): callers write
    bool m_barOpen = false;    // a bar drawn in place waits for its line's end
    std::thread m_writer;
    ScopedOsCalls m_swap;
};

// Prefixes the calling thread's console lines for the object's lifetime: runs side by
// side say whose line it is.
class LinePrefix {
public:
    explicit LinePrefix(const std::string& prefix);
    ~LinePrefix();
    LinePrefix(const LinePrefix&) = delete;
    LinePrefix& operator=(const LinePrefix&) = delete;

private:
    std::string m_outer;
};

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
