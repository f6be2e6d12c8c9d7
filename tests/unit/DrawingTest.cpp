// The pictures' arithmetic: background pens of both windows, the splash's shape, scaling
// into a picture's area and the near-white mask.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/Drawing.h"
#include "engine/ChargementDlg.h"
#include "res/resource.h"

using draw::kSeparatorPen;

namespace {

// The main window's separators at 96 DPI.
constexpr SeparatorRows kRowsAt96 = {170, 330};

} // namespace

TEST(MainBackground, ThreeBandsWithSeparatorRows)
{
    // Row and its pen in a window 400 rows high: 250 is 45 * 80 / 160, 331 is 45 * 1 / 70
    // and 365 is 45 * 35 / 70.
    const int table[][2] = {{0, 0},   {169, 44}, {170, kSeparatorPen}, {171, 0}, {250, 22},
                            {329, 44}, {330, kSeparatorPen}, {331, 0}, {365, 22}, {400, 44}};
    for (const auto& row : table)
        EXPECT_EQ(draw::BackgroundPen(row[0], 400, kRowsAt96), row[1]) << row[0];
}

TEST(MainBackground, NoRowEverUsesAPenBeyondTheLast)
{
    // A bottom of 330 or less has no third band; 331 gives its single row the last pen.
    EXPECT_EQ(draw::BackgroundPen(331, 331, kRowsAt96), 44);
    for (int bottom : {0, 1, 169, 170, 200, 330, 331, 332, 345, 1000}) {
        for (int y = 0; y <= bottom; ++y) {
            const int pen = draw::BackgroundPen(y, bottom, kRowsAt96);
            if (y == 170 || y == 330)
                EXPECT_EQ(pen, kSeparatorPen) << y;
            else
                EXPECT_TRUE(pen >= 0 && pen <= 44) << "row " << y << " of " << bottom << ": " << pen;
        }
    }
}

namespace {

// A control of the main window as its template lays it out, in dialog units (right and
// bottom exclusive); a separator may run behind a picture, the list or the button, which
// cover it, but never through a text (a static control that shows no picture).
struct TemplateControl {
    RECT units;
    bool text;
};

struct MainTemplate {
    SIZE units = {};
    std::map<int, TemplateControl> controls;
};

// Past a name or ordinal of a dialog template.
const WORD* AfterName(const WORD* at)
{
    if (*at == 0xFFFF)
        return at + 2;
    while (*at++ != 0) {
    }
    return at;
}

// The main window's template (DLGTEMPLATEEX, with a font) from the test program's resources.
MainTemplate ReadMainTemplate()
{
    MainTemplate read;
    const HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_ORVANE_DIALOG), RT_DIALOG);
    const auto* at = static_cast<const WORD*>(
        found != nullptr ? ::LockResource(::LoadResource(nullptr, found)) : nullptr);
    if (at == nullptr || at[1] != 0xFFFF)
        return read;
    // Version, signature, help id, extended style, style, item count, x, y, width, height;
    // then menu, class, title, and the font's size, weight, italic, charset and name.
    const int count = at[8];
    read.units = {static_cast<short>(at[11]), static_cast<short>(at[12])};
    at = AfterName(AfterName(AfterName(AfterName(at + 13))) + 3);
    for (int i = 0; i < count; ++i) {
        at = reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(at) + 3) & ~std::uintptr_t{3});
        // Help id, extended style, style, x, y, width, height, id, class, title, data size.
        const auto* box = reinterpret_cast<const short*>(at + 6);
        const bool isStatic = at[12] == 0xFFFF && at[13] == 0x0082;
        read.controls[at[10] | at[11] << 16] = {{box[0], box[1], box[0] + box[2], box[1] + box[3]},
                                                isStatic && (at[4] & SS_TYPEMASK) != SS_BITMAP};
        at = AfterName(AfterName(at + 12));
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);
    }
    return read;
}

