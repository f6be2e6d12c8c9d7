// A stand-in for the port library with the exports the updater binds. The maker's USB
// device on hub 2, port 4 is COM7 until a test renumbers it; COM8's device has a driver key
// but is not on USB; COM9's key fills the whole 100-unit buffer but its terminator; every
// other port belongs to no device of the maker.
#include <cwchar>

#include "portlib/Tessock.h"

namespace {
const wchar_t kKeyReader[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0007";
const wchar_t kKeyCom8[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0008";
unsigned char g_readerPort = 7;
} // namespace

// The reader's device comes back under another COM number (a test's own control).
extern "C" __declspec(dllexport) void renumberReaderPort(unsigned char port) { g_readerPort = port; }

extern "C" __declspec(dllexport) unsigned char searchDriverByComBrenix(unsigned char port,
                                                                        wchar_t* driverKey)
{
    if (port == g_readerPort)
        std::wcscpy(driverKey, kKeyReader);
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
    if (driverKey == nullptr || driverKey[0] == L'\0' || std::wcscmp(driverKey, kKeyReader) != 0)
        return 0xFF;
    *hub = 2;
    *hubPort = 4;
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchDriverByPosition(unsigned char hub,
                                                                       unsigned char hubPort,
                                                                       wchar_t* driverKey)
{
    if (hub == 0 || hubPort == 0)
        return 0xFF;
    if (hub == 2 && hubPort == 4)
        std::wcscpy(driverKey, kKeyReader);
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchComByDriverBrenix(const wchar_t* driverKey,
                                                                        wchar_t* portName)
{
    if (driverKey == nullptr || driverKey[0] == L'\0')
        return 0xFF;
    if (std::wcscmp(driverKey, kKeyReader) == 0)
        std::swprintf(portName, 100, L"COM%u", static_cast<unsigned>(g_readerPort));
    return 0;
}
