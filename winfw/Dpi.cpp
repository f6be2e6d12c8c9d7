#include "Dpi.h"

#include "OsSeam.h"

int ScaleToDpi(int value, int dpi) { return ::MulDiv(value, dpi, kDefaultDpi); }

RECT ScaleToDpi(const RECT& rect, int dpi)
{
    return RECT{ScaleToDpi(rect.left, dpi), ScaleToDpi(rect.top, dpi), ScaleToDpi(rect.right, dpi),
                ScaleToDpi(rect.bottom, dpi)};
}

int RescaleDpi(int value, int fromDpi, int toDpi)
{
    return fromDpi > 0 ? ::MulDiv(value, toDpi, fromDpi) : value;
}

int WindowDpi(HWND window)
{
    const UINT dpi = Os().GetDpiForWindow(window);
    return dpi != 0 ? static_cast<int>(dpi) : kDefaultDpi;
}

bool HighContrastOn()
{
    HIGHCONTRASTA contrast = {};
    contrast.cbSize = sizeof contrast;
    if (!Os().SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0))
        return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

namespace {

BOOL CALLBACK AddChild(HWND child, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

} // namespace

void DialogLayout::Record(HWND dialog, int dpi)
{
    m_dialog = dialog;
    m_dpi = dpi;
    m_children.clear();
    const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
    m_hasFont = dialogFont != nullptr &&
                ::GetObjectA(dialogFont, sizeof m_font, &m_font) == sizeof m_font;
    std::vector<HWND> children;
    ::EnumChildWindows(dialog, AddChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        if (::GetParent(child) != dialog)
            continue; // a combo box's own edit field moves with its combo box
        RECT r = {};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        const auto font = reinterpret_cast<HFONT>(::SendMessageA(child, WM_GETFONT, 0, 0));
        m_children.push_back({child, r, m_hasFont && font == dialogFont});
    }
}

void DialogLayout::Apply(int dpi)
{
    if (m_hasFont) {
        LOGFONTA font = m_font;
        font.lfHeight = RescaleDpi(m_font.lfHeight, m_dpi, dpi);
        m_scaledFont.Reset(::CreateFontIndirectA(&font));
    }
    for (const Child& child : m_children) {
        const RECT& r = child.rect;
        const int left = RescaleDpi(r.left, m_dpi, dpi);
        const int top = RescaleDpi(r.top, m_dpi, dpi);
        ::SetWindowPos(child.window, nullptr, left, top, RescaleDpi(r.right, m_dpi, dpi) - left,
                       RescaleDpi(r.bottom, m_dpi, dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (child.dialogFont && m_scaledFont)
            ::SendMessageA(child.window, WM_SETFONT, reinterpret_cast<WPARAM>(m_scaledFont.Get()), TRUE);
    }
}
