#include "ConsoleWriter.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// WriteConsoleW in pieces the console's buffer takes, never between the two halves of a
// surrogate pair; the units written, fewer when the console refused the rest.
std::size_t WriteToConsole(const OsCalls& os, HANDLE console, const std::wstring& text)
{
    constexpr std::size_t kPiece = 8192;
    std::size_t done = 0;
    while (done < text.size()) {
        std::size_t count = std::min(kPiece, text.size() - done);
        if (done + count < text.size() && IS_HIGH_SURROGATE(text[done + count - 1]))
            --count;
        DWORD written = 0;
        if (!os.WriteConsoleW(console, text.data() + done, static_cast<DWORD>(count), &written,
                              nullptr) ||
            written == 0)
            return done;
        done += std::min<std::size_t>(written, count);
    }
    return done;
}

// Bytes to a pipe or a file as the C runtime's text mode writes them, each LF as CR LF: a
// full pipe blocks here.
void WriteAsText(const OsCalls& os, HANDLE handle, const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    DWORD written = 0;
    os.WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// GetConsoleMode succeeds only on a console's handle: a pipe or a file fails it.
bool IsConsole(const OsCalls& os, HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && os.GetConsoleMode(handle, &mode);
}

bool StderrIsConsole(const OsCalls& os) { return IsConsole(os, os.GetStdHandle(STD_ERROR_HANDLE)); }

// A console takes the text as UTF-16, whatever its code page, which stays the one its
// owner chose (a run killed by a deployment tool cannot give back what it changed); a pipe
// or a file takes the UTF-8 bytes. WriteConsole's page: it fails on a handle redirected to
// a file, and GetConsoleMode succeeds only on a console. What a console refused goes on as
// bytes.
void WriteStandard(const OsCalls& os, DWORD which, const std::string& utf8)
{
    std::string rest = utf8;
    const HANDLE handle = os.GetStdHandle(which);
    if (IsConsole(os, handle)) {
        const std::wstring wide = Utf8ToWide(utf8);
        const std::size_t done = WriteToConsole(os, handle, wide);
        if (done == wide.size())
            return;
        rest = WideToUtf8(wide.substr(done));
    }
    if (which == STD_ERROR_HANDLE) {
        WriteAsText(os, handle, rest);
        return;
    }
    std::fwrite(rest.data(), 1, rest.size(), stdout);
    std::fflush(stdout);
}

void WriteStderr(const std::string& text) { WriteStandard(Os(), STD_ERROR_HANDLE, text); }

// The console in force: every thread's lines go through it.
ConsoleWriter* g_bound = nullptr;

} // namespace

void WriteStderrLine(const std::string& utf8)
{
    if (ConsoleWriter* console = ConsoleWriter::Bound())
        console->WriteLine(utf8);
    else
        WriteStderr(utf8 + "\n");
}

void DrawStderrBar(const std::string& utf8)
{
    if (ConsoleWriter* console = ConsoleWriter::Bound())
        console->DrawBar(utf8);
    else if (StderrIsConsole(Os()))
        WriteStderr("\r" + utf8);
}

bool StderrDrawsInPlace()
{
    const ConsoleWriter* console = ConsoleWriter::Bound();
    return console != nullptr ? console->DrawsInPlace() : StderrIsConsole(Os());
}

void WriteStdoutLine(const std::string& utf8)
{
    // printf's buffer first: the lines keep their order.
    std::fflush(stdout);
    WriteStandard(Os(), STD_OUTPUT_HANDLE, utf8 + "\n");
}

ConsoleWriter::ConsoleWriter(bool verbose)
    : m_os(Os()), m_verbose(verbose), m_inPlace(StderrIsConsole(m_os)), m_outer(g_bound)
{
    g_bound = this;
    Route(this);
    try {
        m_writer = std::thread([this] { WriteQueued(); });
    } catch (...) {
        // No thread to spare: lines are then written by whoever writes them.
        m_writerGone = true;
    }
}

ConsoleWriter::~ConsoleWriter()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_closing = true;
    }
    m_queued.notify_one();
    if (m_writer.joinable())
        m_writer.join();
    g_bound = m_outer;
    Route(m_outer);
}

ConsoleWriter* ConsoleWriter::Bound() { return g_bound; }

void ConsoleWriter::Box(const std::string& caption, const std::string& text)
{
    WriteStderrLine(AnsiToUtf8(caption + ": " + text));
}

void ConsoleWriter::Diagnostic(const char* line)
{
    if (m_verbose)
        WriteLine("  " + AnsiToUtf8(line));
}

namespace {

// The calling thread's line prefix: each run thread names its own port.
thread_local std::string t_prefix;

} // namespace

void ConsoleWriter::WriteLine(const std::string& utf8)
{
    Queue({Entry::Line, t_prefix + utf8 + "\n"});
}

void ConsoleWriter::DrawBar(const std::string& utf8)
{
    // A log (a pipe, a file) would keep every redrawn figure: it gets the lines alone.
    if (!m_inPlace)
        return;
    Queue({Entry::Bar, utf8});
}

void ConsoleWriter::EndBar() { Queue({Entry::EndOfBar, std::string()}); }

void ConsoleWriter::Drain(unsigned milliseconds)
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_drained.wait_for(hold, std::chrono::milliseconds(milliseconds),
                       [this] { return m_writerGone || (m_queue.empty() && !m_writing); });
}

void ConsoleWriter::Queue(Entry entry)
{
    std::unique_lock<std::mutex> hold(m_lock);
    if (m_writerGone) {
        // No writer (any more): the caller writes, in turn with the others.
        Write(entry);
        return;
    }
    if (entry.kind == Entry::Bar)
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
            if (it->kind == Entry::Bar) {
                m_queue.erase(it);
                break;
            }
    m_queue.push_back(std::move(entry));
    hold.unlock();
    m_queued.notify_one();
}

void ConsoleWriter::WriteQueued()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_queued.wait(hold, [this] { return m_closing || !m_queue.empty(); });
        if (m_queue.empty()) {
            m_writerGone = true;
            m_drained.notify_all();
            return;
        }
        const Entry next = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = true;
        // The console may block here: callers queue meanwhile.
        hold.unlock();
        Write(next);
        hold.lock();
        m_writing = false;
        if (m_queue.empty())
            m_drained.notify_all();
    }
}

void ConsoleWriter::Write(const Entry& entry)
{
    std::string text;
    if (m_barOpen && entry.kind != Entry::Bar) {
        text = "\n";
        m_barOpen = false;
    }
    if (entry.kind == Entry::Bar) {
        text += "\r" + entry.text + (m_verbose ? "\n" : "");
        m_barOpen = !m_verbose;
    } else {
        text += entry.text;
    }
    if (!text.empty())
        WriteStandard(m_os, STD_ERROR_HANDLE, text);
}

LinePrefix::LinePrefix(const std::string& prefix) : m_outer(t_prefix) { t_prefix = prefix; }

LinePrefix::~LinePrefix() { t_prefix = m_outer; }

