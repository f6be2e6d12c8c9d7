#include "Frames.h"

#include <algorithm>
#include <cstdio>

#include "Crc16.h"

namespace rsim {

const std::array<std::uint8_t, kProbeASize> kProbeA = {0x2F, 0xC0, 0x04, 0x00, 0x14,
                                                       0x00, 0xC8, 0xA4, 0xFC};
const std::array<std::uint8_t, kProbeBSize> kProbeB = {0x2F, 0x40, 0x03, 0x05,
                                                       0x00, 0xFF, 0xC3, 0x6A};

namespace {

constexpr std::uint8_t kReplyMark = 0x06;
constexpr std::uint8_t kDescriptionPresent = 0x01;
constexpr std::uint8_t kProbeAByte1 = 0xC0;
constexpr std::uint8_t kProbeBByte1 = 0x40;

// The updater looks for 'K' before the first zero of the shared probe buffer: keep zeros
// out of the "present" replies and 01 81 out of offsets 3 and 4.
constexpr std::array<std::uint8_t, kProbeAReplySize> kPresentA = {0x2F, 0xC0, 0x04, 'K', 'L',
                                                                  'D',  'R',  '1',  0x01};
constexpr std::array<std::uint8_t, kProbeBReplySize> kPresentB = {0x2F, 0x40, 0x03, 'K',
                                                                  'O',  'K',  0x01};
// An application answering instead of the loader: 01 81 at offsets 3 and 4 of reply B.
constexpr std::array<std::uint8_t, kProbeAReplySize> kAbsentA = {0x2F, 0xC0, 0x04, 'A', 'P',
                                                                 'P',  0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, kProbeBReplySize> kAbsentB = {0x2F, 0x40, 0x03, 0x01,
                                                                 0x81, 0x00, 0x00};

const char kSerial[] = "SIM00001";
const char kLoaderLabel[] = "LDR 1.0";
constexpr std::size_t kSerialOffset = 0;
constexpr std::size_t kLabelOffset = 11;

void copyText(Bytes& frame, std::size_t offset, const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length && offset + i < frame.size(); ++i)
        frame[offset + i] = static_cast<std::uint8_t>(text[i]);
}

bool allZero(const std::uint8_t* begin, const std::uint8_t* end)
{
    return std::all_of(begin, end, [](std::uint8_t b) { return b == 0; });
}

bool isPrintable(std::uint8_t b) { return b >= 0x20 && b < 0x7F; }

FrameCut cutProbe(const Bytes& rx)
{
    if (rx.size() < 2)
        return {FrameKind::Incomplete, 0};
    if (rx[1] == kProbeAByte1)
        return {rx.size() >= kProbeASize ? FrameKind::ProbeA : FrameKind::Incomplete, kProbeASize};
    if (rx[1] == kProbeBByte1)
        return {rx.size() >= kProbeBSize ? FrameKind::ProbeB : FrameKind::Incomplete, kProbeBSize};
    return {FrameKind::Garbage, 0};
}

FrameCut sized(const Bytes& rx, FrameKind kind, std::size_t length)
{
    return {rx.size() >= length ? kind : FrameKind::Incomplete, length};
}

// Announced names become file names in the output folder.
bool isSafeFileName(const std::string& name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

bool storeCrc(Bytes& frame, std::size_t covered)
{
    if (frame.size() < covered + 2)
        return false;
    const std::uint16_t crc = crc16(frame.data(), covered);
    frame[covered] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[covered + 1] = static_cast<std::uint8_t>(crc >> 8);
    return true;
}

bool crcMatches(const std::uint8_t* frame, std::size_t size, std::size_t covered)
{
    if (size < covered + 2)
        return false;
    const std::uint16_t crc = crc16(frame, covered);
    return frame[covered] == (crc & 0xFF) && frame[covered + 1] == (crc >> 8);
}

const char* commandName(std::uint8_t code)
{
    switch (code) {
    case kCmdList: return "list-applications";
    case kCmdAnnounce: return "announce";
    case kCmdAuthorise: return "authorise";
    case kCmdStart: return "download-start";
    case kCmdActivate: return "activate";
    case kCmdRestart: return "restart";
    case kCmdDescribe: return "describe";
    default: return "unknown";
    }
}

bool isCommandCode(std::uint8_t code) { return code >= kCmdList && code <= kCmdDescribe; }

Bytes buildReply(std::uint8_t status)
{
    Bytes frame(kReplySize, 0);
    frame[0] = kReplyMark;
    frame[1] = 1;
    frame[2] = status;
    storeCrc(frame, kCommandCovered);
    return frame;
}

Bytes buildEndOfFile()
{
    Bytes frame(kReplySize, 0);
    frame[0] = kReplyMark;
    frame[1] = 4;
    frame[2] = kAckNext;
    copyText(frame, 3, "EOF", 3);
    storeCrc(frame, kCommandCovered);
    return frame;
}

Bytes buildAppFrame(const std::string& name)
{
    Bytes frame(kReplySize, 0);
    const std::size_t length = std::min(name.size(), kAppNameMax);
    frame[0] = kReplyMark;
    frame[1] = static_cast<std::uint8_t>(length);
    copyText(frame, 2, name.data(), length);
    // A name longer than 27 characters owns the CRC bytes and its terminator.
    if (2 + length < kCommandCovered)
        storeCrc(frame, kCommandCovered);
    return frame;
}

Bytes buildAppListEnd()
{
    Bytes frame(kReplySize, 0);
    frame[0] = kReplyMark;
    storeCrc(frame, kCommandCovered);
    return frame;
}

Bytes buildProbeReply(bool probeA, LoaderMode mode)
{
    const bool present = mode == LoaderMode::Present;
    if (probeA)
        return present ? Bytes(kPresentA.begin(), kPresentA.end())
                       : Bytes(kAbsentA.begin(), kAbsentA.end());
    return present ? Bytes(kPresentB.begin(), kPresentB.end())
                   : Bytes(kAbsentB.begin(), kAbsentB.end());
}

Bytes buildDescription(const DescriptionContent& content, DescMode mode)
{
    Bytes frame(kDescriptionSize, 0);
    frame[0] = mode == DescMode::Zero ? 0 : kDescriptionPresent;
    frame[1] = static_cast<std::uint8_t>(kDescriptionLength);
    const std::size_t data = 2;
    copyText(frame, data + kSerialOffset, kSerial, sizeof kSerial - 1);
    copyText(frame, data + kModelOffset, content.model.data(),
             std::min(content.model.size(), kModelLength));
    copyText(frame, data + kLabelOffset, kLoaderLabel, sizeof kLoaderLabel - 1);
    std::copy(content.options.begin(), content.options.end(),
              frame.begin() + static_cast<std::ptrdiff_t>(data + kOptionsOffset));
    storeCrc(frame, kBlockCovered);
    if (mode == DescMode::BadCrc)
        frame[kBlockCovered] = static_cast<std::uint8_t>(frame[kBlockCovered] ^ 0xFF);
    if (mode == DescMode::Short)
        frame.resize(kDescriptionShortSize);
    return frame;
}

FrameCut cutFrame(const Bytes& rx, bool expectingBlocks)
{
    if (rx.empty())
        return {FrameKind::Incomplete, 0};
    const std::uint8_t first = rx[0];
    if (first == kProbeMark)
        return cutProbe(rx);
    if (first == kBlockMark) {
        if (expectingBlocks)
            return sized(rx, FrameKind::Block, kBlockSize);
        if (rx.size() < kCommandSize)
            return {FrameKind::Incomplete, 0};
        if (crcMatches(rx.data(), rx.size(), kCommandCovered))
            return {FrameKind::Command, kCommandSize};
        return sized(rx, FrameKind::Block, kBlockSize);
    }
    if (isCommandCode(first))
        return sized(rx, FrameKind::Command, kCommandSize);
    return {FrameKind::Garbage, 0};
}

AnnounceFields parseAnnounce(const std::uint8_t* frame)
{
    AnnounceFields out;
    const std::uint8_t* digits = frame + 2;
    const std::uint8_t* nameField = frame + 2 + kAnnounceDigits;
    bool digitsOk = true;
    for (std::size_t i = 0; i < kAnnounceDigits; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            digitsOk = false;
        else
            out.size = out.size * 10 + static_cast<std::uint32_t>(digits[i] - '0');
    }
    if (!digitsOk)
        out.problems.push_back("size field is not six decimal digits: " +
                               hexBytes(digits, kAnnounceDigits));

    const std::size_t nameLength = static_cast<std::size_t>(
        std::find(nameField, nameField + kAnnounceNameMax, 0) - nameField);
    out.name.assign(nameField, nameField + nameLength);
    if (nameLength == 0)
        out.problems.push_back("empty file name");
    if (frame[1] != kAnnounceDigits + nameLength)
        out.problems.push_back("length byte " + std::to_string(frame[1]) + " but the name has " +
                               std::to_string(nameLength) + " characters (want " +
                               std::to_string(kAnnounceDigits + nameLength) + ")");
    if (!allZero(nameField + nameLength, frame + kCommandCovered))
        out.problems.push_back("bytes after the name are not zero");

    bool printable = std::all_of(out.name.begin(), out.name.end(), [](char c) {
        return isPrintable(static_cast<std::uint8_t>(c));
    });
    if (!printable)
        out.problems.push_back("file name has unprintable bytes: " +
                               hexBytes(nameField, nameLength));
    if (std::any_of(out.name.begin(), out.name.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        out.problems.push_back("file name not upper-case: " + out.name);
    const bool safe = isSafeFileName(out.name);
    if (!safe)
        out.problems.push_back("file name unusable as a file: " + out.name);
    out.usable = digitsOk && nameLength > 0 && printable && safe;
    return out;
}

std::vector<std::string> checkPlainCommand(const std::uint8_t* frame)
{
    std::vector<std::string> problems;
    const std::string name = commandName(frame[0]);
    if (frame[1] != 0)
        problems.push_back(name + ": parameter length " + std::to_string(frame[1]) +
                           ", want 0");
    if (!allZero(frame + 2, frame + kCommandCovered))
        problems.push_back(name + ": parameter bytes not zero");
    return problems;
}

BlockFields parseBlock(const std::uint8_t* frame)
{
    BlockFields out;
    out.number = static_cast<std::uint16_t>((frame[1] << 8) | frame[2]);
    out.count = frame[3];
    const std::size_t used = std::min(out.count, kBlockDataMax);
    out.paddingClean = allZero(frame + kBlockDataOffset + used, frame + kBlockCovered);
    return out;
}

bool isStartArea(const BlockFields& block) { return block.count == 0; }

std::string hexByte(std::uint8_t value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string hexBytes(const std::uint8_t* data, std::size_t length, std::size_t limit)
{
    std::string out;
    const std::size_t shown = std::min(length, limit);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i != 0)
            out += ' ';
        out += hexByte(data[i]);
    }
    if (shown < length)
        out += " ...";
    return out;
}

} // namespace rsim
