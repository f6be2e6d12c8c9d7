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

OsCalls ConsoleSeam::Calls(ConsoleSeam* self)
{
    OsCalls calls = RealOsCalls();
    calls.MessageBoxA = MessageToStderr;
    calls.OutputDebugStringA = DebugLineToStderr;
    calls.binding = self;
    return calls;
}

ConsoleSeam::ConsoleSeam(bool verbose) : m_verbose(verbose), m_swap(Calls(this)) {}

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
    RealOsCalls().OutputDebugStringA(line);
    ConsoleSeam* self = Bound();
    if (self == nullptr || line == nullptr)
        return;
    if (self->m_capture != nullptr)
        self->m_capture->Add(line);
    if (self->m_verbose)
        self->WriteLine("  " + AnsiToUtf8(line));
}

void ConsoleSeam::WriteLocked(const std::string& text)
{
    if (m_barOpen) {
        WriteStderr("\n");
        m_barOpen = false;
    }
    WriteStderr(text);
}

void ConsoleSeam::WriteLine(const std::string& utf8)
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto prefix = m_prefixes.find(std::this_thread::get_id());
    WriteLocked((prefix != m_prefixes.end() ? prefix->second : std::string()) + utf8 + "\n");
}

void ConsoleSeam::SetThreadPrefix(const std::string& prefix)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (prefix.empty())
        m_prefixes.erase(std::this_thread::get_id());
    else
        m_prefixes[std::this_thread::get_id()] = prefix;
}

LinePrefix::LinePrefix(const std::string& prefix)
{
    if (ConsoleSeam* console = ConsoleSeam::Bound())
        console->SetThreadPrefix(prefix);
}

LinePrefix::~LinePrefix()
{
    if (ConsoleSeam* console = ConsoleSeam::Bound())
        console->SetThreadPrefix(std::string());
}

void ConsoleSeam::DrawBar(const std::string& utf8)
{
    std::lock_guard<std::mutex> hold(m_lock);
    WriteStderr("\r" + utf8 + (m_verbose ? "\n" : ""));
    m_barOpen = !m_verbose;
}

void ConsoleSeam::EndBar()
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_barOpen) {
        WriteStderr("\n");
        m_barOpen = false;
    }
}

LineCapture::LineCapture() : m_previous(nullptr)
{
    if (ConsoleSeam* console = ConsoleSeam::Bound()) {
        m_previous = console->Capturing();
        console->Capture(this);
    }
}

LineCapture::~LineCapture()
{
    if (ConsoleSeam* console = ConsoleSeam::Bound())
        console->Capture(m_previous);
}

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
