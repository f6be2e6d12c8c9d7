#include "Protocol.h"

#include <cstdio>
#include <cstring>

namespace proto {

const std::uint8_t kProbeA[9] = {0x2F, 0xC0, 0x04, 0x00, 0x14, 0x00, 0xC8, 0xA4, 0xFC};
const std::uint8_t kProbeB[8] = {0x2F, 0x40, 0x03, 0x05, 0x00, 0xFF, 0xC3, 0x6A};

std::uint16_t Crc16(const std::uint8_t* data, int length)
{
    const auto n = static_cast<std::int16_t>(length);
    std::uint16_t crc = 0;
    for (std::int16_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408u)
                             : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

void StoreCrc(std::uint8_t* frame, std::size_t covered)
{
    const std::uint16_t crc = Crc16(frame, static_cast<int>(covered));
    frame[covered] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[covered + 1] = static_cast<std::uint8_t>(crc >> 8);
}

bool HasValidCrc(const std::uint8_t* frame, std::size_t covered)
{
    const std::uint16_t crc = Crc16(frame, static_cast<int>(covered));
    return frame[covered] == (crc & 0xFF) && frame[covered + 1] == (crc >> 8);
}

void BuildCommandFrame(std::uint8_t code, std::uint8_t (&frame)[kCommandFrameSize])
{
    std::memset(frame, 0, sizeof frame);
    frame[0] = code;
    StoreCrc(frame, kCommandFrameSize - 2);
}

bool BuildAnnounceFrame(long size, const std::string& upperName,
                        std::uint8_t (&frame)[kCommandFrameSize])
{
    if (!AnnounceableSize(size) || upperName.size() > kAnnounceMaxNameLength)
        return false;
    std::memset(frame, 0, sizeof frame);
    frame[0] = CMD_ANNOUNCE_FILE;
    frame[1] = static_cast<std::uint8_t>(6 + upperName.size());
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06ld", size);
    std::memcpy(frame + 2, digits, 6);
    std::memcpy(frame + 8, upperName.data(), upperName.size());
    StoreCrc(frame, kCommandFrameSize - 2);
    return true;
}

std::size_t BuildBlockFrame(std::uint16_t number, const std::uint8_t* data, std::size_t count,
                            std::uint8_t (&frame)[kBlockFrameSize])
{
    if (count > kBlockDataMax)
        count = kBlockDataMax;
    std::memset(frame, 0, sizeof frame);
    frame[0] = CMD_DOWNLOAD;
    frame[1] = static_cast<std::uint8_t>(number >> 8);
    frame[2] = static_cast<std::uint8_t>(number & 0xFF);
    frame[3] = static_cast<std::uint8_t>(count);
    if (count > 0)
        std::memcpy(frame + kBlockDataOffset, data, count);
    StoreCrc(frame, kBlockFrameSize - 2);
    return count;
}

bool ProbeReplySaysLoaderAbsent(const std::uint8_t (&reply)[kProbeReplySize])
{
    return reply[3] == 0x01 && reply[4] == 0x81;
}

bool ProbeReplyHoldsLoaderMark(const std::uint8_t (&reply)[kProbeReplySize])
{
    for (std::uint8_t b : reply) {
        if (b == 0)
            return false;
        if (b == 0x4B)
            return true;
    }
    return false;
}

std::string ApplicationNameOfReply(const std::uint8_t (&reply)[kReplySize])
{
    std::size_t limit = reply[1];
    if (limit > kReplySize - 2)
        limit = kReplySize - 2;
    std::string name;
    for (std::size_t i = 0; i < limit && reply[2 + i] != 0; ++i)
        name.push_back(static_cast<char>(reply[2 + i]));
    return name;
}

namespace {

// Whether `text` holds "COM", in any case, at `at`.
bool ComAt(const std::string& text, std::size_t at)
{
    static const char kCom[] = "COM";
    if (text.size() < at + 3)
        return false;
    for (std::size_t i = 0; i < 3; ++i)
        if ((text[at + i] & ~0x20) != kCom[i])
            return false;
    return true;
}

} // namespace

std::string PortNameOfText(const std::string& text)
{
    std::string name = text;
    for (std::size_t open = text.find('('); open != std::string::npos;
         open = text.find('(', open + 1))
        if (ComAt(text, open + 1)) {
            name = text.substr(open + 1);
            break;
        }
    if (!name.empty() && name.back() == ')')
        name.pop_back();
    // Windows' device names ignore case: "com5" is COM5, and is written so.
    if (ComAt(name, 0))
        name.replace(0, 3, "COM");
    return name;
}

int PortNumberOfName(const std::string& name)
{
    int number = 0;
    // Bounded so that a long run of digits cannot overflow.
    for (std::size_t i = 3; i < name.size() && i < 3 + 6 && name[i] >= '0' && name[i] <= '9'; ++i)
        number = number * 10 + (name[i] - '0');
    return number;
}

bool IsComPortName(const std::string& name)
{
    if (name.size() < 4 || name.size() > kPortNameMaxLength || name.compare(0, 3, "COM") != 0 ||
        name[3] == '0')
        return false;
    for (std::size_t i = 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

std::string FileNameOfPath(const std::string& path)
{
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace proto
