#include "SplashScreenEx.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <utility>

#include "Drawing.h"
#include "winfw/Dpi.h"
#include "winfw/Dialog.h"
#include "winfw/MessageMap.h"

namespace {

constexpr UINT_PTR kDisplayTimer = 0;
constexpr DWORD kFadeMs = 200;
// ExtCreateRegion takes the rectangles of a bitmap this many at a time.
constexpr std::size_t kRectanglesPerRegion = 2000;

Region RegionOfRectangles(const RECT* rects, std::size_t count)
{
    RECT bound = rects[0];
    for (std::size_t i = 1; i < count; ++i) {
        bound.left = std::min(bound.left, rects[i].left);
        bound.top = std::min(bound.top, rects[i].top);
        bound.right = std::max(bound.right, rects[i].right);
        bound.bottom = std::max(bound.bottom, rects[i].bottom);
    }
    std::vector<unsigned char> buffer(sizeof(RGNDATAHEADER) + count * sizeof(RECT));
    RGNDATAHEADER header = {};
    header.dwSize = sizeof header;
    header.iType = RDH_RECTANGLES;
    header.nCount = static_cast<DWORD>(count);
    header.nRgnSize = static_cast<DWORD>(count * sizeof(RECT));
    header.rcBound = bound;
    std::memcpy(buffer.data(), &header, sizeof header);
    std::memcpy(buffer.data() + sizeof header, rects, count * sizeof(RECT));
    return Region(::ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()),
                                    reinterpret_cast<const RGNDATA*>(buffer.data())));
}

// The union of one-pixel-high rectangles, one per run (last column inclusive), scaled from
// the bitmap's pixels to the window's at `dpi`.
Region RegionOfRuns(const std::vector<draw::PixelRun>& runs, int dpi)
{
    Region total(::CreateRectRgn(0, 0, 0, 0));
    if (!total)
        return total;
    std::vector<RECT> rects;
    rects.reserve(runs.size());
    for (const draw::PixelRun& run : runs)
        rects.push_back(ScaleToDpi(RECT{run.first, run.y, run.last + 1, run.y + 1}, dpi));
    for (std::size_t start = 0; start < rects.size(); start += kRectanglesPerRegion) {
        const std::size_t count = std::min(kRectanglesPerRegion, rects.size() - start);
        Region part = RegionOfRectangles(rects.data() + start, count);
        if (!part || ::CombineRgn(total.Get(), total.Get(), part.Get(), RGN_OR) == ERROR)
            return Region();
    }
    return total;
}

// A copy of the bitmap at `width` x `height`, smoothed; empty when it cannot be made.
Bitmap StretchedCopy(HWND window, HBITMAP source, int sourceWidth, int sourceHeight, int width,
                     int height)
{
    WindowDC dc(window);
    MemoryDC from(dc.Get());
    MemoryDC to(dc.Get());
    Bitmap copy(::CreateCompatibleBitmap(dc.Get(), width, height));
    if (from.Get() == nullptr || to.Get() == nullptr || !copy)
        return Bitmap();
    Selection sourceSelection(from.Get(), source);
    Selection copySelection(to.Get(), copy.Get());
    ::SetStretchBltMode(to.Get(), HALFTONE);
    ::SetBrushOrgEx(to.Get(), 0, 0, nullptr);
    ::StretchBlt(to.Get(), 0, 0, width, height, from.Get(), 0, 0, sourceWidth, sourceHeight, SRCCOPY);
    return copy;
}

bool IsInputMessage(UINT message)
{
    switch (message) {
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return true;
    default:
        return false;
    }
}

} // namespace

CSplashScreenEx::CSplashScreenEx()
{
    LOGFONTA guiFont = {};
    if (::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof guiFont, &guiFont) == sizeof guiFont)
        m_font.Reset(::CreateFontIndirectA(&guiFont));
}

bool CSplashScreenEx::Create(HWND parent, const char* text, int timeoutMs, int style)
{
    m_parent = parent;
    m_text = text != nullptr ? text : "";
    m_timeout = timeoutMs;
    m_style = style;
    m_dpi = parent != nullptr ? WindowDpi(parent) : kDefaultDpi;
    m_highContrast = HighContrastOn();
    if (!RegisterWindowClass()) {
        delete this;
        return false;
    }
    return CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 0,
                    0, parent);
}

bool CSplashScreenEx::RegisterWindowClass()
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS;
    if (m_style & kDropShadow)
        windowClass.style |= CS_DROPSHADOW;
    windowClass.lpfnWndProc = Procedure();
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExA(&windowClass) != 0)
        return true;
    if (!(m_style & kDropShadow))
        return false;
    // Systems without drop shadows refuse the class style; whether this second attempt
    // succeeds or the class exists already, the window can still be made.
    windowClass.style &= ~static_cast<UINT>(CS_DROPSHADOW);
    ::RegisterClassExA(&windowClass);
    return true;
}

