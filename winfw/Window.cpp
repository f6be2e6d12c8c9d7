#include "Window.h"

#include <vector>

std::string CWindow::GetWindowTextA() const
{
    const int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    const int n = ::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
    return std::string(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
}

RECT CWindow::RectIn(HWND parent) const
{
    RECT r = {};
    ::GetClientRect(m_hWnd, &r);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    ::ClientToScreen(m_hWnd, &corners[0]);
    ::ClientToScreen(m_hWnd, &corners[1]);
    ::ScreenToClient(parent, &corners[0]);
    ::ScreenToClient(parent, &corners[1]);
    return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

std::string WindowClassName(HWND hwnd)
{
    char name[256] = {};
    const int n = ::GetClassNameA(hwnd, name, static_cast<int>(sizeof name));
    return std::string(name, static_cast<std::size_t>(n > 0 ? n : 0));
}
