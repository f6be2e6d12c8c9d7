// PNG decoding: every colour type the pictures can have, written here with libpng itself,
// files with and without the signature, and the program's own resources decoded from
// memory without a file in the current directory.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PackageDir.h"
#include "app/PngImage.h"
#include "res/resource.h"

using Bytes8 = std::vector<std::uint8_t>;

namespace {

struct PngLayout {
    int width = 0;
    int height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    std::vector<Bytes8> rows;
    std::vector<png_color> palette;
    Bytes8 transparency;          // palette entries' alpha
    int transparentGray = -1;     // a gray value made transparent
    bool interlaced = false;
};

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<Bytes8*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

Bytes8 Encode(const PngLayout& layout)
{
    Bytes8 out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width), static_cast<png_uint_32>(layout.height),
                 layout.bitDepth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    if (!layout.transparency.empty())
        png_set_tRNS(png, info, layout.transparency.data(), static_cast<int>(layout.transparency.size()), nullptr);
    if (layout.transparentGray >= 0) {
        png_color_16 gray = {};
        gray.gray = static_cast<png_uint_16>(layout.transparentGray);
        png_set_tRNS(png, info, nullptr, 0, &gray);
    }
    std::vector<png_bytep> rows;
    for (const Bytes8& row : layout.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes8 Decoded(const Bytes8& png)
{
    PngImage image;
    if (!image.LoadFromMemory(png.data(), png.size()))
        return {};
    const std::uint8_t* pixels = image.GetPixels();
    return Bytes8(pixels, pixels + image.GetWidth() * image.GetHeight() * 4);
}

PngLayout Layout(int width, int height, int colourType, std::vector<Bytes8> rows, int bitDepth = 8)
{
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.colourType = colourType;
    layout.bitDepth = bitDepth;
    layout.rows = std::move(rows);
    return layout;
}

void WriteFile(const std::string& path, const Bytes8& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes8 ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes8(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(PngDecode, EachColourTypeBecomesBlueGreenRedAndAlphaOrZero)
{
    // Gray: v, v, v, 0.
    EXPECT_EQ(Decoded(Encode(Layout(2, 1, PNG_COLOR_TYPE_GRAY, {{0, 200}}))),
              (Bytes8{0, 0, 0, 0, 200, 200, 200, 0}));
    // RGB: B, G, R, 0.
    EXPECT_EQ(Decoded(Encode(Layout(2, 1, PNG_COLOR_TYPE_RGB, {{10, 20, 30, 250, 251, 252}}))),
              (Bytes8{30, 20, 10, 0, 252, 251, 250, 0}));
    // Gray with alpha: v, v, v, alpha.
    EXPECT_EQ(Decoded(Encode(Layout(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, {{100, 50, 7, 255}}))),
              (Bytes8{100, 100, 100, 50, 7, 7, 7, 255}));
    // RGBA over two rows, top row first.
    EXPECT_EQ(Decoded(Encode(Layout(1, 2, PNG_COLOR_TYPE_RGB_ALPHA, {{1, 2, 3, 4}, {5, 6, 7, 8}}))),
              (Bytes8{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(PngDecode, APaletteWithTransparencyCarriesAlpha)
{
    PngLayout layout = Layout(3, 1, PNG_COLOR_TYPE_PALETTE, {{0, 1, 2}});
    layout.palette = {{255, 255, 255}, {0, 160, 60}, {200, 10, 20}};
    layout.transparency = {0, 255, 128};
    EXPECT_EQ(Decoded(Encode(layout)), (Bytes8{255, 255, 255, 0, 60, 160, 0, 255, 20, 10, 200, 128}));
    // Without the transparency chunk the palette gives plain RGB.
    layout.transparency.clear();
    EXPECT_EQ(Decoded(Encode(layout)), (Bytes8{255, 255, 255, 0, 60, 160, 0, 0, 20, 10, 200, 0}));
}

TEST(PngDecode, SmallGraysAndWideSamplesBecomeEightBits)
{
    // 1-bit gray: 1 is white.
    EXPECT_EQ(Decoded(Encode(Layout(3, 1, PNG_COLOR_TYPE_GRAY, {{0xA0}}, 1))),
              (Bytes8{255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0}));
    // A transparent gray value becomes alpha 0, the others opaque.
    PngLayout gray = Layout(2, 1, PNG_COLOR_TYPE_GRAY, {{9, 200}});
    gray.transparentGray = 9;
    EXPECT_EQ(Decoded(Encode(gray)), (Bytes8{9, 9, 9, 0, 200, 200, 200, 255}));
    // 16-bit RGB keeps the high bytes.
    EXPECT_EQ(Decoded(Encode(Layout(1, 1, PNG_COLOR_TYPE_RGB, {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}}, 16))),
              (Bytes8{0x9A, 0x56, 0x12, 0}));
}

TEST(PngDecode, InterlacedImagesDecodeLikeOthers)
{
    std::vector<Bytes8> rows;
    for (int y = 0; y < 9; ++y) {
        Bytes8 row;
        for (int x = 0; x < 9; ++x)
            row.insert(row.end(), {std::uint8_t(x * 20), std::uint8_t(y * 20), std::uint8_t(x + y)});
        rows.push_back(row);
    }
    PngLayout plain = Layout(9, 9, PNG_COLOR_TYPE_RGB, rows);
    PngLayout interlaced = plain;
    interlaced.interlaced = true;
    const Bytes8 expected = Decoded(Encode(plain));
    ASSERT_EQ(expected.size(), 9u * 9u * 4u);
    EXPECT_EQ(Decoded(Encode(interlaced)), expected);
}

TEST(PngDecode, BrokenDataFailsAndLeavesNoPicture)
{
    const Bytes8 good = Encode(Layout(2, 2, PNG_COLOR_TYPE_RGB, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}));
    PngImage image;
    ASSERT_TRUE(image.LoadFromMemory(good.data(), good.size()));
    EXPECT_TRUE(image.IsLoaded());

    const Bytes8 cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    EXPECT_FALSE(image.LoadFromMemory(cut.data(), cut.size()));
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.GetPixels(), nullptr);
    EXPECT_EQ(image.GetWidth(), 0);

    Bytes8 damaged = good;
    damaged[good.size() - 20] ^= 0xFF;  // inside the image data: its CRC no longer holds
    EXPECT_FALSE(image.LoadFromMemory(damaged.data(), damaged.size()));
    const Bytes8 notPng(100, 0x42);
    EXPECT_FALSE(image.LoadFromMemory(notPng.data(), notPng.size()));
    EXPECT_FALSE(image.LoadFromMemory(nullptr, 0));
}

TEST(PngFile, OnlyFilesWithTheSignatureAreDecoded)
{
    PackageDir dir;
    const Bytes8 good = Encode(Layout(3, 2, PNG_COLOR_TYPE_RGB, {Bytes8(9, 40), Bytes8(9, 80)}));
    WriteFile("Lecteur.png", good);
    WriteFile("short.png", Bytes8(good.begin(), good.begin() + 7));
    Bytes8 other = good;
    other[1] = 'Q';
    WriteFile("other.png", other);

    PngImage image;
    ASSERT_TRUE(image.LoadFromFile(".\\Lecteur.png"));
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetPixels()[4 * 3], 80);  // second row

    EXPECT_FALSE(image.LoadFromFile("short.png"));
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_FALSE(image.LoadFromFile("other.png"));
    EXPECT_FALSE(image.LoadFromFile("missing.png"));
    for (const char* name : {"Lecteur.png", "short.png", "other.png"})
        std::remove(name);
}

TEST(PngResource, TheGreenDotDecodesFromMemoryWithWhiteTransparentCorners)
{
    PackageDir dir;
    // Whatever the operator keeps under this name stays as it is.
    const Bytes8 operatorsFile = {'m', 'i', 'n', 'e'};
    WriteFile("temp.png", operatorsFile);

    PngImage image;
    ASSERT_TRUE(image.LoadFromResource(IDR_PNG_DETECTED));
    ASSERT_EQ(image.GetWidth(), 15);
    ASSERT_EQ(image.GetHeight(), 15);
    const std::uint8_t* p = image.GetPixels();
    for (int corner : {0, 14, 14 * 15, 15 * 15 - 1}) {
        const std::uint8_t* c = p + corner * 4;
        EXPECT_EQ((Bytes8{c[0], c[1], c[2], c[3]}), (Bytes8{255, 255, 255, 0})) << corner;
    }
    const std::uint8_t* centre = p + (7 * 15 + 10) * 4;
    EXPECT_GT(centre[1], centre[2] + 60);  // green over red
    EXPECT_EQ(centre[3], 255);

    EXPECT_EQ(ReadFile("temp.png"), operatorsFile);
    std::remove("temp.png");

    ASSERT_TRUE(image.LoadFromResource(IDR_PNG_LOGO));
    EXPECT_EQ(image.GetWidth(), 400);
    EXPECT_EQ(image.GetHeight(), 154);
    // Decoding wrote nothing into the current directory.
    EXPECT_FALSE(std::ifstream("temp.png").good());
    EXPECT_FALSE(image.LoadFromResource(9999));
    EXPECT_FALSE(image.IsLoaded());
}
