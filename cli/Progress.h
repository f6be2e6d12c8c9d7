// Console side of the companion: a progress bar on standard error, and the seam bindings
// that turn message boxes and (with -v) diagnostic lines into console lines.
#pragma once
#include <string>
#include <vector>

class CTerminal;

// ANSI (the process code page) to UTF-8, for a console that shows UTF-8.
std::string AnsiToUtf8(const std::string& text);

// Binds message boxes to standard error; with `verbose`, echoes diagnostic lines there too.
void BindConsoleSeam(bool verbose);

// Keeps every diagnostic line written while it lives (for a verdict's reason).
class LineCapture {
public:
    LineCapture();
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;
    const std::vector<std::string>& Lines() const { return m_lines; }
    void Add(const std::string& line) { m_lines.push_back(line); }

private:
    std::vector<std::string> m_lines;
    LineCapture* m_previous;
};

// Shows the download progress of `terminal` on standard error while it lives.
class ConsoleProgress {
public:
    explicit ConsoleProgress(CTerminal& terminal);
    ~ConsoleProgress();
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;
};
