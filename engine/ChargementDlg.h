// CChargementDlg: the progress window of one update. It owns the run's CTerminal, starts
// the worker once it is shown, shows what the worker reports and closes when the run ends.
#pragma once
#include <windows.h>

#include <atomic>

#include "Background.h"
#include "RunMessages.h"
#include "UpdateRun.h"
#include "terminal/Terminal.h"
#include "winfw/Dialog.h"
#include "winfw/Dpi.h"
#include "winfw/Strings.h"

// One poster per run message, each taking the window handle and returning PostMessageA's
// result.
BOOL PostUpdatePercent(HWND window);
BOOL PostUpdateModule(HWND window);
BOOL PostUpdateStart(HWND window);
BOOL PostRunClose(HWND window);

// The terminal's callbacks carry the window handle in their 32-bit context: window handles
// are 32-bit significant on 64-bit Windows.
std::uint32_t HandleToContext(HWND window);
HWND ContextToHandle(std::uint32_t context);

// The pen (0 to 44) that follows row `y` of the progress window's gradient, for a client
// area `height` pixels high.
int ProgressGradientPen(int y, int height);

class CChargementDlg : public CDialog, private RunView {
public:
    CChargementDlg();
    ~CChargementDlg() override;

    void SetPortName(const CString& text) { m_portName = text; }
    RunResult GetResult() const { return m_result; }
    // Callable from the worker: each change is done on the window's thread before it returns.
    void SetStepText(const CString& text) override;
    void SetFileText(const CString& text) override;

    // Whether the run ended with success; read once the window has closed.
    bool Succeeded() const { return m_runOver && m_result == RUN_SUCCEEDED; }
    // What the window is drawn at: its DPI, and whether in the system's high-contrast colours.
    int Dpi() const { return m_dpi; }
    bool InHighContrast() const { return m_highContrast; }

    static DWORD WINAPI UpdateThreadProc(LPVOID window);

private:
    HICON m_hIcon;
    BackgroundPainter m_background;
    HANDLE m_hThread;
    CString m_portName;
    CTerminal m_terminal;
    CWindow m_stepText;
    CWindow m_fileText;
    CWindow m_totalProgress;
    CWindow m_fileProgress;
    HBRUSH m_ctlBrush;
    RunResult m_result;
    int m_dpi = kDefaultDpi;
    bool m_highContrast = false;
    DialogLayout m_layout;

    BOOL OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
    bool PreTranslateMessage(MSG& msg) override;
    bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;
    // Once the worker runs, the window and its terminal outlive it: the loop ends only
    // with the run.
    bool MayLeaveBeforeEnd() const override { return m_hThread == nullptr; }

    // RunView: how the worker reaches this window. Texts and bars are sent and done before
    // the worker goes on; the module and the percentage are kept here for the messages
    // the terminal's callbacks post, so the window never reads the worker's strings.
    void SetTotalRange(int count) override;
    void SetTotalStep(int step) override;
    void SetTotalPosition(int position) override;
    void StepTotal() override;
    void SetModule(const CString& module) override;
    void SetFilePercent(int percent) override;
    void ShowErrorBox(const CString& text) override;
    void EndRun(RunResult result) override;

    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnUpdatePercent(WPARAM, LPARAM);
    LRESULT OnUpdateModule(WPARAM, LPARAM);
    LRESULT StartUpdate(WPARAM, LPARAM);
    LRESULT OnEraseBackground(WPARAM, LPARAM);
    HBRUSH OnCtlColor(UINT message, WPARAM w, LPARAM l);
    LRESULT OnHelpInfo(WPARAM, LPARAM);
    LRESULT OnDpiChanged(WPARAM, LPARAM);
    LRESULT OnGetDpiScaledSize(WPARAM, LPARAM);
    LRESULT OnColoursChanged(WPARAM, LPARAM);
    // Reads whether high contrast is on and, when that changed, repaints in the new colours.
    void FollowContrast();
    void ReplaceText(CWindow& control, const CString& text);
    void EndWithoutRun(RunResult result);

    static int PercentCallback(std::uint32_t context);
    static int ModuleCallback(std::uint32_t context);

    // Set once the run is over (or will not start): only then may WM_CLOSE end the window.
    std::atomic<bool> m_runOver;
    // The module name the last WM_UPDATE_MODULE shows, as the run handed it over: a
    // string crosses threads here, so it is copied under the lock.
    SRWLOCK m_moduleLock;
    CString m_announcedModule;
    // The file percentage the last WM_UPDATE_PERCENT shows: the newest at handling time.
    std::atomic<int> m_filePercent;
};
