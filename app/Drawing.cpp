#include "Drawing.h"

#include <cmath>

namespace draw {

namespace {

int ClampPen(int pen)
{
    if (pen < 0)
        return 0;
    return pen < kGradientPens - 1 ? pen : kGradientPens - 1;
}

} // namespace

namespace {

// How far down its gap each separator lies, as a fraction: 29 of the 39 rows from 141 to 180
// and 27 of the 29 from 303 to 332 at 96 DPI.
constexpr int kFirstSeparatorParts = 29;
constexpr int kFirstGapParts = 39;
constexpr int kSecondSeparatorParts = 27;
constexpr int kSecondGapParts = 29;

// The row `parts` / `whole` of the way from `above` (the first row below the upper
// controls) to `below` (the first row of the lower ones); `above` when there is no gap.
int RowInGap(int above, int below, int parts, int whole)
{
    return below > above ? above + ::MulDiv(below - above, parts, whole) : above;
}

} // namespace

SeparatorRows MainSeparatorRows(const BandControls& c)
{
    SeparatorRows rows;
    rows.first = RowInGap(c.detectionText.bottom, c.updateLabel.top, kFirstSeparatorParts,
                          kFirstGapParts);
    const int middleEnd = c.readMe.bottom > c.readerPicture.bottom ? c.readMe.bottom
                                                                     : c.readerPicture.bottom;
    rows.second = RowInGap(middleEnd, c.legalNotice.top, kSecondSeparatorParts, kSecondGapParts);
    return rows;
}

namespace {

// The detection text's rectangle at 96 DPI and the list's two places beside it.
constexpr RECT kDetectionTextAt96 = {77, 102, 77 + 362, 102 + 39};
constexpr RECT kListWhenDetected = {350, 110, 350 + 209, 110 + 21};
constexpr RECT kListWhenNotDetected = {418, 128, 418 + 209, 128 + 21};

// `offset96` (from the text's edge at 96 DPI) in the proportion of the text's `length` to
// its 96-DPI length `length96`.
int InProportion(int length, int offset96, int length96)
{
    return length96 > 0 ? ::MulDiv(length, offset96, length96) : offset96;
}

} // namespace

RECT MainPortListPlace(const RECT& text, bool readerDetected, int dpi)
{
    const RECT& at96 = readerDetected ? kListWhenDetected : kListWhenNotDetected;
    const int across96 = at96.left - kDetectionTextAt96.left;
    const int down96 = at96.top - kDetectionTextAt96.top;
    const int across = InProportion(text.right - text.left, across96,
                                    kDetectionTextAt96.right - kDetectionTextAt96.left);
    const int room = ScaleToDpi(across96, dpi);
    const int left = text.left + (across > room ? across : room);
    const int top = text.top + InProportion(text.bottom - text.top, down96,
                                            kDetectionTextAt96.bottom - kDetectionTextAt96.top);
    return RECT{left, top, left + ScaleToDpi(at96.right - at96.left, dpi),
                top + ScaleToDpi(at96.bottom - at96.top, dpi)};
}

int BackgroundPen(int y, int bottom, const SeparatorRows& separators)
{
    const int first = separators.first;
    const int second = separators.second;
    if (y == first || y == second)
        return kSeparatorPen;
    if (y < first)
        return ClampPen(kGradientPens * y / first);
    if (y < second)
        return ClampPen(kGradientPens * (y - first) / (second - first));
    // The third band exists only below the second separator; a row beyond the bottom takes
    // the last pen.
    const int bandHeight = bottom - second;
    if (bandHeight <= 0)
        return kGradientPens - 1;
    return ClampPen(kGradientPens * (y - second) / bandHeight);
}

int FontHeightAt(int height96, int dpi, int defaultCell)
{
    if (dpi == kDefaultDpi)
        return height96;
    if (height96 == 0)
        return defaultCell > 0 ? ScaleToDpi(defaultCell, dpi) : 0;
    return ScaleToDpi(height96, dpi);
}

std::vector<PixelRun> OpaqueRuns(const std::uint8_t* bgrx, int width, int height, int keyRed,
                                 int keyGreen, int keyBlue)
{
    std::vector<PixelRun> runs;
    if (bgrx == nullptr || width <= 0 || height <= 0)
        return runs;
    const auto isKey = [&](const std::uint8_t* p) {
        return p[2] == keyRed && p[1] == keyGreen && p[0] == keyBlue;
    };
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bgrx + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        int x = 0;
        while (x < width) {
            while (x < width && isKey(row + x * 4))
                ++x;
            if (x == width)
                break;
            const int first = x;
            while (x < width && !isKey(row + x * 4))
                ++x;
            runs.push_back({y, first, x - 1});
        }
    }
    return runs;
}

Size FitSize(Size image, Size client, Size box)
{
    if (image.width <= 0 || image.height <= 0)
        return {0, 0};
    if (box.width == 0 && box.height == 0) {
        box = client;
    } else {
        if (box.width > client.width)
            box.width = client.width;
        if (box.height > client.height)
            box.height = client.height;
    }
    if (box.width <= 0 || box.height <= 0)
        return {0, 0};
    const double scaleX = static_cast<double>(box.width) / image.width;
    const double scaleY = static_cast<double>(box.height) / image.height;
    const double scale = scaleX < scaleY ? scaleX : scaleY;
    return {static_cast<int>(std::floor(image.width * scale + 0.5)),
            static_cast<int>(std::floor(image.height * scale + 0.5))};
}

