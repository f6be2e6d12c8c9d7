#include "ChargementDlg.h"

#include <commctrl.h>

#include <cstring>
#include <initializer_list>

#include "Journal.h"
#include "RunResult.h"
#include "RunTexts.h"
#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

namespace {

constexpr int kGradientPens = BackgroundPainter::kPenCount;

// Row y shows the pen that follows row y - 1, row 0 the first pen: the gradient starts one
// row down. It spans the client height, whatever the DPI; the window has no separator.
int ProgressRowPen(int y, int height, const SeparatorRows& /*separators*/)
{
    return y == 0 ? 0 : ProgressGradientPen(y - 1, height);
}

} // namespace

BOOL PostUpdatePercent(HWND window) { return ::PostMessageA(window, WM_UPDATE_PERCENT, 0, 0); }
BOOL PostUpdateModule(HWND window) { return ::PostMessageA(window, WM_UPDATE_MODULE, 0, 0); }
BOOL PostUpdateStart(HWND window) { return ::PostMessageA(window, WM_UPDATE_START, 0, 0); }
BOOL PostRunClose(HWND window) { return ::PostMessageA(window, WM_CLOSE, 0, 0); }

std::uint32_t HandleToContext(HWND window) { return static_cast<std::uint32_t>(HandleToLong(window)); }

HWND ContextToHandle(std::uint32_t context)
{
    return static_cast<HWND>(LongToHandle(static_cast<LONG>(context)));
}

int ProgressGradientPen(int y, int height)
{
    if (height <= 0)
        return 0; // a window with no client height has nothing to shade
    const int pen = (y * kGradientPens + kGradientPens) / height;
    return pen < kGradientPens - 1 ? pen : kGradientPens - 1;
}

CChargementDlg::CChargementDlg()
    : CDialog(IDD_CHARGEMENT, nullptr),
      m_hIcon(::LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDI_ORVANE))),
      m_background(ProgressRowPen),
      m_hThread(nullptr), m_ctlBrush(nullptr), m_result(RUN_SUCCEEDED), m_runOver(false), m_filePercent(0)
{
    ::InitializeSRWLock(&m_moduleLock);
}

CChargementDlg::~CChargementDlg()
{
    // The worker holds this object and its terminal until it returns: nothing here may go
    // before it does. Its last act is the post that ends the window, so this wait is short.
    if (m_hThread != nullptr) {
        ::WaitForSingleObject(m_hThread, INFINITE);
        Os().CloseHandle(m_hThread);
    }
}

void CChargementDlg::DoDataExchange(DataExchange& dx)
{
    dx.Control(IDC_FILE_PROGRESS, m_fileProgress);
    dx.Control(IDC_TOTAL_PROGRESS, m_totalProgress);
    dx.Control(IDC_FILE_TEXT, m_fileText);
    dx.Control(IDC_STEP_TEXT, m_stepText);
}

BOOL CChargementDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    KeepDialogRelayoutOurs(m_hWnd);
    m_terminal.SetPercentCallback(PercentCallback, HandleToContext(m_hWnd));
    m_terminal.SetModuleCallback(ModuleCallback, HandleToContext(m_hWnd));
    SendMessageA(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_dpi = WindowDpi(m_hWnd);
    m_layout.Record(m_hWnd, m_dpi);
    FollowContrast();
    // The run's first step, shown at once: the template's placeholder stays on screen for as
    // long as the worker takes to open its journal otherwise.
    ReplaceText(m_stepText, LoadResString(IDS_SEARCHING));
    LogTextFit(m_hWnd, m_dpi);
    PostUpdateStart(m_hWnd);
    return TRUE;
}

LRESULT CChargementDlg::OnGetDpiScaledSize(WPARAM w, LPARAM l)
{
    return AnswerDpiScaledSize(m_hWnd, m_dpi, w, l);
}

LRESULT CChargementDlg::OnDpiChanged(WPARAM w, LPARAM l)
{
    // Moved to a screen of another DPI: the suggested rectangle, and the controls re-laid.
    m_dpi = DpiOfMessage(w);
    TakeSuggestedRect(m_hWnd, l);
    m_layout.Apply(m_dpi);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    LogTextFit(m_hWnd, m_dpi);
    return 0;
}