// The rows drawn in the separator's grey, top to bottom.
template <class Pen>
std::vector<int> SeparatorRowsDrawn(int bottom, Pen pen)
{
    std::vector<int> rows;
    for (int y = 0; y <= bottom; ++y)
        if (pen(y) == kSeparatorPen)
            rows.push_back(y);
    return rows;
}

} // namespace

TEST(MainBackground, SeparatorsAndPortListStayClearOfTheTextsAtEveryDpi)
{
    // A dialog grows by its font's metrics, not exactly by the DPI: under Wine the base
    // units are 6 by 12, 8 by 15, 9 by 17 and 12 by 23 pixels at 96, 120, 144 and 192 DPI
    // (client 638x363, 850x454, 956x514, 1275x696 where 798x454, 957x545, 1276x726 would be
    // exact). A move to another screen re-lays the 96-DPI rectangles scaled exactly: both
    // kinds of layout are checked.
    const MainTemplate main = ReadMainTemplate();
    const RECT detection = main.controls.at(IDC_DETECTION_TEXT).units;
    const struct {
        int dpi;
        int baseUnitX, baseUnitY; // 0: the 96-DPI layout scaled by dpi / 96
    } table[] = {{96, 6, 12}, {120, 8, 15}, {144, 9, 17}, {192, 12, 23},
                 {120, 0, 0}, {144, 0, 0},   {192, 0, 0}};
    for (const auto& row : table) {
        const auto pixels = [&](int dialogUnits) {
            const int at96 = ::MulDiv(dialogUnits, 12, 8);
            return row.baseUnitY != 0 ? ::MulDiv(dialogUnits, row.baseUnitY, 8)
                                      : ::MulDiv(at96, row.dpi, 96);
        };
        const auto across = [&](int dialogUnits) {
            const int at96 = ::MulDiv(dialogUnits, 6, 4);
            return row.baseUnitX != 0 ? ::MulDiv(dialogUnits, row.baseUnitX, 4)
                                      : ::MulDiv(at96, row.dpi, 96);
        };
        const int bottom = pixels(main.units.cy) - 1;
        const auto rect = [&](int id) {
            const RECT units = main.controls.at(id).units;
            return RECT{0, pixels(units.top), 1, pixels(units.bottom)};
        };
        const SeparatorRows separators = draw::MainSeparatorRows(
            {rect(IDC_DETECTION_TEXT), rect(IDC_UPDATE_LABEL), rect(IDC_READ_ME),
             rect(IDC_READER_PICTURE), rect(IDC_LEGAL_NOTICE)});
        const auto pen = [&](int y) { return draw::BackgroundPen(y, bottom, separators); };
        const std::vector<int> rows = SeparatorRowsDrawn(bottom, pen);
        const std::string at = std::to_string(row.dpi) + " DPI, base unit " + std::to_string(row.baseUnitY);
        ASSERT_EQ(rows.size(), 2u) << at;
        if (row.dpi == 96) {
            EXPECT_EQ(rows, (std::vector<int>{170, 330})); // the rows the window has always had
        }
        for (const auto& [id, control] : main.controls)
            for (int y : rows)
                EXPECT_TRUE(!control.text || y < pixels(control.units.top) ||
                            y >= pixels(control.units.bottom))
                    << "separator " << y << " through control " << id << " at " << at;
        // The bands keep their texts: the detection text above the first separator, the
        // read-me between the two, the legal notice below the second.
        EXPECT_GE(rows[0], pixels(detection.bottom)) << at;
        EXPECT_LT(rows[0], pixels(main.controls.at(IDC_UPDATE_LABEL).units.top)) << at;
        EXPECT_GE(rows[1], pixels(main.controls.at(IDC_READ_ME).units.bottom)) << at;
        EXPECT_LT(rows[1], pixels(main.controls.at(IDC_LEGAL_NOTICE).units.top)) << at;
        // Each band runs from the lightest grey to the darkest just above its separator.
        EXPECT_EQ(pen(rows[0] - 1), 44) << at;
        EXPECT_EQ(pen(rows[0] + 1), 0) << at;
        EXPECT_EQ(pen(rows[1] - 1), 44) << at;
        EXPECT_EQ(pen(bottom), 44) << at;

        // The port list stands at the end of the detection text, whose font is scaled
        // exactly by the DPI: beside the end of its only line when detected, of its second
        // when not. It must leave the text the room its lines had at 96 DPI, scaled (273 and
        // 341 pixels from the text's left edge, and the first line's 16 rows above the
        // second), and stay in the band, inside the window.
        const RECT text = {across(detection.left), pixels(detection.top),
                           across(detection.left) + across(detection.right - detection.left),
                           pixels(detection.top) + pixels(detection.bottom - detection.top)};
        const struct {
            bool detected;
            RECT at96;
            int room96, rowsAbove96;
        } places[] = {{true, {350, 110, 559, 131}, 273, 0}, {false, {418, 128, 627, 149}, 341, 16}};
        for (const auto& place : places) {
            const RECT list = draw::MainPortListPlace(text, place.detected, row.dpi);
            const std::string which = at + (place.detected ? ", detected" : ", not detected");
            if (row.dpi == 96) {
                EXPECT_EQ(list.left, place.at96.left) << which;
                EXPECT_EQ(list.top, place.at96.top) << which;
                EXPECT_EQ(list.right, place.at96.right) << which;
                EXPECT_EQ(list.bottom, place.at96.bottom) << which;
            }
            EXPECT_GE(list.left, text.left + ::MulDiv(place.room96, row.dpi, 96)) << which;
            EXPECT_GE(list.top, text.top + ::MulDiv(place.rowsAbove96, row.dpi, 96)) << which;
            EXPECT_LT(list.top, text.bottom) << which;
            EXPECT_LT(list.bottom, rows[0]) << which;
            EXPECT_LE(list.right, across(main.units.cx)) << which;
        }
    }
}

