// The CRC every frame of the loader link carries.
#pragma once
#include <cstddef>
#include <cstdint>

namespace rsim {

// CRC-16, reflected polynomial 0x8408, initial value 0, no final xor.
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

} // namespace rsim