LRESULT CChargementDlg::OnColoursChanged(WPARAM, LPARAM)
{
    FollowContrast();
    return 0;
}

void CChargementDlg::FollowContrast()
{
    const bool highContrast = HighContrastOn();
    if (highContrast == m_highContrast)
        return;
    m_highContrast = highContrast;
    // In high contrast the bars take the system's colours; otherwise their own again.
    const LPARAM bar = highContrast ? static_cast<LPARAM>(::GetSysColor(COLOR_HIGHLIGHT)) : CLR_DEFAULT;
    const LPARAM back = highContrast ? static_cast<LPARAM>(::GetSysColor(COLOR_WINDOW)) : CLR_DEFAULT;
    for (CWindow* bars : {&m_totalProgress, &m_fileProgress}) {
        bars->SendMessageA(PBM_SETBARCOLOR, 0, bar);
        bars->SendMessageA(PBM_SETBKCOLOR, 0, back);
    }
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

bool CChargementDlg::PreTranslateMessage(MSG& msg)
{
    // Nothing may close the window while the reader is being written.
    return msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE);
}

bool CChargementDlg::OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result)
{
    // IDOK and IDCANCEL (Enter, Escape, another program) end the window only as WM_CLOSE
    // does: once the run is over.
    using Entry = MessageEntry<CChargementDlg>;
    static constexpr Entry kEntries[] = {
        Entry::Message(WM_CLOSE, &CChargementDlg::OnClose),
        Entry::Command(IDOK, BN_CLICKED, &CChargementDlg::OnClose),
        Entry::Command(IDCANCEL, BN_CLICKED, &CChargementDlg::OnClose),
        Entry::Message(WM_UPDATE_PERCENT, &CChargementDlg::OnUpdatePercent),
        Entry::Message(WM_UPDATE_MODULE, &CChargementDlg::OnUpdateModule),
        Entry::Message(WM_UPDATE_START, &CChargementDlg::StartUpdate),
        Entry::Message(WM_ERASEBKGND, &CChargementDlg::OnEraseBackground),
        Entry::ControlColors(&CChargementDlg::OnCtlColor),
        Entry::Message(WM_HELP, &CChargementDlg::OnHelpInfo),
        Entry::Message(WM_DPICHANGED, &CChargementDlg::OnDpiChanged),
        Entry::Message(kGetDpiScaledSize, &CChargementDlg::OnGetDpiScaledSize),
        Entry::Notice(WM_SYSCOLORCHANGE, &CChargementDlg::OnColoursChanged),
        Entry::Notice(WM_SETTINGCHANGE, &CChargementDlg::OnColoursChanged),
    };
    return DispatchMessageMap(this, kEntries, message, w, l, result);
}

LRESULT CChargementDlg::OnClose(WPARAM, LPARAM)
{
    // Only the run's own end closes the window: a close asked for while it runs (Alt+F4,
    // another program) would leave the reader half-written and report nothing true.
    if (!m_runOver)
        return 0;
    if (Succeeded())
        OnOK();
    else
        OnCancel();
    return 0;
}

LRESULT CChargementDlg::OnUpdatePercent(WPARAM, LPARAM)
{
    m_fileProgress.SendMessageA(PBM_SETPOS, static_cast<WPARAM>(m_filePercent.load()));
    return 0;
}

LRESULT CChargementDlg::OnUpdateModule(WPARAM, LPARAM)
{
    CString module;
    ::AcquireSRWLockShared(&m_moduleLock);
    module = m_announcedModule;
    ::ReleaseSRWLockShared(&m_moduleLock);
    ReplaceText(m_fileText, LoadResString(IDS_MODULE_PREFIX) + module);
    return 0;
}

