#include "DriverSearch.h"

#include <functional>

#include "DeviceProps.h"
#include "PortRename.h"
#include "PortSeam.h"
#include "PortText.h"
#include "Resources.h"
#include "Tessock.h"

namespace {

constexpr unsigned char kWalked = 0;
constexpr unsigned char kListFailed = 1;
constexpr unsigned char kWriteRefused = 1;
constexpr unsigned char kBadArgument = 0xFF;

const wchar_t kMakerMark[] = L"DORAN";

struct DoranDevice {
    HDEVINFO list;
    SP_DEVINFO_DATA& data;
    const std::wstring& driverKey;
};

// Walks every present device of every class and hands each of the maker's devices that
// has a driver key to `step`; 0 when the list was walked to its end, 1 otherwise.
unsigned char ForEachDoranDevice(const std::function<void(DoranDevice&)>& step)
{
    DeviceList list(Sys().SetupDiGetClassDevsW(nullptr, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!list.IsOpen())
        return kListFailed;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0;; ++index) {
        if (!Sys().SetupDiEnumDeviceInfo(list.Get(), index, &data)) {
            const DWORD error = Sys().GetLastError();
            return error == ERROR_SUCCESS || error == ERROR_NO_MORE_ITEMS ? kWalked : kListFailed;
        }
        std::wstring description;
        if (!ReadPropertyGrowing(list.Get(), data, SPDRP_DEVICEDESC, description) ||
            description.find(kMakerMark) == std::wstring::npos)
            continue;
        std::wstring driverKey;
        if (!ReadPropertyGrowing(list.Get(), data, SPDRP_DRIVER, driverKey) || driverKey.empty())
            continue;
        DoranDevice device{list.Get(), data, driverKey};
        step(device);
    }
}

bool ReadPortNameOf(DoranDevice& device, RegKey& key, std::wstring& portName)
{
    *key.Out() = OpenHardwareKey(device.list, device.data);
    return key.IsOpen() && ReadTextValue(key.Get(), L"PortName", portName);
}

// Driver keys are held to the caller's 100-unit buffer: a longer key names no device.
bool IsUsableKey(const wchar_t* driverKey)
{
    return driverKey != nullptr && driverKey[0] != L'\0';
}

// Hands the device with exactly this driver key, its open hardware key and its port name to
// `step`; 0xFF for an empty key, otherwise the walk's result.
unsigned char ForPortOfDriver(
    const wchar_t* driverKey,
    const std::function<void(DoranDevice&, RegKey&, const std::wstring&)>& step)
{
    if (!IsUsableKey(driverKey))
        return kBadArgument;
    const std::wstring sought = TerminatedText(driverKey, tessock::kTextUnits);
    return ForEachDoranDevice([&](DoranDevice& device) {
        if (device.driverKey != sought)
            return;
        RegKey key;
        std::wstring portName;
        if (ReadPortNameOf(device, key, portName))
            step(device, key, portName);
    });
}

} // namespace

unsigned char FindComOfDriver(const wchar_t* driverKey, wchar_t* portName)
{
    if (portName == nullptr)
        return kBadArgument;
    return ForPortOfDriver(driverKey, [&](DoranDevice&, RegKey&, const std::wstring& name) {
        CopyBounded(name, portName, tessock::kTextUnits);
    });
}

unsigned char FindDriverOfCom(unsigned char portNumber, wchar_t* driverKey)
{
    if (driverKey == nullptr)
        return kListFailed;
    // Built without a size limit: COM100 to COM255 are sought like the others.
    const std::wstring sought = PortNameOfNumber(portNumber);
    // Every device with the name is taken in turn: the last one in the list wins.
    return ForEachDoranDevice([&](DoranDevice& device) {
        RegKey key;
        std::wstring name;
        if (ReadPortNameOf(device, key, name) && name == sought)
            CopyBounded(device.driverKey, driverKey, tessock::kTextUnits);
    });
}

unsigned char MoveDriverToCom(const wchar_t* driverKey, unsigned char newPort)
{
    // COM0 does not exist: giving it to a device would only break its records.
    if (newPort == 0)
        return kBadArgument;
    bool refused = false;
    const unsigned char walked =
        ForPortOfDriver(driverKey, [&](DoranDevice& device, RegKey&, const std::wstring& oldName) {
            refused |= ChangeDevicePortName(device.list, device.data, oldName, newPort) ==
                       RenameOutcome::Refused;
        });
    if (!refused)
        return walked;
    // Set last, once every handle is closed: the caller reads it right after the export.
    Sys().SetLastError(ERROR_ACCESS_DENIED);
    return kWriteRefused;
}
