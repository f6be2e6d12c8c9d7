// The MinGW build of libpng links and round-trips a picture through memory.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <vector>

namespace {

struct Buffer {
    std::vector<unsigned char> bytes;
    std::size_t readAt = 0;
};

void WriteToBuffer(png_structp png, png_bytep data, png_size_t length)
{
    auto* buffer = static_cast<Buffer*>(png_get_io_ptr(png));
    buffer->bytes.insert(buffer->bytes.end(), data, data + length);
}

void ReadFromBuffer(png_structp png, png_bytep data, png_size_t length)
{
    auto* buffer = static_cast<Buffer*>(png_get_io_ptr(png));
    if (buffer->readAt + length > buffer->bytes.size())
        png_error(png, "short");
    std::memcpy(data, buffer->bytes.data() + buffer->readAt, length);
    buffer->readAt += length;
}

} // namespace

TEST(Png, RoundTripsAnRgbImage)
{
    const unsigned char pixels[2][6] = {{255, 0, 0, 0, 255, 0}, {0, 0, 255, 250, 251, 252}};
    Buffer buffer;
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(writer, nullptr);
    png_infop writeInfo = png_create_info_struct(writer);
    png_set_write_fn(writer, &buffer, WriteToBuffer, nullptr);
    png_set_IHDR(writer, writeInfo, 2, 2, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_bytep rows[2] = {const_cast<png_bytep>(pixels[0]), const_cast<png_bytep>(pixels[1])};
    png_set_rows(writer, writeInfo, rows);
    png_write_png(writer, writeInfo, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&writer, &writeInfo);
    ASSERT_GT(buffer.bytes.size(), 8u);
    EXPECT_EQ(png_sig_cmp(buffer.bytes.data(), 0, 8), 0);

    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop readInfo = png_create_info_struct(reader);
    png_set_read_fn(reader, &buffer, ReadFromBuffer);
    png_read_png(reader, readInfo, PNG_TRANSFORM_EXPAND, nullptr);
    EXPECT_EQ(png_get_image_width(reader, readInfo), 2u);
    EXPECT_EQ(png_get_image_height(reader, readInfo), 2u);
    png_bytepp read = png_get_rows(reader, readInfo);
    EXPECT_EQ(0, std::memcmp(read[0], pixels[0], 6));
    EXPECT_EQ(0, std::memcmp(read[1], pixels[1], 6));
    png_destroy_read_struct(&reader, &readInfo, nullptr);
}
