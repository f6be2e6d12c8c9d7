// A picture of the package decoded as the main window and the splash screen decode theirs.
#include "Check.h"
#include "app/PngImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PngImage image;
    if (!image.LoadFromMemory(data, size))
        return 0;
    Check(image.GetWidth() > 0 && image.GetWidth() <= PngImage::kMaxSide);
    Check(image.GetHeight() > 0 && image.GetHeight() <= PngImage::kMaxSide);
    const std::uint8_t* pixels = image.GetPixels();
    const std::size_t bytes = static_cast<std::size_t>(image.GetWidth()) * image.GetHeight() * 4;
    Check(pixels != nullptr);
    const volatile std::uint8_t last = pixels[bytes - 1];
    (void)last;
    return 0;
}
