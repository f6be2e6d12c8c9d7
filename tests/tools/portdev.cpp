// portdev: registers or removes a Ports-class device in the Wine prefix (or on a test
// machine), so that the port library can be run against a device the system lists.
//   portdev add INSTANCEID COMn DESCRIPTION   prints the device's driver key
//   portdev remove INSTANCEID                 exit 0 when it was there and is gone
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "winfw/Handle.h"

namespace {

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device information list, destroyed with its owner.
struct DeviceList {
    static HDEVINFO Empty() { return INVALID_HANDLE_VALUE; }
    static bool Holds(HDEVINFO list) { return list != INVALID_HANDLE_VALUE; }
    static void Close(HDEVINFO list) { ::SetupDiDestroyDeviceInfoList(list); }
};
using List = Owned<HDEVINFO, DeviceList>;

bool SetText(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property, const std::wstring& text)
{
    return ::SetupDiSetDeviceRegistryPropertyW(list, &device, property,
                                               reinterpret_cast<const BYTE*>(text.c_str()),
                                               static_cast<DWORD>((text.size() + 1) * 2)) != FALSE;
}

bool Fail(const char* what)
{
    std::fprintf(stderr, "portdev: %s failed (error %lu)\n", what, ::GetLastError());
    return false;
}

bool Add(const std::wstring& instanceId, const std::wstring& portName, const std::wstring& description)
{
    List list(::SetupDiCreateDeviceInfoList(&kPortsClass, nullptr));
    if (!list.IsValid())
        return Fail("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!::SetupDiCreateDeviceInfoW(list.Get(), instanceId.c_str(), &kPortsClass, description.c_str(),
                                    nullptr, 0, &device))
        return Fail("SetupDiCreateDeviceInfoW");
    // The hardware ID is a list of texts ended by an empty one.
    std::wstring hardwareIds = instanceId.substr(0, instanceId.rfind(L'\\'));
    hardwareIds.push_back(L'\0');
    if (!SetText(list.Get(), device, SPDRP_DEVICEDESC, description) ||
        !SetText(list.Get(), device, SPDRP_FRIENDLYNAME, description + L" (" + portName + L")") ||
        !SetText(list.Get(), device, SPDRP_HARDWAREID, hardwareIds) ||
        !SetText(list.Get(), device, SPDRP_LOCATION_INFORMATION, L"Port_#0004.Hub_#0002"))
        return Fail("SetupDiSetDeviceRegistryPropertyW");
    // Without registering, the device goes with the list.
    if (!::SetupDiRegisterDeviceInfo(list.Get(), &device, 0, nullptr, nullptr, nullptr))
        return Fail("SetupDiRegisterDeviceInfo");
    HKEY key = ::SetupDiCreateDevRegKeyW(list.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE)
        return Fail("SetupDiCreateDevRegKeyW");
    const LONG written = ::RegSetValueExW(key, L"PortName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(portName.c_str()),
                                          static_cast<DWORD>((portName.size() + 1) * 2));
    ::RegCloseKey(key);
    if (written != ERROR_SUCCESS)
        return Fail("RegSetValueExW");
    // The driver key (the device's software key) comes into being with its first opening.
    HKEY software = ::SetupDiCreateDevRegKeyW(list.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (software == INVALID_HANDLE_VALUE)
        return Fail("creating the driver key");
    ::RegCloseKey(software);
    wchar_t driverKey[200] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(list.Get(), &device, SPDRP_DRIVER, nullptr,
                                             reinterpret_cast<BYTE*>(driverKey), sizeof driverKey - 2, nullptr))
        return Fail("reading the driver key");
    std::printf("%ls\n", driverKey);
    return true;
}

bool Remove(const std::wstring& instanceId)
{
    List list(::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0));
    if (!list.IsValid())
        return Fail("SetupDiGetClassDevsW");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool removed = false;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(list.Get(), i, &device); ++i) {
        wchar_t id[400] = {};
        if (::SetupDiGetDeviceInstanceIdW(list.Get(), &device, id, 399, nullptr) &&
            _wcsicmp(id, instanceId.c_str()) == 0)
            removed = ::SetupDiRemoveDevice(list.Get(), &device) != FALSE || removed;
    }
    if (!removed)
        std::fprintf(stderr, "portdev: no device %ls removed\n", instanceId.c_str());
    return removed;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"add" && argc == 5)
        return Add(argv[2], argv[3], argv[4]) ? 0 : 1;
    if (command == L"remove" && argc == 3)
        return Remove(argv[2]) ? 0 : 1;
    std::fputs("usage: portdev add INSTANCEID COMn DESCRIPTION | portdev remove INSTANCEID\n", stderr);
    return 2;
}
