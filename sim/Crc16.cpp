#include "Crc16.h"

namespace rsim {

namespace {
constexpr std::uint16_t kReflectedPoly = 0x8408;
}

std::uint16_t crc16(const std::uint8_t* data, std::size_t length)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool low = (crc & 1U) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (low)
                crc = static_cast<std::uint16_t>(crc ^ kReflectedPoly);
        }
    }
    return crc;
}

} // namespace rsim
