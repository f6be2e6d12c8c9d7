// A stand-in for the port library with the two exports the updater's USB lookup binds.
// COM7 belongs to a maker's device on hub 2, port 4; COM8's device has a driver key but
// is not on USB; COM9's key fills the whole 100-unit buffer but its terminator; every other
// port belongs to no device of the maker.
#include <cwchar>

#include "portlib/Tessock.h"

namespace {
const wchar_t kKeyCom7[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0007";
const wchar_t kKeyCom8[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0008";
} // namespace

extern "C" __declspec(dllexport) unsigned char searchDriverByComBrenix(unsigned char port,
                                                                        wchar_t* driverKey)
{
    if (port == 7)
        std::wcscpy(driverKey, kKeyCom7);
    else if (port == 8)
        std::wcscpy(driverKey, kKeyCom8);
    else if (port == 9)
        std::wmemset(driverKey, L'k', 99);
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchPositionByDriver(const wchar_t* driverKey,
                                                                       unsigned char* hub,
                                                                       unsigned char* hubPort)
{
    if (driverKey == nullptr || driverKey[0] == L'\0' || std::wcscmp(driverKey, kKeyCom7) != 0)
        return 0xFF;
    *hub = 2;
    *hubPort = 4;
    return 0;
}
