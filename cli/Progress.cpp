#include "Progress.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "terminal/Terminal.h"
#include "winfw/OsSeam.h"

namespace {

bool g_verbose = false;
LineCapture* g_capture = nullptr;
CTerminal* g_progressTerminal = nullptr;
bool g_barOpen = false; // a bar drawn in place waits for its line's end
// The notification right after a new module still carries the previous file's figure.
bool g_moduleJustStarted = false;

void WriteStderr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int WINAPI MessageToStderr(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    WriteStderrLine(AnsiToUtf8(std::string(caption ? caption : "") + ": " + (text ? text : "")));
    return IDOK;
}

void WINAPI DebugLineToStderr(LPCSTR line)
{
    RealOsCalls().OutputDebugStringA(line);
    if (g_capture != nullptr && line != nullptr)
        g_capture->Add(line);
    if (g_verbose && line != nullptr)
        WriteStderrLine("  " + AnsiToUtf8(line));
}

void DrawBar(int percent, const std::string& module)
{
    constexpr int kWidth = 30;
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    const int filled = percent * kWidth / 100;
    std::string bar = "\r" + AnsiToUtf8(module) + " [" + std::string(filled, '#') +
                      std::string(kWidth - filled, '.') + "] ";
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    // With -v the diagnostic lines interleave: one bar per line keeps both readable.
    WriteStderr(bar + number + (g_verbose ? "\n" : ""));
    g_barOpen = !g_verbose;
}

int OnPercent(std::uint32_t)
{
    if (g_moduleJustStarted) {
        g_moduleJustStarted = false;
        return 0;
    }
    if (g_progressTerminal != nullptr) {
        DrawBar(g_progressTerminal->GetPercent(), g_progressTerminal->GetModuleName());
    }
    return 0;
}

int OnModule(std::uint32_t)
{
    // A new file starts: the bar restarts from nothing.
    if (g_progressTerminal != nullptr) {
        DrawBar(0, g_progressTerminal->GetModuleName());
        g_moduleJustStarted = true;
    }
    return 0;
}

} // namespace

double WallSeconds()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void EndProgressLine()
{
    if (g_barOpen) {
        WriteStderr("\n");
        g_barOpen = false;
    }
}

void WriteStderrLine(const std::string& utf8)
{
    EndProgressLine();
    WriteStderr(utf8 + "\n");
}

void BindConsoleSeam(bool verbose)
{
    g_verbose = verbose;
    OsCalls calls = RealOsCalls();
    calls.MessageBoxA = MessageToStderr;
    calls.OutputDebugStringA = DebugLineToStderr;
    Os() = calls;
}

LineCapture::LineCapture() : m_previous(g_capture) { g_capture = this; }

LineCapture::~LineCapture() { g_capture = m_previous; }

ConsoleProgress::ConsoleProgress(CTerminal& terminal)
{
    g_progressTerminal = &terminal;
    terminal.SetPercentCallback(OnPercent, 0);
    terminal.SetModuleCallback(OnModule, 0);
}

ConsoleProgress::~ConsoleProgress()
{
    if (g_progressTerminal != nullptr) {
        g_progressTerminal->SetPercentCallback(nullptr, 0);
        g_progressTerminal->SetModuleCallback(nullptr, 0);
    }
    EndProgressLine();
    g_progressTerminal = nullptr;
}
