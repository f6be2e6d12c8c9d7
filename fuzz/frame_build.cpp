// Frames the updater builds from what it does not control: a block of a package file, and
// the announce of a file named by a catalogue line. Each must read back as it was built.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "Check.h"
#include "terminal/Protocol.h"

using namespace proto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const auto number = in.ConsumeIntegral<std::uint16_t>();
    const auto block = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegral<std::uint8_t>());
    std::uint8_t frame[kBlockFrameSize];
    const std::size_t count = BuildBlockFrame(number, block.data(), block.size(), frame);
    Check(count == std::min(block.size(), kBlockDataMax) && frame[3] == count);
    Check(frame[0] == CMD_DOWNLOAD && (frame[1] << 8 | frame[2]) == number);
    Check(count == 0 || std::memcmp(frame + kBlockDataOffset, block.data(), count) == 0);
    Check(HasValidCrc(frame, kBlockFrameSize - 2));

    const long fileSize = in.ConsumeIntegral<long>();
    const std::string name = FileNameOfPath(in.ConsumeRemainingBytesAsString());
    std::uint8_t announce[kCommandFrameSize];
    const bool fits = fileSize >= 0 && fileSize <= kAnnounceMaxFileSize &&
                      name.size() <= kAnnounceMaxNameLength;
    Check(BuildAnnounceFrame(fileSize, name, announce) == fits);
    if (fits) {
        Check(announce[0] == CMD_ANNOUNCE_FILE && announce[1] == 6 + name.size());
        const std::string digits(announce + 2, announce + 8);
        Check(std::strtol(digits.c_str(), nullptr, 10) == fileSize);
        Check(std::memcmp(announce + 8, name.data(), name.size()) == 0);
        Check(HasValidCrc(announce, kCommandFrameSize - 2));
    }
    return 0;
}
