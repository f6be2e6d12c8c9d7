#include "Progress.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "ConsoleWriter.h"
#include "Refusals.h"
#include "winfw/FileTime.h"

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
    DrawStderrBar(bar);
    m_drawn = true;
}

ConsoleBar::~ConsoleBar()
{
    ConsoleWriter* console = ConsoleWriter::Bound();
    if (m_drawn && console != nullptr)
        console->EndBar();
}

ConsoleProgress::ConsoleProgress(CTerminal& terminal) : m_terminal(terminal)
{
    m_terminal.SetProgressSink(this);
}

ConsoleProgress::~ConsoleProgress() { m_terminal.SetProgressSink(nullptr); }

std::string LookingForReaderLine(const std::string& portText)
{
    if (portText.empty())
        return "looking for the reader at its USB position...";
    return "looking for the reader on " + AnsiToUtf8(PortOf(portText)) + "...";
}

bool SearchReader(CTerminal& terminal, const std::string& portText)
{
    SlowWaitNotice notice(LookingForReaderLine(portText));
    return terminal.FindTerminal(portText);
}

SlowWaitNotice::SlowWaitNotice(std::string line) : m_line(std::move(line))
{
    try {
        m_watcher = std::thread(&SlowWaitNotice::Watch, this);
    } catch (const std::system_error&) {
        // No thread for it: the wait goes on without its notice.
    }
}

SlowWaitNotice::~SlowWaitNotice()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_over = true;
    }
    m_ended.notify_one();
    if (m_watcher.joinable())
        m_watcher.join();
}

void SlowWaitNotice::Watch()
{
    bool over = false;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        over = m_ended.wait_for(hold, std::chrono::seconds(1), [this] { return m_over; });
    }
    if (!over)
        WriteStderrLine(m_line);
}
