// Probe replies: probe A's reply (up to 9 bytes), then probe B's (up to 7) laid over it in
// the same buffer, as ProbeLoader reads them.
#include <algorithm>
#include <cstring>

#include "terminal/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t reply[proto::kProbeReplySize] = {};
    const std::size_t a = std::min(size, sizeof reply);
    std::memcpy(reply, data, a);
    std::memcpy(reply, data + a, std::min(size - a, proto::kProbeBReplySize));
    (void)proto::ProbeReplySaysLoaderAbsent(reply);
    (void)proto::ProbeReplyHoldsLoaderMark(reply);
    return 0;
}
