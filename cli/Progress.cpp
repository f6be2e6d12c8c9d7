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
int g_lastShown = -1;

void WriteStderr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int WINAPI MessageToStderr(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    WriteStderr(AnsiToUtf8(std::string(caption ? caption : "") + ": " + (text ? text : "")) + "\n");
    return IDOK;
}

void WINAPI DebugLineToStderr(LPCSTR line)
{
    RealOsCalls().OutputDebugStringA(line);
    if (g_capture != nullptr && line != nullptr)
        g_capture->Add(line);
    if (g_verbose && line != nullptr)
        WriteStderr("  " + AnsiToUtf8(line) + "\n");
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
}

int OnPercent(std::uint32_t)
{
    if (g_progressTerminal != nullptr) {
        g_lastShown = g_progressTerminal->GetPercent();
        DrawBar(g_lastShown, g_progressTerminal->GetModuleName());
    }
    return 0;
}

int OnModule(std::uint32_t)
{
    // A new file starts: the bar restarts from nothing.
    if (g_progressTerminal != nullptr)
        DrawBar(0, g_progressTerminal->GetModuleName());
    return 0;
}

} // namespace

std::string AnsiToUtf8(const std::string& text)
{
    if (text.empty())
        return text;
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    if (wide <= 0)
        return text;
    std::vector<wchar_t> w(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
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
    g_lastShown = -1;
    terminal.SetPercentCallback(OnPercent, 0);
    terminal.SetModuleCallback(OnModule, 0);
}

ConsoleProgress::~ConsoleProgress()
{
    if (g_progressTerminal != nullptr) {
        g_progressTerminal->SetPercentCallback(nullptr, 0);
        g_progressTerminal->SetModuleCallback(nullptr, 0);
    }
    if (g_lastShown >= 0 && !g_verbose)
        WriteStderr("\n");
    g_progressTerminal = nullptr;
}