void ApplyWhiteMask(std::uint8_t* bgrx, std::size_t pixelCount)
{
    if (bgrx == nullptr)
        return;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        std::uint8_t* p = bgrx + i * 4;
        const int average = (p[0] + p[1] + p[2]) / 3;
        const std::uint8_t value = average > kMaskThreshold ? 255 : 0;
        p[0] = p[1] = p[2] = value;
    }
}

} // namespace draw

namespace {

// The 32-bit top-down layout of every pixel buffer here: whatever the display's depth, the
// system converts to and from the device bitmap's own format.
BITMAPINFO TopDown32(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

bool BitmapSize(HBITMAP bitmap, int& width, int& height)
{
    BITMAP data = {};
    if (bitmap == nullptr || ::GetObjectA(bitmap, sizeof data, &data) != sizeof data)
        return false;
    width = data.bmWidth;
    height = data.bmHeight;
    return width > 0 && height > 0;
}

Bitmap MakeBitmap(HDC reference, int width, int height, const std::uint8_t* pixels)
{
    Bitmap bitmap(::CreateCompatibleBitmap(reference, width, height));
    if (!bitmap)
        return bitmap;
    BITMAPINFO info = TopDown32(width, height);
    if (::SetDIBits(reference, bitmap.Get(), 0, static_cast<UINT>(height), pixels, &info,
                    DIB_RGB_COLORS) != height)
        bitmap.Reset();
    return bitmap;
}

} // namespace

std::vector<std::uint8_t> ReadBitmapPixels(HDC reference, HBITMAP bitmap, int width, int height)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    BITMAPINFO info = TopDown32(width, height);
    if (::GetDIBits(reference, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info,
                    DIB_RGB_COLORS) != height)
        pixels.clear();
    return pixels;
}

Bitmap CreateBitmapFromPixels(int width, int height, const std::uint8_t* pixels, HWND window)
{
    if (width <= 0 || height <= 0 || pixels == nullptr)
        return Bitmap();
    WindowDC dc(window);
    if (dc.Get() == nullptr)
        return Bitmap();
    return MakeBitmap(dc.Get(), width, height, pixels);
}

Bitmap ScaleBitmapToFit(HBITMAP bitmap, HWND window, int boxWidth, int boxHeight)
{
    int width = 0;
    int height = 0;
    if (!BitmapSize(bitmap, width, height))
        return Bitmap();
    RECT client = {};
    ::GetClientRect(window, &client);
    const draw::Size size = draw::FitSize({width, height}, {client.right, client.bottom},
                                          {boxWidth, boxHeight});
    if (size.width <= 0 || size.height <= 0)
        return Bitmap();

    WindowDC dc(window);
    MemoryDC source(dc.Get());
    MemoryDC target(dc.Get());
    Bitmap scaled(::CreateCompatibleBitmap(dc.Get(), size.width, size.height));
    if (source.Get() == nullptr || target.Get() == nullptr || !scaled)
        return Bitmap();
    {
        Selection sourceSelection(source.Get(), bitmap);
        Selection targetSelection(target.Get(), scaled.Get());
        ::SetStretchBltMode(target.Get(), HALFTONE);
        ::SetBrushOrgEx(target.Get(), 0, 0, nullptr);
        ::StretchBlt(target.Get(), 0, 0, size.width, size.height, source.Get(), 0, 0, width, height,
                     SRCCOPY);
    }
    return scaled;
}

void DrawTransparentBitmapOn(HDC targetDc, HBITMAP bitmap, int x, int y)
{
    int width = 0;
    int height = 0;
    if (targetDc == nullptr || !BitmapSize(bitmap, width, height))
        return;
    // The mask: white where the picture is near-white, black elsewhere.
    std::vector<std::uint8_t> pixels = ReadBitmapPixels(targetDc, bitmap, width, height);
    if (pixels.empty())
        return;
    draw::ApplyWhiteMask(pixels.data(), static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    Bitmap mask = MakeBitmap(targetDc, width, height, pixels.data());
    MemoryDC picture(targetDc);
    MemoryDC maskDc(targetDc);
    if (!mask || picture.Get() == nullptr || maskDc.Get() == nullptr)
        return;
    Selection pictureSelection(picture.Get(), bitmap);
    Selection maskSelection(maskDc.Get(), mask.Get());
    // Background ^ picture, then & mask, then ^ picture: the background where the mask is
    // white, the picture where it is black.
    ::BitBlt(targetDc, x, y, width, height, picture.Get(), 0, 0, SRCINVERT);
    ::BitBlt(targetDc, x, y, width, height, maskDc.Get(), 0, 0, SRCAND);
    ::BitBlt(targetDc, x, y, width, height, picture.Get(), 0, 0, SRCINVERT);
}

void DrawTransparentBitmap(HBITMAP bitmap, HWND window, int x, int y)
{
    WindowDC dc(window);
    DrawTransparentBitmapOn(dc.Get(), bitmap, x, y);
}
