// A window of one of our own window classes: `this` found from the handle from
// WM_NCCREATE to WM_NCDESTROY, one message map per class, no exception out of the window
// procedure, and a last call once the window is gone (a heap object may delete itself
// there, after every handler on the stack has returned).
#pragma once
#include <windows.h>

#include "Window.h"

class CWindowImpl : public CWindow {
public:
    CWindowImpl() = default;
    virtual ~CWindowImpl();
    CWindowImpl(const CWindowImpl&) = delete;
    CWindowImpl& operator=(const CWindowImpl&) = delete;

    // The framework's window procedure, for the classes our windows register.
    static WNDPROC Procedure() { return WindowProc; }
    // The object behind a window of ours; null for any other window.
    static CWindowImpl* FromHandle(HWND hwnd);

    // Offered every message the modal loops take for this window before it is dispatched;
    // true when it was handled and must not be.
    virtual bool PreTranslateMessage(MSG& /*msg*/) { return false; }

protected:
    // False when no window was made; the object has then had its PostNcDestroy, as after a
    // window's destruction, and a heap object that deletes itself there is gone.
    bool CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                  int y, int width, int height, HWND owner);
    // The class's message map; false leaves the message to DefWindowProc.
    virtual bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result);
    // Called once the window is destroyed and no handler of it runs any more.
    virtual void PostNcDestroy() {}

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) noexcept;
    LRESULT Route(UINT message, WPARAM w, LPARAM l);

    int m_dispatchDepth = 0;
    bool m_destroyed = false;
};
