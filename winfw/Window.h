// A window handle with the few operations the system's windows use. It does not own the
// window: controls belong to their dialog, which destroys them.
#pragma once
#include <windows.h>

#include <string>

class CWindow {
public:
    CWindow() = default;
    explicit CWindow(HWND hwnd) : m_hWnd(hwnd) {}

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hwnd) { m_hWnd = hwnd; }
    bool IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }

    LRESULT SendMessageA(UINT message, WPARAM w = 0, LPARAM l = 0) const
    {
        return ::SendMessageA(m_hWnd, message, w, l);
    }
    BOOL PostMessageA(UINT message, WPARAM w = 0, LPARAM l = 0) const
    {
        return ::PostMessageA(m_hWnd, message, w, l);
    }
    void SetWindowTextA(const std::string& text) const { ::SetWindowTextA(m_hWnd, text.c_str()); }
    std::string GetWindowTextA() const;
    // The window's rectangle in the client coordinates of `parent`.
    RECT RectIn(HWND parent) const;
    void EnableWindow(bool enable) const { ::EnableWindow(m_hWnd, enable ? TRUE : FALSE); }
    void SetFont(HFONT font) const
    {
        ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }

protected:
    HWND m_hWnd = nullptr;
};

// The window class name of `hwnd`, at most 255 characters.
std::string WindowClassName(HWND hwnd);
