#include "UpdateCommand.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "Progress.h"
#include "engine/Journal.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "terminal/Terminal.h"

namespace {

// The progress window's texts and bars as console lines, each stamped with the seconds
// since the run started, so a technician sees how long each step took.
class ConsoleRunView : public RunView {
public:
    ConsoleRunView() : m_start(WallSeconds()) {}

    void SetStepText(const CString& text) override { Line("step", text); }
    void SetFileText(const CString& text) override { Line("file", text); }
    void SetTotalRange(int count) override { m_count = count; }
    void SetTotalStep(int step) override { m_step = step; }
    void SetTotalPosition(int position) override { m_position = position; }
    void StepTotal() override
    {
        m_position += m_step;
        if (m_position > m_count)
            m_position = m_count;
        char text[64];
        std::snprintf(text, sizeof text, "%d/%d files", m_position, m_count);
        Line("total", text);
    }
    void SetModule(const CString& module) override { m_bar.Module(module); }
    void SetFilePercent(int percent) override { m_bar.Percent(percent); }
    void ShowErrorBox(const CString& text) override { Line("box", text); }
    void EndRun(RunResult result, bool succeeded) override
    {
        char text[64];
        std::snprintf(text, sizeof text, "%d (%s)", static_cast<int>(result),
                      succeeded ? "success" : "failure");
        Line("result", text);
    }

private:
    void Line(const char* what, const std::string& ansi)
    {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%7.2f s] %s: ", WallSeconds() - m_start, what);
        WriteStderrLine(stamp + AnsiToUtf8(ansi));
    }

    double m_start;
    int m_count = 100;
    int m_step = 10;
    int m_position = 0;
    ConsoleBar m_bar;
};

} // namespace

RunResult RunUpdate(CTerminal& terminal, const std::string& portText)
{
    ConsoleRunView view;
    RunResult result;
    {
        UpdateRun run(terminal, portText, view);
        run.SetJournalDirectory(JournalDirectory());
        result = run.Execute();
    }
    // What the operator would read in the main window's box.
    std::printf("%s\n", AnsiToUtf8(ResultBoxText(result)).c_str());
    return result;
}