LRESULT CChargementDlg::StartUpdate(WPARAM, LPARAM)
{
    if (m_portName.empty()) {
        EndWithoutRun(RUN_NO_PORT);
        return 0;
    }
    m_totalProgress.SendMessageA(PBM_SETPOS, 0);
    m_fileProgress.SendMessageA(PBM_SETPOS, 0);
    ReplaceText(m_fileText, "");
    HANDLE thread = Os().CreateThread(nullptr, 0, UpdateThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        LogLine("%s", runtext::kThreadFailed);
        // Without a worker nothing would ever close the window: close it as failed.
        EndWithoutRun(RUN_DOWNLOAD_UNDEFINED);
        return 0;
    }
    ::SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    ::ResumeThread(thread);
    m_hThread = thread;
    return 0;
}

void CChargementDlg::EndWithoutRun(RunResult result)
{
    m_result = result;
    m_runOver = true;
    OnClose(0, 0);
}

DWORD WINAPI CChargementDlg::UpdateThreadProc(LPVOID window)
{
    auto* self = static_cast<CChargementDlg*>(window);
    try {
        UpdateRun run(self->m_terminal, self->m_portName, *self);
        run.SetJournalFolder(OpenJournalFolder());
        run.Execute();
    } catch (...) {
        // Nothing may end the process in the middle of an update.
        LogLine("Erreur inattendue, arret de la mise a jour");
        self->m_terminal.ClosePort();
        if (!self->m_runOver)
            self->EndRun(RUN_DOWNLOAD_UNDEFINED);
    }
    return 0;
}

void CChargementDlg::EndRun(RunResult result)
{
    // Read before the run is declared over: from then on the window may close and clear it.
    const HWND window = m_hWnd;
    m_result = result;
    m_runOver = true;
    PostRunClose(window);
}

void CChargementDlg::SetStepText(const CString& text) { ReplaceText(m_stepText, text); }

void CChargementDlg::SetFileText(const CString& text) { ReplaceText(m_fileText, text); }

void CChargementDlg::ReplaceText(CWindow& control, const CString& text)
{
    // The text is drawn transparently: the gradient behind the whole control is repainted
    // first, so a shorter text leaves nothing of the longer one.
    const RECT area = control.RectIn(m_hWnd);
    ::InvalidateRect(m_hWnd, &area, TRUE);
    control.SendMessageA(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CChargementDlg::SetTotalRange(int count)
{
    m_totalProgress.SendMessageA(PBM_SETRANGE, 0, MAKELPARAM(0, count & 0xFFFF));
}

void CChargementDlg::SetTotalStep(int step) { m_totalProgress.SendMessageA(PBM_SETSTEP, step); }

void CChargementDlg::SetTotalPosition(int position)
{
    m_totalProgress.SendMessageA(PBM_SETPOS, static_cast<WPARAM>(position));
}

void CChargementDlg::StepTotal() { m_totalProgress.SendMessageA(PBM_STEPIT); }

void CChargementDlg::ShowErrorBox(const CString& text) { ShowMessage(text, MB_OK | MB_ICONERROR); }

int CChargementDlg::PercentCallback(std::uint32_t context)
{
    return PostUpdatePercent(ContextToHandle(context));
}

int CChargementDlg::ModuleCallback(std::uint32_t context)
{
    return PostUpdateModule(ContextToHandle(context));
}

void CChargementDlg::SetModule(const CString& module)
{
    CString copy = module;
    ::AcquireSRWLockExclusive(&m_moduleLock);
    m_announcedModule.swap(copy);
    ::ReleaseSRWLockExclusive(&m_moduleLock);
}

void CChargementDlg::SetFilePercent(int percent) { m_filePercent = percent; }

LRESULT CChargementDlg::OnEraseBackground(WPARAM w, LPARAM)
{
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    m_background.Paint(reinterpret_cast<HDC>(w), client, SeparatorRows(), m_highContrast);
    return TRUE;
}

HBRUSH CChargementDlg::OnCtlColor(UINT message, WPARAM w, LPARAM l)
{
    m_ctlBrush = DefaultCtlColor(message, w, l);
    if (WindowClassName(reinterpret_cast<HWND>(l)) == "Static")
        m_ctlBrush = m_highContrast ? TextInSystemColours(reinterpret_cast<HDC>(w))
                                    : TextOverBackground(reinterpret_cast<HDC>(w));
    return m_ctlBrush;
}

LRESULT CChargementDlg::OnHelpInfo(WPARAM, LPARAM) { return TRUE; }