TEST(FontHeights, ScaledFromNinetySixDpiAndTheDefaultStaysAtNinetySix)
{
    // Height at 96 DPI, DPI, the default font's cell, height asked for.
    const int table[][4] = {
        {-20, 96, 16, -20}, {15, 96, 16, 15}, {12, 96, 16, 12}, {0, 96, 16, 0},
        {-20, 120, 16, -25}, {15, 120, 16, 19}, {0, 120, 16, 20},
        {-20, 144, 16, -30}, {15, 144, 16, 23}, {12, 144, 16, 18}, {0, 144, 16, 24},
        {-20, 192, 16, -40}, {15, 192, 16, 30}, {12, 192, 16, 24}, {0, 192, 16, 32},
        // A default cell that could not be measured leaves the default to the font mapper.
        {0, 144, 0, 0},
    };
    for (const auto& row : table)
        EXPECT_EQ(draw::FontHeightAt(row[0], row[1], row[2]), row[3])
            << row[0] << " at " << row[1];
}

TEST(ProgressBackground, PensFollowTheRowsDownToTheLast)
{
    // Row y is drawn with the pen chosen after row y - 1: (y * 45 + 45) / h, at most 44.
    for (const auto& row : {std::pair<int, int>{0, 0}, {1, 1}, {44, 22}, {88, 44}, {90, 44}})
        EXPECT_EQ(ProgressGradientPen(row.first, 90), row.second) << row.first;
    for (int h : {1, 45, 90, 171}) {
        int previous = 0;
        for (int y = 0; y <= h; ++y) {
            const int pen = ProgressGradientPen(y, h);
            EXPECT_GE(pen, previous);
            EXPECT_LE(pen, 44);
            previous = pen;
        }
        EXPECT_EQ(previous, 44) << h;
    }
    // A window with no client height shades nothing rather than dividing by zero.
    EXPECT_EQ(ProgressGradientPen(0, 0), 0);
}

