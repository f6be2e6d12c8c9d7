#include <gtest/gtest.h>

#include "Crc16.h"
#include "Frames.h"

using namespace rsim;

TEST(Crc16, MatchesTheCheckValueAndStartsFromZero)
{
    const std::string check = "123456789";
    EXPECT_EQ(0x2189, crc16(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()));
    EXPECT_EQ(0x0000, crc16(nullptr, 0));
    const std::uint8_t one = 0x01;
    EXPECT_EQ(0x1189, crc16(&one, 1));
}

TEST(Crc16, IsStoredLowByteFirstAndEveryBitFlipIsCaught)
{
    Bytes frame(kCommandSize, 0);
    frame[0] = 7;
    ASSERT_TRUE(storeCrc(frame, kCommandCovered));
    const std::uint16_t crc = crc16(frame.data(), kCommandCovered);
    EXPECT_EQ(crc & 0xFF, frame[30]);
    EXPECT_EQ(crc >> 8, frame[31]);
    EXPECT_TRUE(crcMatches(frame.data(), frame.size(), kCommandCovered));
    for (std::size_t byte = 0; byte < frame.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit) {
            Bytes damaged = frame;
            damaged[byte] = static_cast<std::uint8_t>(damaged[byte] ^ (1 << bit));
            EXPECT_FALSE(crcMatches(damaged.data(), damaged.size(), kCommandCovered))
                << "byte " << byte << " bit " << bit;
        }
}

TEST(Crc16, RefusesFramesTooShortForTheirCrc)
{
    Bytes frame(10, 0);
    EXPECT_FALSE(storeCrc(frame, 9));
    EXPECT_FALSE(crcMatches(frame.data(), frame.size(), 9));
}
