#include "Description.h"

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
