// The decoding itself, portable: it needs libpng only (the resource loading is in
// PngResource.cpp).
#include "PngImage.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kSignatureSize = 8;
// A reader picture of the package is a few hundred kilobytes; anything far beyond is not one.
constexpr long kMaxFileSize = 64L * 1024 * 1024;

struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (source == nullptr || length > source->size - source->offset)
        png_error(png, "PNG data ends early");
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

// The read and info structures of one decode, destroyed on every path.
class PngReader {
public:
    PngReader()
        : m_png(png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr)),
          m_info(m_png != nullptr ? png_create_info_struct(m_png) : nullptr)
    {
    }
    ~PngReader()
    {
        if (m_png != nullptr)
            png_destroy_read_struct(&m_png, m_info != nullptr ? &m_info : nullptr, nullptr);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool Ok() const { return m_png != nullptr && m_info != nullptr; }
    png_structp Png() const { return m_png; }
    png_infop Info() const { return m_info; }

private:
    png_structp m_png;
    png_infop m_info;
};

// libpng leaves this frame by longjmp on any error: nothing here has a destructor.
// Palettes become RGB (RGBA with transparency), small grays 8-bit gray, transparency
// chunks alpha; 16-bit samples are cut to 8 bits so every picture fits the conversion.
bool ReadWholeImage(png_structp png, png_infop info, MemorySource* source)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, source, ReadFromMemory);
    png_set_user_limits(png, PngImage::kMaxSide, PngImage::kMaxSide);
    png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16, nullptr);
    return true;
}

// Blue, green, red and fourth byte of one decoded pixel for each colour type.
bool ConvertRows(png_bytepp rows, int width, int height, int colourType, std::uint8_t* out)
{
    int sourceBytes = 0;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: sourceBytes = 1; break;
    case PNG_COLOR_TYPE_RGB: sourceBytes = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: sourceBytes = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: sourceBytes = 4; break;
    default: return false;
    }
    for (int y = 0; y < height; ++y) {
        const png_byte* in = rows[y];
        for (int x = 0; x < width; ++x, in += sourceBytes, out += 4) {
            switch (colourType) {
            case PNG_COLOR_TYPE_GRAY:
                out[0] = out[1] = out[2] = in[0];
                out[3] = 0;
                break;
            case PNG_COLOR_TYPE_RGB:
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 0;
                break;
            case PNG_COLOR_TYPE_GRAY_ALPHA:
                out[0] = out[1] = out[2] = in[0];
                out[3] = in[1];
                break;
            default:
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = in[3];
                break;
            }
        }
    }
    return true;
}

// The whole of a small file; false when it cannot be read or is too large.
bool ReadFileBytes(std::FILE* file, std::vector<std::uint8_t>& bytes)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(file);
    if (size < 0 || size > kMaxFileSize || std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Built for the host's fuzzing too, so the C++ library's owner rather than winfw's.
struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void PngImage::Clear()
{
    m_loaded = false;
    m_width = 0;
    m_height = 0;
    m_pixels.clear();
    m_pixels.shrink_to_fit();
}

bool PngImage::LoadFromFile(const char* path)
{
    Clear();
    if (path == nullptr)
        return false;
    const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path, "rb"));
    if (file.get() == nullptr)
        return false;
    png_byte signature[kSignatureSize] = {};
    if (std::fread(signature, 1, kSignatureSize, file.get()) != kSignatureSize ||
        png_sig_cmp(signature, 0, kSignatureSize) != 0)
        return false;
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(file.get(), bytes))
        return false;
    return LoadFromMemory(bytes.data(), bytes.size());
}

bool PngImage::LoadFromMemory(const std::uint8_t* data, std::size_t size)
{
    Clear();
    if (data == nullptr || size == 0)
        return false;
    PngReader reader;
    if (!reader.Ok())
        return false;
    MemorySource source = {data, size, 0};
    if (!ReadWholeImage(reader.Png(), reader.Info(), &source))
        return false;
    const int width = static_cast<int>(png_get_image_width(reader.Png(), reader.Info()));
    const int height = static_cast<int>(png_get_image_height(reader.Png(), reader.Info()));
    const int colourType = png_get_color_type(reader.Png(), reader.Info());
    png_bytepp rows = png_get_rows(reader.Png(), reader.Info());
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || rows == nullptr ||
        png_get_bit_depth(reader.Png(), reader.Info()) != 8)
        return false;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    if (!ConvertRows(rows, width, height, colourType, pixels.data()))
        return false;
    m_pixels.swap(pixels);
    m_width = width;
    m_height = height;
    m_loaded = true;
    return true;
}
