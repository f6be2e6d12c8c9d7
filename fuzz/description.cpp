// The description frame and the record filled from it. An input longer than a frame gets
// a correct CRC, so the record's filling is reached as often as the frame's checks.
#include <algorithm>
#include <cstring>

#include "Check.h"
#include "package/Models.h"
#include "terminal/Description.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t frame[proto::kDescriptionFrameSize] = {};
    std::memcpy(frame, data, std::min(size, sizeof frame));
    if (size > sizeof frame)
        proto::StoreCrc(frame, sizeof frame - 2);
    TerminalDescription record = {};
    if (DescriptionOfFrame(frame, &record) != DescriptionFrameVerdict::Ok)
        return 0;
    const std::size_t length = std::min<std::size_t>(frame[1], proto::kDescriptionDataMax);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i)
        Check(bytes[i] == (i < length ? frame[2 + i] : 0));
    (void)FindReaderModel(record);
    return 0;
}
