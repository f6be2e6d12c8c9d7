// The port a port-list text names, as the reader search takes it.
#include <string>

#include "Check.h"
#include "terminal/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string name = proto::PortNameOfText(text);
    Check(name.size() <= text.size());
    if (!proto::IsComPortName(name))
        return 0;
    // What the search opens: \\.\COM1 to \\.\COM9999, never another device.
    Check(name.size() <= proto::kPortNameMaxLength);
    const int number = proto::PortNumberOfName(name);
    Check(number >= 1 && number <= 9999);
    Check(proto::PortNameOfText("COM" + std::to_string(number)) == name);
    return 0;
}
