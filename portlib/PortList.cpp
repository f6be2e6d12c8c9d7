#include "PortList.h"

#include <cstring>

#include "DeviceProps.h"
#include "PortSeam.h"
#include "PortText.h"
#include "Resources.h"

namespace {

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The three property reads share one buffer of this size (132 UTF-16 units).
constexpr DWORD kPropertyBytes = 264;
constexpr DWORD kInstanceIdUnits = 200;
// An entry of the text list is built in a buffer of this size, terminator included.
constexpr std::size_t kEntryBytes = 54;

// The port number of a listed device: the friendly name's, unless "PortName" says otherwise.
int PortNumberOf(HDEVINFO list, SP_DEVINFO_DATA& device, const std::wstring& friendlyName)
{
    int number = PortNumberOfFriendlyName(friendlyName);
    RegKey key(OpenHardwareKey(list, device));
    std::wstring portName;
    if (key.IsOpen() && ReadTextValue(key.Get(), L"PortName", portName)) {
        const int fromPortName = PortNumberOfPortName(portName);
        if (fromPortName >= 0)
            number = fromPortName;
    }
    return number;
}

std::string InstanceIdOf(HDEVINFO list, SP_DEVINFO_DATA& device)
{
    // Not the configuration manager's ID call: Wine reports success there without
    // writing the buffer.
    wchar_t id[kInstanceIdUnits] = {};
    if (!Sys().SetupDiGetDeviceInstanceIdW(list, &device, id, kInstanceIdUnits, nullptr))
        return std::string();
    return NarrowLatin1(TerminatedText(id, kInstanceIdUnits));
}

// Fills `row` from one device; false when the device is not a listed COM port.
bool FillRow(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property, PortEntry& row)
{
    // A failed read keeps the text of the read before: a missing friendly name falls back
    // on the description, a missing property on the friendly name.
    std::wstring text;
    if (!ReadPropertyFixed(list, device, SPDRP_DEVICEDESC, kPropertyBytes, text))
        return false;
    ReadPropertyFixed(list, device, SPDRP_FRIENDLYNAME, kPropertyBytes, text);
    const std::wstring friendlyName = text;
    ReadPropertyFixed(list, device, property, kPropertyBytes, text);
    if (friendlyName.find(L"COM") == std::wstring::npos)
        return false;
    if (!CopyBounded(NarrowLatin1(text), row.propertyText, tessock::kPropertyTextSize))
        return false;
    row.portNumber = PortNumberOf(list, device, friendlyName);
    if (!CopyBounded(InstanceIdOf(list, device), row.instanceId, tessock::kInstanceIdSize) &&
        row.instanceId != nullptr)
        row.instanceId[0] = '\0';
    return true;
}

bool RequestStateChange(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD state, DWORD scope)
{
    SP_PROPCHANGE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = state;
    params.Scope = scope;
    params.HwProfile = 0;
    return Sys().SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader,
                                               sizeof params) &&
           Sys().SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device);
}

bool NeedsRestart(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof params;
    return Sys().SetupDiGetDeviceInstallParamsW(set, &device, &params) &&
           (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
}

} // namespace

unsigned char ListPorts(PortEntry* entries, int capacity, std::int32_t* count, DWORD property)
{
    if (entries == nullptr || count == nullptr || capacity <= 0)
        return 0;
    DeviceList list(Sys().SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!list.IsOpen())
        return 0;
    int rows = 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; rows < capacity && Sys().SetupDiEnumDeviceInfo(list.Get(), index, &device);
         ++index) {
        if (FillRow(list.Get(), device, property, entries[rows]))
            ++rows;
    }
    *count = rows;
    return 1;
}

unsigned char AppendPortTexts(char* out, std::int32_t size)
{
    if (out == nullptr || size <= 0)
        return 0;
    PortTable table;
    std::int32_t count = 0;
    if (!ListPorts(table.Rows(), tessock::kMaxPortRows, &count, SPDRP_DEVICEDESC))
        return 1;
    const std::size_t capacity = static_cast<std::size_t>(size);
    for (int i = 0; i < count; ++i) {
        const std::string number = "|" + std::to_string(table.Row(i).portNumber) + "|";
        std::string description = table.Row(i).propertyText;
        // A description too long for the entry buffer is cut; the number always stays.
        if (description.size() + number.size() > kEntryBytes - 1)
            description.resize(kEntryBytes - 1 - number.size());
        const std::string entry = description + number;
        const std::size_t used = strnlen(out, capacity);
        if (used + kEntryBytes < capacity)
            std::memcpy(out + used, entry.c_str(), entry.size() + 1);
    }
    return 1;
}

unsigned char SetPortDeviceState(std::int32_t portNumber, bool enable)
{
    // No port is numbered 0: a row without a number must never be taken for it.
    if (portNumber <= 0)
        return 0;
    PortTable table;
    std::int32_t count = 0;
    if (!ListPorts(table.Rows(), tessock::kMaxPortRows, &count, SPDRP_LOCATION_INFORMATION))
        return 0;
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i)
        if (table.Row(i).portNumber == portNumber)
            found = i;
    if (found < 0)
        return 0;

    DeviceList set(Sys().SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr));
    if (!set.IsOpen())
        return 0;
    const std::wstring id = WidenLatin1(table.Row(found).instanceId);
    if (id.empty() || id.size() >= kInstanceIdUnits)
        return 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!Sys().SetupDiOpenDeviceInfoW(set.Get(), id.c_str(), nullptr, 0, &device))
        return 0;

    // Enabling globally first lifts a global disable; only the config-specific change
    // decides the outcome.
    if (enable)
        RequestStateChange(set.Get(), device, DICS_ENABLE, DICS_FLAG_GLOBAL);
    if (!RequestStateChange(set.Get(), device, enable ? DICS_ENABLE : DICS_DISABLE,
                            DICS_FLAG_CONFIGSPECIFIC))
        return 0;
    // A change that waits for a restart has not happened yet.
    return NeedsRestart(set.Get(), device) ? 0 : 1;
}
