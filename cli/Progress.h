// Console side of the companion: a progress bar on standard error, and the seam bindings
// that turn message boxes and (with -v) diagnostic lines into console lines.
#pragma once
#include "winfw/Text.h"

#include <string>
#include <vector>

class CTerminal;

// Seconds of the performance counter: what the console's timings are measured with.
double WallSeconds();

// Ends a progress bar drawn in place, so that the next line starts on its own.
void EndProgressLine();

// Writes one line of UTF-8 text on standard error, after any bar drawn in place.
void WriteStderrLine(const std::string& utf8);

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
