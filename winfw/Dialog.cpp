#include "Dialog.h"

#include "App.h"
#include "Diag.h"
#include "WindowImpl.h"

namespace {

// A message queue that fails is asked again after this pause rather than in a busy loop.
constexpr DWORD kQueueRetryMs = 10;

// Messages whose result a dialog procedure returns itself rather than through
// DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

HINSTANCE ResourceInstance() { return ::GetModuleHandleA(nullptr); }

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog()
{
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal()
{
    m_ended = false;
    m_modalResult = -1;
    // A dialog given no parent is owned by the main window, which it disables while it
    // runs: the operator cannot start a second update behind the first one.
    HWND owner = m_parent != nullptr ? m_parent : MainWindowHandle();
    HWND hwnd = ::CreateDialogParamA(ResourceInstance(), MAKEINTRESOURCEA(m_templateId), owner,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr)
        return -1;
    const bool ownerWasEnabled = owner != nullptr && ::IsWindowEnabled(owner);
    if (ownerWasEnabled)
        ::EnableWindow(owner, FALSE);
    // A modal dialog is shown whether or not its template says visible.
    if (!m_ended && m_hWnd != nullptr && !::IsWindowVisible(m_hWnd))
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    RunModalLoop();
    if (ownerWasEnabled) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
    return m_modalResult;
}

void CDialog::RunModalLoop()
{
    MSG msg;
    bool quitPending = false;
    WPARAM quitCode = 0;
    while (!m_ended) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            if (got == 0) {
                quitPending = true;
                quitCode = msg.wParam;
            }
            if (MayLeaveBeforeEnd())
                break;
            if (got == -1)
                ::Sleep(kQueueRetryMs);
            continue;
        }
        // The window the message is for filters it first (a splash hides on input), then
        // the dialog.
        CWindowImpl* target = CWindowImpl::FromHandle(msg.hwnd);
        if (target != nullptr && target->PreTranslateMessage(msg))
            continue;
        if (PreTranslateMessage(msg))
            continue;
        if (m_hWnd != nullptr && ::IsDialogMessageA(m_hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // WM_QUIT belongs to an outer loop: hand it back.
    if (quitPending)
        ::PostQuitMessage(static_cast<int>(quitCode));
}

void CDialog::EndDialog(INT_PTR result)
{
    m_modalResult = result;
    m_ended = true;
    // Wake the loop so that it sees the end even when no other message comes.
    if (m_hWnd != nullptr)
        ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

void CDialog::UpdateData()
{
    DataExchange dx(m_hWnd);
    DoDataExchange(dx);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData();
    return TRUE;
}

bool CDialog::PreTranslateMessage(MSG& /*msg*/) { return false; }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

bool CDialog::OnDefaultCommand(UINT message, WPARAM w)
{
    // Enter and Escape reach a dialog as IDOK and IDCANCEL: a class that keeps its window
    // open filters the keys or maps the commands itself.
    if (message != WM_COMMAND || HIWORD(w) != BN_CLICKED)
        return false;
    if (LOWORD(w) == IDOK) {
        OnOK();
        return true;
    }
    if (LOWORD(w) == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

HBRUSH CDialog::DefaultCtlColor(UINT message, WPARAM w, LPARAM l)
{
    return reinterpret_cast<HBRUSH>(::DefWindowProcA(m_hWnd, message, w, l));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) noexcept
{
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(l);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (self == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    }
    return self->Route(message, w, l);
}

INT_PTR CDialog::Route(UINT message, WPARAM w, LPARAM l)
{
    LRESULT result = 0;
    bool handled = false;
    try {
        if (message == WM_INITDIALOG) {
            result = OnInitDialog();
            handled = true;
        } else {
            handled = OnMessage(message, w, l, result);
            if (!handled)
                handled = OnDefaultCommand(message, w);
        }
    } catch (...) {
        // A handler that fails leaves the message to the default processing: nothing
        // may unwind through the system's window procedure.
        LogLine("Erreur inattendue dans le traitement du message %u", message);
        return FALSE;
    }
    if (!handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
