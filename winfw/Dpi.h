// What a window is drawn at: its DPI, and whether the operator asked for high contrast.
// Sizes are written at 96 DPI (the system's default) and scaled here, so 96 DPI gives
// them to the pixel.
#pragma once
#include <windows.h>

#include <vector>

#include "Gdi.h"

constexpr int kDefaultDpi = USER_DEFAULT_SCREEN_DPI;

// A length given at 96 DPI, at `dpi` (rounded as MulDiv rounds).
int ScaleToDpi(int value, int dpi);
RECT ScaleToDpi(const RECT& rect, int dpi);
// A length given at `fromDpi`, at `toDpi`: what a window moved to another screen re-lays.
int RescaleDpi(int value, int fromDpi, int toDpi);

// The DPI the window is drawn at, through the seam; never 0.
int WindowDpi(HWND window);

// Whether the high-contrast feature is on, through the seam.
bool HighContrastOn();

// The DPI of a WM_DPICHANGED message (both axes are the same on Windows).
inline int DpiOfMessage(WPARAM w) { return static_cast<int>(HIWORD(w)); }

// Moves `window` to the rectangle a WM_DPICHANGED message suggests (its LPARAM), if any.
inline void TakeSuggestedRect(HWND window, LPARAM l)
{
    const auto* suggested = reinterpret_cast<const RECT*>(l);
    if (suggested != nullptr)
        ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
}

// Asked of a PerMonitorV2 window before WM_DPICHANGED (Windows 10 1703 on): the window
// size it wants at the DPI in WPARAM, written to the SIZE in LPARAM. The headers hide it
// below that version.
constexpr UINT kGetDpiScaledSize = 0x02E4;
// DIALOG_DPI_CHANGE_BEHAVIORS: the dialog manager neither answers kGetDpiScaledSize nor
// re-lays anything on WM_DPICHANGED.
constexpr int kDialogDpiDisableAll = 0x0001;

// Turns the dialog manager's own re-layout on a DPI change off where the system has it: the
// dialog's DialogLayout re-lays it, and both doing it would scale the controls twice.
void KeepDialogRelayoutOurs(HWND dialog);

// The window size at `toDpi` of a window laid out at `fromDpi`: its client area scaled as
// DialogLayout scales the controls, with the frame the system draws at `toDpi`.
SIZE WindowSizeAtDpi(HWND window, int fromDpi, int toDpi);

// The answer to kGetDpiScaledSize of a window laid out at `dpi`: always TRUE, the system
// taking our size rather than scaling the window itself.
LRESULT AnswerDpiScaledSize(HWND window, int dpi, WPARAM w, LPARAM l);

// The controls of a dialog as laid out at one DPI, re-laid at another as Windows re-lays
// a per-monitor dialog: every rectangle scaled, and the dialog's own font made again for
// the controls that use it. Fonts the window gives its controls itself are its own to
// make again.
class DialogLayout {
public:
    DialogLayout() = default;
    DialogLayout(const DialogLayout&) = delete;
    DialogLayout& operator=(const DialogLayout&) = delete;

    // Takes every child's rectangle (client coordinates) and font as they are now, at `dpi`.
    void Record(HWND dialog, int dpi);
    // Moves every recorded child to its rectangle at `dpi`.
    void Apply(int dpi);

private:
    struct Child {
        HWND window;
        RECT rect;
        bool dialogFont;
    };
    HWND m_dialog = nullptr;
    int m_dpi = kDefaultDpi;
    LOGFONTA m_font = {};
    bool m_hasFont = false;
    std::vector<Child> m_children;
    Font m_scaledFont;
};

// Writes one diagnostic line on whether every static text of the dialog fits its control
// in its own font (measured here: a font cannot be read from another process), naming the
// controls whose text is cut.
void LogTextFit(HWND dialog, int dpi);
