// CSplashScreenEx: a borderless, shaped, topmost popup showing a bitmap (and a text over
// it) for a while, faded in and out where the system animates windows. Always made on the
// heap: it deletes itself once its window is gone.
#pragma once
#include <windows.h>

#include "winfw/Gdi.h"
#include "winfw/Strings.h"
#include "winfw/WindowImpl.h"

class CSplashScreenEx : public CWindowImpl {
public:
    static constexpr char kClassName[] = "SplashScreenExClass";

    // The styles Create combines.
    static constexpr int kFadeIn = 0x01;
    static constexpr int kFadeOut = 0x02;
    static constexpr int kDropShadow = 0x04;
    static constexpr int kCenterScreen = 0x08;
    static constexpr int kCenterParent = 0x10;
    static constexpr int kHideOnInput = 0x20;

    CSplashScreenEx();

    // Registers the class and makes the window (visible, of no size yet), owned by `parent`.
    // On false the object is gone: it ends itself whichever step failed.
    bool Create(HWND parent, const char* text, int timeoutMs, int style);
    // Loads the bitmap resource, sizes and places the window, and cuts away every pixel of
    // the key colour; -1 in any component means no cutting.
    bool SetBitmap(int bitmapId, int red, int green, int blue);
    void Show();
    // Hides and destroys the window; the object goes with it.
    void Hide();

    bool PreTranslateMessage(MSG& msg) override;

private:
    ~CSplashScreenEx() override = default;

    bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnPrintClient(WPARAM, LPARAM);
    LRESULT OnEraseBackground(WPARAM, LPARAM);
    LRESULT OnDisplayTimer(WPARAM, LPARAM);
    void PostNcDestroy() override;
    bool RegisterWindowClass();
    // Cuts the key colour out of the bitmap as loaded (width x height at 96 DPI).
    void ApplyKeyColourRegion(int width, int height, int red, int green, int blue);
    void PaintTo(HDC dc);
    void PaintInSystemColours(HDC dc);

    HWND m_parent = nullptr;
    Bitmap m_bitmap;
    Font m_font;
    int m_style = 0;
    int m_timeout = 2000;
    CString m_text;
    RECT m_textRect = {0, 0, 0, 0};
    UINT m_textFormat = DT_CENTER | DT_VCENTER | DT_WORDBREAK;
    COLORREF m_textColor = RGB(0, 0, 0);
    int m_width = 0;
    int m_height = 0;
    int m_x = 0;
    int m_y = 0;
    // The owner's DPI and whether high contrast is on, when the splash was made.
    int m_dpi = 96;
    bool m_highContrast = false;
};
