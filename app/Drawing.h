// The pictures of the main window and the splash: arithmetic and pixel rules as pure
// functions, and the three GDI operations built on them.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Background.h"
#include "winfw/Dpi.h"
#include "winfw/Gdi.h"

namespace draw {

// The main window's background: the painter's 45 grays from 250 down, three bands with a
// separator row between them.
constexpr int kGradientPens = BackgroundPainter::kPenCount;
constexpr int kSeparatorPen = BackgroundPainter::kSeparatorPen;

// The controls (client coordinates) whose gaps hold the main window's separators.
struct BandControls {
    RECT detectionText;
    RECT updateLabel;
    RECT readMe;
    RECT readerPicture;
    RECT legalNotice;
};

// The separators' rows, taken from the controls rather than scaled from 96 DPI: a dialog
// grows by its font's metrics, not exactly by the DPI. Each lies in the gap between the
// texts of the band above and those of the band below, as far down that gap as at 96 DPI:
// the first between the detection text and the update label, the second between the
// read-me or the reader's picture, whichever ends lower, and the legal notice. At 96 DPI
// (gaps 141 to 180 and 303 to 332) that gives rows 170 and 330, as always.
SeparatorRows MainSeparatorRows(const BandControls& controls);

// Where the port list stands at the end of the detection text's area (client coordinates):
// beside its only line when the reader is detected, beside its second when not. At 96 DPI
// (text at 77, 102, 362 by 39) that is 350, 110 or 418, 128, 209 by 21, as always. The
// list keeps its 96-DPI place within the text's rectangle, however the dialog grew; it
// stands no nearer the text's left edge than the 96-DPI gap scaled to `dpi`, since the
// text's font is scaled exactly by the DPI and its lines need that room.
RECT MainPortListPlace(const RECT& detectionText, bool readerDetected, int dpi);

// The pen of row y (0 to 44, or kSeparatorPen) in a client area whose bottom coordinate is
// `bottom`; rows 0 to `bottom` inclusive are drawn, the separators on their rows.
int BackgroundPen(int y, int bottom, const SeparatorRows& separators);

// The height to ask a font for at `dpi`, given its height at 96 DPI: scaled as MulDiv
// scales, sign kept (cell or character height). Height 0 asks the font mapper for its
// default, whose cell is `defaultCell` pixels at every DPI: at 96 DPI it stays 0, elsewhere
// that cell is scaled. 96 DPI gives every height as it is.
int FontHeightAt(int height96, int dpi, int defaultCell);

// One horizontal run of pixels that are not the key colour: row y, columns first to last
// inclusive.
struct PixelRun {
    int y;
    int first;
    int last;
};

// The runs of a picture given as top-down rows of 32-bit pixels, bytes blue, green, red and
// a fourth byte that plays no part; every maximal run of pixels whose colour differs from
// the key colour.
std::vector<PixelRun> OpaqueRuns(const std::uint8_t* bgrx, int width, int height, int keyRed,
                                 int keyGreen, int keyBlue);

struct Size {
    int width;
    int height;
};

// The size of an image scaled to fit a box, keeping its proportions (small images are
// enlarged). A box of 0 x 0 is the whole client area; a larger box is cut to it. An empty
// image or box gives 0 x 0.
Size FitSize(Size image, Size client, Size box);

// Pixels whose blue, green and red average (rounded down) above this are near-white and
// let the background through.
constexpr int kMaskThreshold = 240;

// Turns a 32-bit picture (bytes blue, green, red, fourth) into its mask in place: white
// where near-white, black elsewhere; the fourth byte is left as it is.
void ApplyWhiteMask(std::uint8_t* bgrx, std::size_t pixelCount);

} // namespace draw

// A device bitmap of `width` x `height` holding 32-bit top-down pixels (blue, green, red,
// fourth), compatible with the window's context; empty when it cannot be made.
Bitmap CreateBitmapFromPixels(int width, int height, const std::uint8_t* pixels, HWND window);

// A copy of `bitmap` scaled into a box of the window (see draw::FitSize); the source is
// left as it is. Empty when there is nothing to draw.
Bitmap ScaleBitmapToFit(HBITMAP bitmap, HWND window, int boxWidth, int boxHeight);

// Draws the bitmap at (x, y) of the window's client area with its near-white pixels
// transparent.
void DrawTransparentBitmap(HBITMAP bitmap, HWND window, int x, int y);
// The same into a context the caller holds (a paint context).
void DrawTransparentBitmapOn(HDC target, HBITMAP bitmap, int x, int y);

// The bitmap's pixels as 32-bit top-down rows (blue, green, red, fourth); empty on failure.
// The bitmap must not be selected into a context.
std::vector<std::uint8_t> ReadBitmapPixels(HDC reference, HBITMAP bitmap, int width, int height);
