#include "Progress.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "winfw/Diag.h"
#include "winfw/FileTime.h"

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

// A console takes the text as UTF-16, whatever its code page, which stays the one its
// owner chose (a run killed by a deployment tool cannot give back what it changed); a pipe
// or a file takes the UTF-8 bytes. WriteConsole's page: it fails on a handle redirected to
// a file, and GetConsoleMode succeeds only on a console. What a console refused goes on as
// bytes.
void WriteStandard(const OsCalls& os, DWORD which, const std::string& utf8)
{
    std::string rest = utf8;
    const HANDLE handle = os.GetStdHandle(which);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && os.GetConsoleMode(handle, &mode)) {
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

} // namespace

double WallSeconds()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    return static_cast<double>(TicksOf(kernel) + TicksOf(user)) /
           static_cast<double>(kTicksPerSecond);
}

void WriteStderrLine(const std::string& utf8)
{
    if (ConsoleSeam* console = ConsoleSeam::Bound())
        console->WriteLine(utf8);
    else
        WriteStderr(utf8 + "\n");
}

void WriteStdoutLine(const std::string& utf8)
{
    // printf's buffer first: the lines keep their order.
    std::fflush(stdout);
    WriteStandard(Os(), STD_OUTPUT_HANDLE, utf8 + "\n");
}

OsCalls ConsoleSeam::Calls(const OsCalls& below, ConsoleSeam* self)
{
    OsCalls calls = below;
    calls.MessageBoxA = MessageToStderr;
    calls.OutputDebugStringA = DebugLineToStderr;
    calls.binding = self;
    return calls;
}

ConsoleSeam::ConsoleSeam(bool verbose)
    : m_below(Os()), m_verbose(verbose), m_swap(Calls(m_below, this))
{
    try {
        m_writer = std::thread([this] { WriteQueued(); });
    } catch (...) {
        // No thread to spare: lines are then written by whoever writes them.
        m_writerGone = true;
    }
}

ConsoleSeam::~ConsoleSeam()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_closing = true;
    }
    m_queued.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

ConsoleSeam* ConsoleSeam::Bound()
{
    return Os().MessageBoxA == MessageToStderr ? static_cast<ConsoleSeam*>(Os().binding)
                                                : nullptr;
}

int WINAPI ConsoleSeam::MessageToStderr(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    WriteStderrLine(AnsiToUtf8(std::string(caption ? caption : "") + ": " + (text ? text : "")));
    return IDOK;
}

void WINAPI ConsoleSeam::DebugLineToStderr(LPCSTR line)
{
    ConsoleSeam* self = Bound();
    if (self == nullptr)
        return;
    self->m_below.OutputDebugStringA(line);
    if (self->m_verbose && line != nullptr)
        self->WriteLine("  " + AnsiToUtf8(line));
}

namespace {

// The calling thread's line prefix: each run thread names its own port.
thread_local std::string t_prefix;

} // namespace

void ConsoleSeam::WriteLine(const std::string& utf8)
{
    Queue({Entry::Line, t_prefix + utf8 + "\n"});
}

void ConsoleSeam::DrawBar(const std::string& utf8)
{
    Queue({Entry::Bar, utf8});
}

void ConsoleSeam::EndBar() { Queue({Entry::EndOfBar, std::string()}); }

void ConsoleSeam::Queue(Entry entry)
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

void ConsoleSeam::WriteQueued()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_queued.wait(hold, [this] { return m_closing || !m_queue.empty(); });
        if (m_queue.empty()) {
            m_writerGone = true;
            return;
        }
        const Entry next = std::move(m_queue.front());
        m_queue.pop_front();
        // The console may block here: callers queue meanwhile.
        hold.unlock();
        Write(next);
        hold.lock();
    }
}

void ConsoleSeam::Write(const Entry& entry)
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
        WriteStandard(m_below, STD_ERROR_HANDLE, text);
}

LinePrefix::LinePrefix(const std::string& prefix) : m_outer(t_prefix) { t_prefix = prefix; }

LinePrefix::~LinePrefix() { t_prefix = m_outer; }

void ConsoleBar::Module(const CString& module)
{
    // A new file starts: the bar restarts from nothing.
    m_module = module;
    Draw(0);
    m_moduleJustStarted = true;
}

void ConsoleBar::Percent(int percent)
{
    if (m_moduleJustStarted) {
        m_moduleJustStarted = false;
        return;
    }
    Draw(percent);
}

void ConsoleBar::Draw(int percent)
{
    constexpr int kWidth = 30;
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    const int filled = percent * kWidth / 100;
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    const std::string bar = AnsiToUtf8(m_module) + " [" + std::string(filled, '#') +
                            std::string(kWidth - filled, '.') + "] " + number;
    if (ConsoleSeam* console = ConsoleSeam::Bound())
        console->DrawBar(bar);
    else
        WriteStderr("\r" + bar);
    m_drawn = true;
}

ConsoleBar::~ConsoleBar()
{
    ConsoleSeam* console = ConsoleSeam::Bound();
    if (m_drawn && console != nullptr)
        console->EndBar();
}

ConsoleProgress::ConsoleProgress(CTerminal& terminal) : m_terminal(terminal)
{
    m_terminal.SetProgressSink(this);
}

ConsoleProgress::~ConsoleProgress() { m_terminal.SetProgressSink(nullptr); }
