// The dialog base of our framework layer: a dialog template run modally by our own message
// loop, so that every message passes a pre-translation step first; `this` kept in
// DWLP_USER from WM_INITDIALOG to WM_NCDESTROY; one message map per class; controls bound
// to their ids by data exchange; no exception ever leaves the window procedure.
#pragma once
#include <windows.h>

#include "MessageMap.h"
#include "Window.h"

// Binds control handles to ids: the dialog's data exchange.
class DataExchange {
public:
    explicit DataExchange(HWND dialog) : m_dialog(dialog) {}
    void Control(int id, CWindow& control) { control.Attach(::GetDlgItem(m_dialog, id)); }

private:
    HWND m_dialog;
};

class CDialog : public CWindow {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the dialog, disables the parent, runs the loop until EndDialog, destroys the
    // window and returns the value given to EndDialog (-1 when the window cannot be made).
    // A dialog without parent is owned by the application's main window.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    // Binds the controls to their ids (DoDataExchange); the initialisation does it once, and
    // the handles hold for the window's life. No value is exchanged: the windows read and
    // write their controls themselves.
    void UpdateData();

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(DataExchange& /*dx*/) {}
    // True when the message was handled and must not be dispatched.
    virtual bool PreTranslateMessage(MSG& msg);
    // The class's message map; false leaves the message to the default processing.
    virtual bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result);
    // Whether WM_QUIT or a failing message queue may end the modal loop before EndDialog.
    // A dialog that must outlive work it started says no: the quit is then passed on once
    // the dialog has ended.
    virtual bool MayLeaveBeforeEnd() const { return true; }
    void OnOK() { EndDialog(IDOK); }
    void OnCancel() { EndDialog(IDCANCEL); }
    // The default control colouring of the dialog, for handlers that start from it.
    HBRUSH DefaultCtlColor(UINT message, WPARAM w, LPARAM l);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) noexcept;
    INT_PTR Route(UINT message, WPARAM w, LPARAM l);
    bool OnDefaultCommand(UINT message, WPARAM w);
    void RunModalLoop();

    UINT m_templateId;
    HWND m_parent;
    bool m_ended = false;
    INT_PTR m_modalResult = -1;
};

// The module that holds the program's resources.
HINSTANCE ResourceInstance();
