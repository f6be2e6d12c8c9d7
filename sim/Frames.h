// Frame layouts of the loader link: what the updater sends, what the loader answers.
// Pure functions over bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rsim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kProbeASize = 9;
constexpr std::size_t kProbeBSize = 8;
constexpr std::size_t kProbeAReplySize = 9;
constexpr std::size_t kProbeBReplySize = 7;
constexpr std::size_t kCommandSize = 32;
constexpr std::size_t kCommandCovered = 30;
constexpr std::size_t kReplySize = 32;
constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kBlockCovered = 126;
constexpr std::size_t kBlockDataOffset = 4;
constexpr std::size_t kBlockDataMax = 122;
constexpr std::size_t kDescriptionSize = 128;
constexpr std::size_t kDescriptionLength = 97;
constexpr std::size_t kDescriptionShortSize = 60;
constexpr std::size_t kModelOffset = 8;
constexpr std::size_t kModelLength = 3;
constexpr std::size_t kOptionsOffset = 27;
constexpr std::size_t kOptionsLength = 13;
constexpr std::size_t kAppNameMax = 30;
constexpr std::size_t kAnnounceNameMax = 22;
constexpr std::size_t kAnnounceDigits = 6;

constexpr std::uint8_t kAckNext = 0x55;
constexpr std::uint8_t kAckKo = 0x33;
constexpr std::uint8_t kAckStop = 0x11;
constexpr std::uint8_t kAckRefused = 0x02;

constexpr std::uint8_t kCmdList = 1;
constexpr std::uint8_t kCmdAnnounce = 2;
constexpr std::uint8_t kCmdAuthorise = 3;
constexpr std::uint8_t kCmdStart = 4;
constexpr std::uint8_t kCmdActivate = 5;
constexpr std::uint8_t kCmdRestart = 6;
constexpr std::uint8_t kCmdDescribe = 7;
constexpr std::uint8_t kBlockMark = 0x04;
constexpr std::uint8_t kProbeMark = 0x2F;

extern const std::array<std::uint8_t, kProbeASize> kProbeA;
extern const std::array<std::uint8_t, kProbeBSize> kProbeB;

enum class LoaderMode { Present, Absent, Silent };
enum class DescMode { Ok, BadCrc, Zero, Short, Silent };

// CRC of frame[0, covered) stored low byte first at frame[covered]; the frame must hold
// covered + 2 bytes, checked.
bool storeCrc(Bytes& frame, std::size_t covered);
bool crcMatches(const std::uint8_t* frame, std::size_t size, std::size_t covered);

const char* commandName(std::uint8_t code);
bool isCommandCode(std::uint8_t code);

Bytes buildReply(std::uint8_t status);
// The extra frame that closes a download: the updater reads one after every file.
Bytes buildEndOfFile();
Bytes buildAppFrame(const std::string& name);
Bytes buildAppListEnd();
Bytes buildProbeReply(bool probeA, LoaderMode mode);

struct DescriptionContent {
    std::string model = "M30";
    std::array<std::uint8_t, kOptionsLength> options{};
};
Bytes buildDescription(const DescriptionContent& content, DescMode mode);

// What the stream of received bytes holds at its start.
enum class FrameKind { Incomplete, ProbeA, ProbeB, Command, Block, Garbage };
struct FrameCut {
    FrameKind kind = FrameKind::Incomplete;
    std::size_t length = 0;
};
// expectingBlocks: inside a download, a leading 0x04 opens a 128-byte block; elsewhere
// it is a 32-byte start command unless its CRC says otherwise.
FrameCut cutFrame(const Bytes& rx, bool expectingBlocks);

struct AnnounceFields {
    bool usable = false;
    std::string name;
    std::uint32_t size = 0;
    std::vector<std::string> problems;
};
AnnounceFields parseAnnounce(const std::uint8_t* frame);

// Problems of a command other than the announce: its parameter bytes must be empty.
std::vector<std::string> checkPlainCommand(const std::uint8_t* frame);

struct BlockFields {
    std::uint16_t number = 0;
    std::size_t count = 0;
    bool paddingClean = true;
};
BlockFields parseBlock(const std::uint8_t* frame);
// The updater resends the 128-byte area holding its start command after a KO to it:
// no byte count, so no block.
bool isStartArea(const BlockFields& block);

std::string hexBytes(const std::uint8_t* data, std::size_t length, std::size_t limit = 16);
std::string hexByte(std::uint8_t value);

} // namespace rsim
