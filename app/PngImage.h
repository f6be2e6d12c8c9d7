// PngImage: a PNG picture, from a file or from a "PNG" resource of the program, decoded
// with libpng into 32-bit pixels (bytes blue, green, red, alpha or 0), rows top-down.
// Resources are decoded straight from the program's memory: nothing is written to disk.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class PngImage {
public:
    PngImage() = default;
    virtual ~PngImage() = default;

    // False for a missing or unreadable file, one that does not start with the PNG
    // signature (no decoder is set up for it) or does not decode.
    bool LoadFromFile(const char* path);
    // A resource of type "PNG" of the program; false when it is missing or does not decode.
    bool LoadFromResource(int id);
    // PNG bytes held by the caller.
    bool LoadFromMemory(const std::uint8_t* data, std::size_t size);

    bool IsLoaded() const { return m_loaded; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    // Width x height x 4 bytes, owned by the image; null when nothing is loaded.
    const std::uint8_t* GetPixels() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }

    // Pictures larger than this on a side are refused: the operator's package supplies one.
    static constexpr int kMaxSide = 8192;

private:
    void Clear();

    bool m_loaded = false;
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint8_t> m_pixels;
};
