#include <gtest/gtest.h>

#include <cstring>

#include "terminal/Protocol.h"
#include "terminal/Terminal.h"

using namespace proto;

TEST(Crc, MatchesTheCheckValueAndTheEmptyRange)
{
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    std::uint8_t out[2] = {0xAA, 0xAA};
    CTerminal terminal;
    EXPECT_TRUE(terminal.ComputeCrc(digits, 9, out));
    EXPECT_EQ(out[0], 0x89);
    EXPECT_EQ(out[1], 0x21);
    terminal.ComputeCrc(digits, 0, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    // The length is a signed 16-bit value: 65536 is 0 and 40000 is negative.
    EXPECT_EQ(Crc16(digits, 65536), 0);
    EXPECT_EQ(Crc16(digits, 40000), 0);
    const std::uint8_t zeros[126] = {};
    EXPECT_EQ(Crc16(zeros, 126), 0);
}

TEST(Frames, CommandsEndWithTheirKnownCrc)
{
    const std::uint8_t expected[8][2] = {{0, 0},       {0xF3, 0x20}, {0xE6, 0x41}, {0x15, 0x61},
                                         {0xCC, 0x83}, {0x3F, 0xA3}, {0x2A, 0xC2}, {0xD9, 0xE2}};
    for (std::uint8_t code = 1; code <= 7; ++code) {
        std::uint8_t frame[kCommandFrameSize];
        std::memset(frame, 0xEE, sizeof frame);
        BuildCommandFrame(code, frame);
        EXPECT_EQ(frame[0], code);
        for (std::size_t i = 1; i < 30; ++i)
            ASSERT_EQ(frame[i], 0) << "code " << int(code) << " offset " << i;
        EXPECT_EQ(frame[30], expected[code][0]) << "code " << int(code);
        EXPECT_EQ(frame[31], expected[code][1]) << "code " << int(code);
    }
}

TEST(Frames, ProbesCarryTheirOwnCrc)
{
    EXPECT_TRUE(HasValidCrc(kProbeA, 7));
    EXPECT_TRUE(HasValidCrc(kProbeB, 6));
}

TEST(Frames, BlockIsAlways128BytesWithBigEndianNumber)
{
    std::uint8_t data[200];
    for (std::size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<std::uint8_t>(i + 1);
    std::uint8_t frame[kBlockFrameSize];
    std::memset(frame, 0xEE, sizeof frame);
    EXPECT_EQ(BuildBlockFrame(300, data, 10, frame), 10u);
    EXPECT_EQ(frame[0], 0x04);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], 0x2C);
    EXPECT_EQ(frame[3], 10);
    EXPECT_EQ(0, std::memcmp(frame + 4, data, 10));
    for (std::size_t i = 14; i < 126; ++i)
        ASSERT_EQ(frame[i], 0) << i;
    EXPECT_TRUE(HasValidCrc(frame, 126));
    // More than a block holds is cut, never written past the frame.
    EXPECT_EQ(BuildBlockFrame(1, data, sizeof data, frame), kBlockDataMax);
    EXPECT_EQ(frame[3], 122);
    EXPECT_EQ(frame[125], data[121]);
    EXPECT_TRUE(HasValidCrc(frame, 126));
}

TEST(Frames, AnnounceRefusesWhatDoesNotFit)
{
    std::uint8_t frame[kCommandFrameSize] = {};
    EXPECT_TRUE(BuildAnnounceFrame(999999, std::string(22, 'A'), frame));
    EXPECT_EQ(frame[1], 28);
    EXPECT_EQ(0, std::memcmp(frame + 2, "999999", 6));
    EXPECT_EQ(frame[29], 'A');
    EXPECT_TRUE(HasValidCrc(frame, 30));
    std::uint8_t untouched[kCommandFrameSize];
    std::memset(untouched, 0x5A, sizeof untouched);
    EXPECT_FALSE(BuildAnnounceFrame(1000000, "A.BIN", untouched));
    EXPECT_FALSE(BuildAnnounceFrame(10, std::string(23, 'A'), untouched));
    EXPECT_FALSE(BuildAnnounceFrame(-1, "A.BIN", untouched));
    EXPECT_EQ(untouched[0], 0x5A);
}

TEST(ProbeReply, AbsenceWinsOverTheLoaderMark)
{
    const std::uint8_t absent[kProbeReplySize] = {'K', 1, 1, 0x01, 0x81, 0, 0, 0, 0};
    EXPECT_TRUE(ProbeReplySaysLoaderAbsent(absent));
    const std::uint8_t present[kProbeReplySize] = {0x2F, 'K', 3, 4, 5, 6, 7, 8, 9};
    EXPECT_FALSE(ProbeReplySaysLoaderAbsent(present));
    EXPECT_TRUE(ProbeReplyHoldsLoaderMark(present));
    const std::uint8_t afterZero[kProbeReplySize] = {0x2F, 0, 'K', 4, 5, 6, 7, 8, 9};
    EXPECT_FALSE(ProbeReplyHoldsLoaderMark(afterZero));
    const std::uint8_t lastByte[kProbeReplySize] = {1, 2, 3, 4, 5, 6, 7, 8, 'K'};
    EXPECT_TRUE(ProbeReplyHoldsLoaderMark(lastByte));
}

TEST(ApplicationName, StopsAtZeroLengthOrFrameEnd)
{
    std::uint8_t reply[kReplySize] = {};
    reply[1] = 3;
    std::memcpy(reply + 2, "ABCDEF", 6);
    EXPECT_EQ(ApplicationNameOfReply(reply), "ABC");
    reply[1] = 200;
    std::memset(reply + 2, 'X', 30);
    EXPECT_EQ(ApplicationNameOfReply(reply), std::string(30, 'X'));
    reply[1] = 10;
    reply[5] = 0;
    EXPECT_EQ(ApplicationNameOfReply(reply), "XXX");
}

TEST(PortText, NameAndNumber)
{
    EXPECT_EQ(PortNameOfText("Port COM5 (COM5)"), "COM5");
    EXPECT_EQ(PortNameOfText("DORAN Kavron USB (COM12)"), "COM12");
    EXPECT_EQ(PortNameOfText("COM7"), "COM7");
    EXPECT_EQ(PortNameOfText("X (COM5) y"), "COM5) y");
    EXPECT_EQ(PortNumberOfName("COM5"), 5);
    EXPECT_EQ(PortNumberOfName("COM123"), 123);
    EXPECT_EQ(PortNumberOfName("COMX1"), 0);
    EXPECT_EQ(PortNumberOfName("CO"), 0);
    EXPECT_EQ(PortNumberOfName("COM99999999999999"), 999999);
}

TEST(PortText, FileNameIsAfterTheLastBackslash)
{
    EXPECT_EQ(FileNameOfPath("C:\\pkg\\sub\\3648abc.sgn"), "3648abc.sgn");
    EXPECT_EQ(FileNameOfPath("3648abc.sgn"), "3648abc.sgn");
    EXPECT_EQ(FileNameOfPath("dir\\"), "");
}
