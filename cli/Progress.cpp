#include "Progress.h"

#include <windows.h>

#include <cstdio>

#include "winfw/Diag.h"
#include "winfw/FileTime.h"

namespace {

void WriteStderr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

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

OsCalls ConsoleSeam::Calls(const OsCalls& below, ConsoleSeam* self)
{
    OsCalls calls = below;
    calls.MessageBoxA = MessageToStderr;
    calls.OutputDebugStringA = DebugLineToStderr;
    calls.binding = self;
    return calls;
}

ConsoleSeam::ConsoleSeam(bool verbose)
    : m_below(Os()), m_verbose(verbose), m_outerCodePage(m_below.GetConsoleOutputCP()),
      m_swap(Calls(m_below, this))
{
    // The console is the technician's, shared with the shell that started us: its code
    // page is ours only while we run.
    if (m_outerCodePage != 0 && m_outerCodePage != CP_UTF8) {
        m_below.SetConsoleOutputCP(CP_UTF8);
        ::SetConsoleCtrlHandler(GiveBackOnInterrupt, TRUE);
    }
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
    if (m_outerCodePage != 0 && m_outerCodePage != CP_UTF8) {
        ::SetConsoleCtrlHandler(GiveBackOnInterrupt, FALSE);
        GiveBackCodePage();
    }
}

void ConsoleSeam::GiveBackCodePage() { m_below.SetConsoleOutputCP(m_outerCodePage); }

BOOL WINAPI ConsoleSeam::GiveBackOnInterrupt(DWORD)
{
    // Called when an interrupt is not refused: the default handler then ends the process
    // without any destructor.
    if (ConsoleSeam* self = Bound())
        self->GiveBackCodePage();
    return FALSE;
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
        m_below.WriteStandardError(text.data(), static_cast<DWORD>(text.size()));
}

QuickEditOff::QuickEditOff() : m_input(::GetStdHandle(STD_INPUT_HANDLE))
{
    // Extended flags are what QuickEdit is one of: without ENABLE_EXTENDED_FLAGS the call
    // leaves it as it is.
    if (m_input == nullptr || m_input == INVALID_HANDLE_VALUE ||
        !Os().GetConsoleMode(m_input, &m_mode) || (m_mode & ENABLE_QUICK_EDIT_MODE) == 0)
        return;
    m_changed = Os().SetConsoleMode(m_input, (m_mode & ~ENABLE_QUICK_EDIT_MODE) |
                                                 ENABLE_EXTENDED_FLAGS) != FALSE;
}

QuickEditOff::~QuickEditOff()
{
    if (m_changed)
        Os().SetConsoleMode(m_input, m_mode | ENABLE_EXTENDED_FLAGS);
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
