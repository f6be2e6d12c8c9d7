// Frames as the updater writes them, and a host that records what the session does.
#pragma once
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Crc16.h"
#include "Frames.h"
#include "Session.h"

namespace rsim::test {

inline void putCrc(Bytes& frame, std::size_t covered)
{
    const std::uint16_t crc = crc16(frame.data(), covered);
    frame[covered] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[covered + 1] = static_cast<std::uint8_t>(crc >> 8);
}

inline Bytes command(std::uint8_t code)
{
    Bytes frame(kCommandSize, 0);
    frame[0] = code;
    putCrc(frame, kCommandCovered);
    return frame;
}

inline Bytes announce(const std::string& name, std::uint32_t size)
{
    Bytes frame(kCommandSize, 0);
    frame[0] = kCmdAnnounce;
    frame[1] = static_cast<std::uint8_t>(6 + name.size());
    const std::string digits = std::string(6 - std::to_string(size).size(), '0') + std::to_string(size);
    std::copy(digits.begin(), digits.end(), frame.begin() + 2);
    std::copy(name.begin(), name.end(), frame.begin() + 8);
    putCrc(frame, kCommandCovered);
    return frame;
}

inline Bytes block(std::uint16_t number, const Bytes& data)
{
    Bytes frame(kBlockSize, 0);
    frame[0] = kBlockMark;
    frame[1] = static_cast<std::uint8_t>(number >> 8);
    frame[2] = static_cast<std::uint8_t>(number & 0xFF);
    frame[3] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 4);
    putCrc(frame, kBlockCovered);
    return frame;
}

// What the updater resends after a KO to its start command.
inline Bytes startArea()
{
    Bytes frame = command(kCmdStart);
    frame.resize(kBlockSize, 0);
    putCrc(frame, kBlockCovered);
    return frame;
}

inline Bytes fileContent(std::size_t size)
{
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    return data;
}

inline Bytes slice(const Bytes& data, std::size_t from, std::size_t count)
{
    const std::size_t end = std::min(data.size(), from + count);
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(end));
}

class RecordingHost : public SessionHost {
public:
    struct Stored {
        Bytes data;
        bool complete;
    };

    LineSettings lineSettings() override { return line; }
    void discardUnreadByPeer() override { ++discards; }
    void log(const std::string& text) override { lines.push_back(text); }
    void storeFile(const std::string& name, const Bytes& data, bool complete) override
    {
        ++storeCalls;
        stored[name + (complete ? "" : ".partial")] = Stored{data, complete};
    }

    bool logged(const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

    LineSettings line{9600, 8, 'N', 1, true};
    int discards = 0;
    int storeCalls = 0;
    std::vector<std::string> lines;
    std::map<std::string, Stored> stored;
};

} // namespace rsim::test