namespace {

// Top-down 32-bit rows from a picture of characters: 'k' the key colour, '#' another.
std::vector<std::uint8_t> Picture(const std::vector<const char*>& rows, int width)
{
    std::vector<std::uint8_t> bytes;
    for (const char* row : rows)
        for (int x = 0; x < width; ++x) {
            const bool key = row[x] == 'k';
            bytes.insert(bytes.end(), {std::uint8_t(key ? 255 : 10), 0, 255, 0});
        }
    return bytes;
}

std::vector<std::vector<int>> Runs(const std::vector<draw::PixelRun>& runs)
{
    std::vector<std::vector<int>> out;
    for (const draw::PixelRun& r : runs)
        out.push_back({r.y, r.first, r.last});
    return out;
}

} // namespace

TEST(SplashShape, RunsEndAtTheKeyColourOrTheRowsEnd)
{
    using Rows = std::vector<std::vector<int>>;
    const struct {
        std::vector<std::uint8_t> pixels;
        int width, height;
        Rows runs;
    } cases[] = {
        {Picture({"kk###",   // a run touching the right edge ends at the last column
                  "kkkk#",   // one opaque pixel in the last column is a run of its own
                  "##kkk", "#k#kk",
                  "###kk"},  // a key pixel in the last column stays out
                 5),
         5, 5, {{0, 2, 4}, {1, 4, 4}, {2, 0, 1}, {3, 0, 0}, {3, 2, 2}, {4, 0, 2}}},
        {Picture({"kkk", "kkk"}, 3), 3, 2, {}},
        {Picture({"###", "###"}, 3), 3, 2, {{0, 0, 2}, {1, 0, 2}}},
        // Only the exact key colour is cut away: one step off in any channel stays.
        {{255, 0, 254, 0, 255, 1, 255, 0, 255, 0, 255, 0}, 3, 1, {{0, 0, 1}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Runs(draw::OpaqueRuns(c.pixels.data(), c.width, c.height, 255, 0, 255)), c.runs);
    EXPECT_TRUE(draw::OpaqueRuns(nullptr, 3, 1, 255, 0, 255).empty());
}

TEST(PictureScaling, KeepsProportionsWithinTheBoxAndEmptyGivesNothing)
{
    const draw::Size screen = {1280, 1024};
    const struct {
        draw::Size image, client, box, fitted;
    } cases[] = {
        // The logo in its area: s = min(106 / 400, 40 / 154) = 0.2597...
        {{400, 154}, screen, {106, 40}, {104, 40}},
        // A 15 x 15 dot in an 18 x 16 area is enlarged to 16 x 16.
        {{15, 15}, screen, {18, 16}, {16, 16}},
        // No box: the whole client area.
        {{100, 50}, {300, 300}, {0, 0}, {300, 150}},
        // A box larger than the client area is cut to it.
        {{100, 100}, {60, 80}, {200, 200}, {60, 60}},
        // Empty images, boxes and client areas.
        {{0, 10}, screen, {100, 100}, {0, 0}},
        {{10, 0}, screen, {100, 100}, {0, 0}},
        {{-1, 5}, screen, {100, 100}, {0, 0}},
        {{10, 10}, screen, {100, 0}, {0, 0}},
        {{10, 10}, {0, 0}, {0, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        const draw::Size s = draw::FitSize(c.image, c.client, c.box);
        EXPECT_EQ(s.width, c.fitted.width) << c.image.width << "x" << c.image.height;
        EXPECT_EQ(s.height, c.fitted.height) << c.image.width << "x" << c.image.height;
    }
}

TEST(TransparencyMask, OnlyAnAverageAbove240IsWhite)
{
    std::vector<std::uint8_t> pixels = {
        240, 240, 240, 7,   // average 240: drawn
        241, 241, 241, 7,   // 241: background
        241, 241, 240, 7,   // 240.67 rounds down to 240: drawn
        255, 255, 214, 7,   // 241.33: background, whatever the single channel
        0, 255, 255, 7,     // 170: drawn
    };
    draw::ApplyWhiteMask(pixels.data(), 5);
    const std::vector<std::uint8_t> expected = {0, 0, 0, 7, 255, 255, 255, 7, 0, 0, 0, 7,
                                                255, 255, 255, 7, 0, 0, 0, 7};
    EXPECT_EQ(pixels, expected);
}
