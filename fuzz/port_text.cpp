// The port a port-list text names, as the reader search takes it.
#include <string>

#include "Check.h"
#include "terminal/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string name = proto::PortNameOfText(text);
    Check(name.size() <= text.size());
    if (name.empty() || name.size() > proto::kPortNameMaxLength)
        return 0;
    const int number = proto::PortNumberOfName(name);
    Check(number >= 0 && number <= 9999);
    return 0;
}
