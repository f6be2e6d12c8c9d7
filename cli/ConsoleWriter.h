// The console's one writer: standard error as whole lines and one bar drawn in place,
// message boxes and (with -v) diagnostic lines among them; standard output after printf.
#pragma once
#include "winfw/Text.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

// Writes one line of UTF-8 text on standard error, after any bar drawn in place.
void WriteStderrLine(const std::string& utf8);

// Draws a bar in place on standard error (UTF-8, one line's worth); nothing when standard
// error is not a console.
void DrawStderrBar(const std::string& utf8);

// Whether standard error is a console, where a bar or a countdown is drawn in place; a pipe
// or a file (a deployment tool's log) takes whole lines only.
bool StderrDrawsInPlace();

// Writes one line of UTF-8 text on standard output, after what printf left there.
void WriteStdoutLine(const std::string& utf8);

// Takes message boxes to standard error and, with `verbose`, echoes diagnostic lines there
// too, for its lifetime. Callers only queue their lines: one writer thread of its own
// writes them whole and in order, so a console that blocks (a selection, a paused
// terminal, a full pipe) never holds up a run. Every line queued is written before the
// object is gone. The console itself is left as it is (code page, modes).
class ConsoleWriter : private ConsoleLines {
public:
    explicit ConsoleWriter(bool verbose);
    ~ConsoleWriter();
    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    // The console in force; null when none is.
    static ConsoleWriter* Bound();

    void WriteLine(const std::string& utf8);
    // Redraws the bar in place (one line of its own with -v, where diagnostic lines
    // interleave). A bar still waiting for the writer is replaced: the console shows
    // the latest figure, never a backlog of them. Nothing when standard error is no console.
    void DrawBar(const std::string& utf8);
    bool DrawsInPlace() const { return m_inPlace; }
    void EndBar();
    // Waits, at most `milliseconds`, until every line queued so far is written: a process
    // about to end at once still says why.
    void Drain(unsigned milliseconds);

private:
    struct Entry {
        enum Kind { Line, Bar, EndOfBar } kind;
        std::string text;
    };

    void Box(const std::string& caption, const std::string& text) override;
    void Diagnostic(const char* line) override;
    void Queue(Entry entry);
    void WriteQueued();
    void Write(const Entry& entry);

    const OsCalls m_os; // the table in force when the console was made: the writer's output
    bool m_verbose;
    bool m_inPlace; // standard error is a console
    std::mutex m_lock;
    std::condition_variable m_queued;
    std::condition_variable m_drained;  // the queue is empty and nothing is being written
    bool m_writing = false;
    std::deque<Entry> m_queue;
    bool m_closing = false;    // the console is going: the writer ends once the queue is empty
    bool m_writerGone = false; // no writer (it could not start, or it ended): callers write
    bool m_barOpen = false;    // a bar drawn in place waits for its line's end
    std::thread m_writer;
    ConsoleWriter* m_outer; // the console in force before this one
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

