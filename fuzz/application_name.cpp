// An application name of the list reply: within the frame, never holding a zero byte.
#include <algorithm>
#include <cstring>

#include "Check.h"
#include "terminal/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t reply[proto::kReplySize] = {};
    std::memcpy(reply, data, std::min(size, sizeof reply));
    const std::string name = proto::ApplicationNameOfReply(reply);
    Check(name.size() <= reply[1] && name.size() <= proto::kReplySize - 2);
    Check(name.find('\0') == std::string::npos);
    Check(std::memcmp(name.data(), reply + 2, name.size()) == 0);
    return 0;
}
