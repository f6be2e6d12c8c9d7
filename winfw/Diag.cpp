#include "Diag.h"

#include <cstdarg>
#include <cstdio>

#include "OsSeam.h"
#include "Text.h"

namespace {

constexpr std::size_t kLogBufferSize = 255;

// The innermost sink of the calling thread, if any: per thread, so runs never share one.
thread_local ScopedLineSink* t_lineSink = nullptr;

// The console that takes every thread's boxes and lines, if any.
ConsoleLines* g_console = nullptr;

// Lines are composed on the stack: no buffer asks for more than the standard one.
void WriteFormatted(std::size_t bufferSize, const char* fmt, va_list args)
{
    char buffer[kLogBufferSize];
    if (bufferSize == 0)
        return;
    if (bufferSize > sizeof buffer)
        bufferSize = sizeof buffer;
    std::vsnprintf(buffer, bufferSize, fmt, args);
    buffer[bufferSize - 1] = '\0';
    Os().OutputDebugStringA(buffer);
    if (g_console != nullptr)
        g_console->Diagnostic(buffer);
    ScopedLineSink::Deliver(buffer);
}

std::string ExecutableBaseName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = Os().GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string name;
    if (n == 0 || n >= MAX_PATH || !WideToAnsi(std::wstring(path, n), name))
        return "Orvane";
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

} // namespace

ScopedLineSink::ScopedLineSink(LineSink& sink) : m_sink(sink), m_outer(t_lineSink)
{
    t_lineSink = this;
}

ScopedLineSink::~ScopedLineSink() { t_lineSink = m_outer; }

void ScopedLineSink::Deliver(const char* line)
{
    for (ScopedLineSink* scope = t_lineSink; scope != nullptr; scope = scope->m_outer)
        scope->m_sink.Line(line);
}

void ConsoleLines::Route(ConsoleLines* lines) { g_console = lines; }

void LogLine(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    WriteFormatted(kLogBufferSize, fmt, args);
    va_end(args);
}

void LogLineSized(std::size_t bufferSize, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    WriteFormatted(bufferSize, fmt, args);
    va_end(args);
}

int ShowMessage(const std::string& text, UINT type, HWND owner)
{
    if (g_console == nullptr)
        return Os().MessageBoxA(owner, text.c_str(), ExecutableBaseName().c_str(), type);
    g_console->Box(ExecutableBaseName(), text);
    return IDOK;
}

std::string LoadResString(UINT id)
{
    char buffer[1024] = {};
    int n = ::LoadStringA(Os().GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
