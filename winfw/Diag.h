// Diagnostic lines on the debugger output, and message boxes, both through the OS seam.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

#ifndef OV_PRINTF_FORMAT
#define OV_PRINTF_FORMAT(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#endif

// Where a thread's diagnostic lines go besides the debugger output: a run's journal, or
// the console's record of a step's lines.
class LineSink {
public:
    virtual void Line(const char* text) = 0;

protected:
    ~LineSink() = default;
};

// Sends the calling thread's diagnostic lines to `sink` too, for the object's lifetime.
// A run is one thread, so its lines are found by the thread that writes them and never
// mix with another run's. Sinks nest: a line reaches every sink in force on its thread,
// the innermost first.
class ScopedLineSink {
public:
    explicit ScopedLineSink(LineSink& sink);
    ~ScopedLineSink();
    ScopedLineSink(const ScopedLineSink&) = delete;
    ScopedLineSink& operator=(const ScopedLineSink&) = delete;

    static void Deliver(const char* line);

private:
    LineSink& m_sink;
    ScopedLineSink* m_outer;
};

// A console program's standard error: its message boxes go there instead of the screen,
// and its diagnostic lines there besides the debugger output.
class ConsoleLines {
public:
    // Routes every thread's boxes and diagnostic lines to `lines` (null: to the screen and
    // the debugger alone) before the program's other threads start or after they end.
    static void Route(ConsoleLines* lines);

    virtual void Box(const std::string& caption, const std::string& text) = 0;
    virtual void Diagnostic(const char* line) = 0;

protected:
    ~ConsoleLines() = default;
};

// One line composed in a 255-byte buffer (longer text is cut), written without terminator.
void LogLine(const char* fmt, ...) OV_PRINTF_FORMAT(1, 2);

// The same, composed in a buffer of the given size (the USB lookup lines use 100 bytes).
void LogLineSized(std::size_t bufferSize, const char* fmt, ...) OV_PRINTF_FORMAT(2, 3);

// A message box captioned with the executable's base name; a window's own boxes name it
// as owner, so that it cannot be used while the box is up.
int ShowMessage(const std::string& text, UINT type, HWND owner = nullptr);

// A string of the program's string table; empty when the id is missing.
std::string LoadResString(UINT id);