bool CSplashScreenEx::SetBitmap(int bitmapId, int red, int green, int blue)
{
    m_bitmap.Reset(::LoadBitmapA(ResourceInstance(), MAKEINTRESOURCEA(bitmapId)));
    if (!m_bitmap)
        return false;
    BITMAP data = {};
    ::GetObjectA(m_bitmap.Get(), sizeof data, &data);
    // The bitmap is drawn for 96 DPI: on another screen it is shown at that screen's scale.
    m_width = ScaleToDpi(data.bmWidth, m_dpi);
    m_height = ScaleToDpi(data.bmHeight, m_dpi);
    m_textRect = RECT{0, 0, m_width, m_height};

    if (m_style & kCenterScreen) {
        m_x = (::GetSystemMetrics(SM_CXFULLSCREEN) - m_width) / 2;
        m_y = (::GetSystemMetrics(SM_CYFULLSCREEN) - m_height) / 2;
    } else if ((m_style & kCenterParent) && m_parent != nullptr) {
        RECT parent = {};
        ::GetWindowRect(m_parent, &parent);
        m_x = parent.left + (parent.right - parent.left - m_width) / 2;
        m_y = parent.top + (parent.bottom - parent.top - m_height) / 2;
    }

    // High contrast shows a plain rectangle in the system's colours: nothing to cut.
    if (!m_highContrast && red != -1 && green != -1 && blue != -1)
        ApplyKeyColourRegion(data.bmWidth, data.bmHeight, red, green, blue);
    if (m_dpi != kDefaultDpi && m_width > 0 && m_height > 0) {
        Bitmap scaled = StretchedCopy(m_hWnd, m_bitmap.Get(), data.bmWidth, data.bmHeight, m_width, m_height);
        if (scaled)
            m_bitmap = std::move(scaled);
    }
    return true;
}

void CSplashScreenEx::ApplyKeyColourRegion(int width, int height, int red, int green, int blue)
{
    if (m_hWnd == nullptr || width <= 0 || height <= 0)
        return;
    std::vector<std::uint8_t> pixels;
    {
        WindowDC dc(m_hWnd);
        pixels = ReadBitmapPixels(dc.Get(), m_bitmap.Get(), width, height);
    }
    if (pixels.empty())
        return;
    Region region = RegionOfRuns(draw::OpaqueRuns(pixels.data(), width, height, red, green, blue), m_dpi);
    // Once given to the window, the region is the system's.
    if (region && ::SetWindowRgn(m_hWnd, region.Get(), TRUE) != 0)
        region.Release();
}

void CSplashScreenEx::Show()
{
    if (m_hWnd == nullptr)
        return;
    ::SetWindowPos(m_hWnd, nullptr, m_x, m_y, m_width, m_height,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    if (m_style & kFadeIn)
        ::AnimateWindow(m_hWnd, kFadeMs, AW_BLEND);
    else
        ::ShowWindow(m_hWnd, SW_SHOW);
    if (m_timeout != 0)
        ::SetTimer(m_hWnd, kDisplayTimer, static_cast<UINT>(m_timeout), nullptr);
}

void CSplashScreenEx::Hide()
{
    if (m_hWnd == nullptr)
        return;
    if (m_style & kFadeOut)
        ::AnimateWindow(m_hWnd, kFadeMs, AW_BLEND | AW_HIDE);
    else
        ::ShowWindow(m_hWnd, SW_HIDE);
    // The object may be gone once this returns.
    ::DestroyWindow(m_hWnd);
}

bool CSplashScreenEx::PreTranslateMessage(MSG& msg)
{
    if (!(m_style & kHideOnInput) || !IsInputMessage(msg.message))
        return false;
    Hide();
    return true;
}

bool CSplashScreenEx::OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result)
{
    using Entry = MessageEntry<CSplashScreenEx>;
    static constexpr Entry kEntries[] = {
        Entry::Message(WM_PAINT, &CSplashScreenEx::OnPaint),
        Entry::Message(WM_PRINTCLIENT, &CSplashScreenEx::OnPrintClient),
        Entry::Message(WM_ERASEBKGND, &CSplashScreenEx::OnEraseBackground),
        Entry::Timer(kDisplayTimer, &CSplashScreenEx::OnDisplayTimer),
    };
    return DispatchMessageMap(this, kEntries, message, w, l, result);
}

LRESULT CSplashScreenEx::OnPaint(WPARAM, LPARAM)
{
    PaintDC dc(m_hWnd);
    PaintTo(dc.Get());
    return 0;
}

LRESULT CSplashScreenEx::OnPrintClient(WPARAM w, LPARAM)
{
    // The fade draws the window through this message.
    PaintTo(reinterpret_cast<HDC>(w));
    return 1;
}

LRESULT CSplashScreenEx::OnEraseBackground(WPARAM, LPARAM) { return TRUE; }

LRESULT CSplashScreenEx::OnDisplayTimer(WPARAM, LPARAM)
{
    ::KillTimer(m_hWnd, kDisplayTimer);
    Hide();
    return 0;
}

void CSplashScreenEx::PaintTo(HDC dc)
{
    if (dc == nullptr || !m_bitmap)
        return;
    if (m_highContrast) {
        PaintInSystemColours(dc);
        return;
    }
    {
        MemoryDC memory(dc);
        Selection bitmap(memory.Get(), m_bitmap.Get());
        ::BitBlt(dc, 0, 0, m_width, m_height, memory.Get(), 0, 0, SRCCOPY);
    }
    if (m_text.empty())
        return;
    Selection font(dc, m_font.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_textColor);
    RECT area = m_textRect;
    ::DrawTextA(dc, m_text.c_str(), -1, &area, m_textFormat);
}

void CSplashScreenEx::PaintInSystemColours(HDC dc)
{
    // No picture in high contrast: the window's colour, a frame and the owner's title in
    // the text's colour.
    RECT area = {0, 0, m_width, m_height};
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
    ::FrameRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOWTEXT));
    CString text = m_text;
    if (text.empty() && m_parent != nullptr)
        text = CWindow(m_parent).GetWindowTextA();
    Selection font(dc, m_font.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::DrawTextA(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void CSplashScreenEx::PostNcDestroy() { delete this; }
