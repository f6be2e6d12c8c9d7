#include "Description.h"

#include <cstddef>
#include <cstring>

using namespace proto;

DescriptionFrameVerdict DescriptionOfFrame(const std::uint8_t (&frame)[kDescriptionFrameSize],
                                           TerminalDescription* description)
{
    if (!HasValidCrc(frame, kDescriptionFrameSize - 2))
        return DescriptionFrameVerdict::BadCrc;
    if (frame[0] == 0)
        return DescriptionFrameVerdict::Empty;

    std::uint8_t data[kDescriptionFrameSize] = {};
    std::size_t length = frame[1];
    if (length > kDescriptionDataMax)
        length = kDescriptionDataMax;
    std::memcpy(data, frame + 2, length);
    std::memcpy(description, data, sizeof *description);
    return DescriptionFrameVerdict::Ok;
}

std::string ModelCodeText(const TerminalDescription& description)
{
    std::string model;
    for (char c : description.modelCode)
        model.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    return model;
}

namespace {

std::string Hex(const TerminalDescription& description, std::size_t first, std::size_t end)
{
    static const char kDigits[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&description);
    std::string text;
    for (std::size_t i = first; i < end; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace

std::string DescriptionHex(const TerminalDescription& description)
{
    return Hex(description, 0, sizeof description);
}

std::string OptionBytesHex(const TerminalDescription& description)
{
    constexpr std::size_t kFirst = offsetof(TerminalDescription, generalOptions);
    constexpr std::size_t kEnd = offsetof(TerminalDescription, extensionOptions) + 1;
    static_assert(kFirst == 27 && kEnd == 40, "option bytes 27 to 39");
    return Hex(description, kFirst, kEnd);
}
