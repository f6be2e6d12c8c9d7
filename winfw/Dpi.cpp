#include "Dpi.h"

#include <string>

#include "Diag.h"
#include "OsSeam.h"
#include "Window.h"

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
    // Before Windows 10 1607 there is no per-window DPI: the system's then.
    const UINT dpi = Os().GetDpiForWindow != nullptr ? Os().GetDpiForWindow(window) : 0;
    if (dpi != 0)
        return static_cast<int>(dpi);
    const WindowDC screen(nullptr);
    const int system = screen.Get() != nullptr ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return system > 0 ? system : kDefaultDpi;
}

bool HighContrastOn()
{
    HIGHCONTRASTA contrast = {};
    contrast.cbSize = sizeof contrast;
    if (!Os().SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0))
        return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void KeepDialogRelayoutOurs(HWND dialog)
{
    // Wine and Windows before 10 1703 lack it.
    if (Os().SetDialogDpiChangeBehavior != nullptr)
        Os().SetDialogDpiChangeBehavior(dialog, kDialogDpiDisableAll, kDialogDpiDisableAll);
}

SIZE WindowSizeAtDpi(HWND window, int fromDpi, int toDpi)
{
    RECT client = {};
    ::GetClientRect(window, &client);
    RECT rect = {0, 0, RescaleDpi(client.right, fromDpi, toDpi), RescaleDpi(client.bottom, fromDpi, toDpi)};
    const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongA(window, GWL_EXSTYLE));
    if (Os().AdjustWindowRectExForDpi != nullptr &&
        Os().AdjustWindowRectExForDpi(&rect, style, ::GetMenu(window) != nullptr, exStyle,
                                      static_cast<UINT>(toDpi)))
        return SIZE{rect.right - rect.left, rect.bottom - rect.top};
    // Without it, the frame the window has now, scaled as its client area.
    RECT outer = {};
    ::GetWindowRect(window, &outer);
    const int frameX = (outer.right - outer.left) - client.right;
    const int frameY = (outer.bottom - outer.top) - client.bottom;
    return SIZE{rect.right + RescaleDpi(frameX, fromDpi, toDpi),
                rect.bottom + RescaleDpi(frameY, fromDpi, toDpi)};
}

LRESULT AnswerDpiScaledSize(HWND window, int dpi, WPARAM w, LPARAM l)
{
    auto* size = reinterpret_cast<SIZE*>(l);
    // A DPI that is none leaves the window as it is.
    const int toDpi = w > 0 && w <= 0xFFFF ? static_cast<int>(w) : dpi;
    if (size != nullptr)
        *size = WindowSizeAtDpi(window, dpi, toDpi);
    return TRUE;
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

namespace {

// Whether a static text control's text fits it, word-wrapped as the control draws it.
bool TextFits(HWND control)
{
    const LONG style = ::GetWindowLongA(control, GWL_STYLE);
    const LONG kind = style & SS_TYPEMASK;
    if (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT)
        return true; // pictures and frames hold no text to read
    std::string text = CWindow(control).GetWindowTextA();
    // Blank lines at the end show nothing that could be cut.
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    if (text.empty())
        return true;
    RECT client = {};
    ::GetClientRect(control, &client);
    WindowDC dc(control);
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0));
    Selection selected(dc.Get(), font != nullptr ? static_cast<HGDIOBJ>(font) : ::GetStockObject(SYSTEM_FONT));
    RECT needed = {0, 0, client.right, 0};
    UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    ::DrawTextA(dc.Get(), text.c_str(), -1, &needed, format);
    return needed.bottom <= client.bottom && needed.right <= client.right;
}

} // namespace

void LogTextFit(HWND dialog, int dpi)
{
    std::string cut;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (WindowClassName(child) == "Static" && !TextFits(child))
            cut += " " + std::to_string(::GetDlgCtrlID(child));
    }
    if (cut.empty())
        LogLine("Fenetre a %d ppp : tous les textes tiennent", dpi);
    else
        LogLine("Fenetre a %d ppp : texte coupe dans%s", dpi, cut.c_str());
}
