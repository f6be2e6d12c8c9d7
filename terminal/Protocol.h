// Bytes of the loader protocol: CRC, frame layouts and builders, reply decoding and the
// port-text parsing of the reader search. Pure functions, no Windows dependency.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace proto {

constexpr std::uint8_t CMD_LIST_APPLICATIONS = 1;
constexpr std::uint8_t CMD_ANNOUNCE_FILE = 2;
constexpr std::uint8_t CMD_AUTHORISE = 3;
constexpr std::uint8_t CMD_DOWNLOAD = 4;
constexpr std::uint8_t CMD_ACTIVATE = 5;
constexpr std::uint8_t CMD_RESTART = 6;
constexpr std::uint8_t CMD_READ_DESCRIPTION = 7;

constexpr std::uint8_t ACK_NEXT = 0x55;
constexpr std::uint8_t ACK_KO = 0x33;
constexpr std::uint8_t ACK_STOP = 0x11;
constexpr std::uint8_t ACK_REFUSED = 0x02;

constexpr std::size_t kCommandFrameSize = 32;
constexpr std::size_t kReplySize = 32;
constexpr std::size_t kStatusOffset = 2;
constexpr std::size_t kBlockFrameSize = 128;
constexpr std::size_t kBlockDataOffset = 4;
constexpr std::size_t kBlockDataMax = 122;
constexpr std::size_t kDescriptionFrameSize = 128;
constexpr std::size_t kDescriptionDataMax = 124;
constexpr std::size_t kDescriptionSize = 97;
constexpr std::size_t kProbeReplySize = 9;
constexpr std::size_t kProbeBReplySize = 7;

// The announce carries the size in six decimal digits and the name in the 22 bytes
// before the CRC.
constexpr long kAnnounceMaxFileSize = 999999;
constexpr std::size_t kAnnounceMaxNameLength = 22;
// Whether the announce's six digits can say a file of `size` bytes.
constexpr bool AnnounceableSize(long long size) { return size >= 0 && size <= kAnnounceMaxFileSize; }

// Port names are held in 8 bytes by the search: at most 7 characters.
constexpr std::size_t kPortNameMaxLength = 7;

extern const std::uint8_t kProbeA[9];
extern const std::uint8_t kProbeB[8];

// CRC-16 (reflected polynomial 0x8408, initial 0, no final xor). A length of 0 or less,
// taken as a signed 16-bit value, gives 0.
std::uint16_t Crc16(const std::uint8_t* data, int length);

// Computes the CRC over frame[0, covered) and stores it, low byte first, right after.
void StoreCrc(std::uint8_t* frame, std::size_t covered);

// True when the two bytes after frame[0, covered) hold that range's CRC.
bool HasValidCrc(const std::uint8_t* frame, std::size_t covered);

// A 32-byte command frame without parameters.
void BuildCommandFrame(std::uint8_t code, std::uint8_t (&frame)[kCommandFrameSize]);

// The announce frame for a file of `size` bytes named `upperName` (already upper-cased).
// False, frame untouched, when the size or the name does not fit.
bool BuildAnnounceFrame(long size, const std::string& upperName,
                        std::uint8_t (&frame)[kCommandFrameSize]);

// Fills a zeroed 128-byte block frame: number big-endian, byte count, data, CRC.
// `count` is clamped to the block's capacity; returns the count stored.
std::size_t BuildBlockFrame(std::uint16_t number, const std::uint8_t* data, std::size_t count,
                            std::uint8_t (&frame)[kBlockFrameSize]);

// Probe reply verdicts over the shared 9-byte buffer.
bool ProbeReplySaysLoaderAbsent(const std::uint8_t (&reply)[kProbeReplySize]);
bool ProbeReplyHoldsLoaderMark(const std::uint8_t (&reply)[kProbeReplySize]);

// An application name of a list reply: from offset 2 up to the first zero, at most
// the announced length and at most the frame's end.
std::string ApplicationNameOfReply(const std::uint8_t (&reply)[kReplySize]);

// The part of a port-list entry text that names the port ("Port COM5 (COM5)" gives COM5),
// "COM" found and written in capitals whatever its case ("com5" gives COM5).
std::string PortNameOfText(const std::string& text);

// The COM number in a port name: the digits that follow its first three characters.
int PortNumberOfName(const std::string& name);

// True for "COM" and a number from 1, without leading zero, within kPortNameMaxLength: the
// only names the search opens. Anything else (a drive, NUL, a pipe) is another device.
bool IsComPortName(const std::string& name);

// The part of a path after its last backslash (the whole path when it has none).
std::string FileNameOfPath(const std::string& path);

} // namespace proto
