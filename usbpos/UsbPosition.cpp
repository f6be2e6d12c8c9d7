// recordUsbPosition: where in the USB tree the port about to be probed sits, asked of the
// port library and only recorded and logged.
#include <cstring>

#include "portlib/Tessock.h"
#include "res/resource.h"
#include "terminal/Terminal.h"
#include "winfw/Diag.h"
#include "winfw/SystemLibrary.h"
#include "winfw/Text.h"

namespace {

constexpr std::size_t kUsbLineSize = 100;
constexpr int kLargestLookupPort = 255;

// The driver key as 8-bit text for the log line, bounded by the key's buffer.
std::string NarrowKey(const wchar_t* key, std::size_t capacity)
{
    std::size_t length = 0;
    while (length < capacity && key[length] != L'\0')
        ++length;
    return WideToAnsi(std::wstring(key, length));
}

} // namespace

bool CTerminal::UsbLookupCovers(int portNumber)
{
    return portNumber >= 0 && portNumber <= kLargestLookupPort;
}

bool CTerminal::recordUsbPosition(int portNumber)
{
    if (!UsbLookupCovers(portNumber)) {
        LogLineSized(kUsbLineSize, "Position USB non recherchee : COM%d depasse COM%d",
                     portNumber, kLargestLookupPort);
        return false;
    }
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    if (library == nullptr) {
        ShowMessage(LoadResString(IDS_NO_PORT_LIBRARY), MB_OK);
        return false;
    }
    auto searchDriver =
        BindExport<decltype(&::searchDriverByComBrenix)>(library, "searchDriverByComBrenix");
    auto searchPosition =
        BindExport<decltype(&::searchPositionByDriver)>(library, "searchPositionByDriver");
    // A library without these exports is not the one we know: treat it as a failed lookup.
    if (searchDriver == nullptr || searchPosition == nullptr)
        return false;

    std::memset(usbDriverKey, 0, sizeof usbDriverKey);
    const unsigned char found =
        searchDriver(static_cast<unsigned char>(portNumber), usbDriverKey);
    usbDriverKey[kDriverKeyLength - 1] = L'\0'; // the library must not leave it unterminated
    LogLineSized(kUsbLineSize, "Read driver by com (COM%d) -> \"%s\" (ret %d)", portNumber,
                 NarrowKey(usbDriverKey, kDriverKeyLength).c_str(), found);
    if (found != 0)
        return false;

    usbHub = 0;
    usbHubPort = 0;
    const unsigned char located = searchPosition(usbDriverKey, &usbHub, &usbHubPort);
    LogLineSized(kUsbLineSize, "Search position (COM%d)-> HUB= %d, HUBPORT = %d", portNumber,
                 usbHub, usbHubPort);
    return located == 0;
}

bool CTerminal::FindPortAtUsbPosition(std::uint8_t hub, std::uint8_t hubPort, int* portNumber)
{
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    if (library == nullptr)
        return false;
    auto driverAt =
        BindExport<decltype(&::searchDriverByPosition)>(library, "searchDriverByPosition");
    auto comOf = BindExport<decltype(&::searchComByDriverBrenix)>(library, "searchComByDriverBrenix");
    if (driverAt == nullptr || comOf == nullptr)
        return false;

    wchar_t key[kDriverKeyLength] = {};
    const unsigned char walked = driverAt(hub, hubPort, key);
    key[kDriverKeyLength - 1] = L'\0';
    wchar_t name[kDriverKeyLength] = {};
    const unsigned char searched = key[0] != L'\0' ? comOf(key, name) : 0xFF;
    name[kDriverKeyLength - 1] = L'\0';
    const std::string portName = NarrowKey(name, kDriverKeyLength);
    LogLine("Search driver by position (HUB= %d, HUBPORT = %d) -> \"%s\" %s", hub,
                 hubPort, NarrowKey(key, kDriverKeyLength).c_str(), portName.c_str());
    if (walked != 0 || searched != 0 || portName.compare(0, 3, "COM") != 0)
        return false;
    *portNumber = proto::PortNumberOfName(portName);
    return *portNumber > 0;
}
