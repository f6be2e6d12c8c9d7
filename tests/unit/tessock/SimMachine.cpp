#include "SimMachine.h"

#include <winioctl.h>
#include <usbioctl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

const GUID kPortsClassGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kUsbClassGuid = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {
// The machine's calls carry the names of the Windows calls they play.
namespace sim {

// The calls below set the thread's own last error, as Windows' do.
using ::GetLastError;
using ::SetLastError;

SimMachine* g_sim = nullptr;
using H = SimMachine::Handle;

SimDevice* DeviceOf(HDEVINFO list, PSP_DEVINFO_DATA data)
{
    if (g_sim->Find(list, H::List) == nullptr || data == nullptr || data->DevInst >= g_sim->devices.size())
        return nullptr;
    return &g_sim->devices[data->DevInst];
}

std::wstring TextOf(const BYTE* data, DWORD bytes)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
    const std::size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Rights that change a key: KEY_WRITE and KEY_ALL_ACCESS include them, KEY_READ does not.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                MAXIMUM_ALLOWED;

bool Refused(SimStore store, REGSAM access)
{
    return (access & kWriteRights) != 0 && g_sim->writable.count(store) == 0;
}

// A value is read or written only through a key opened with the right to do it
// (RegQueryValueEx, RegSetValueEx: ERROR_ACCESS_DENIED otherwise).
bool Grants(const H* key, REGSAM right)
{
    return (key->access & right) == right;
}

// --- device lists and properties

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* guid, PCWSTR, HWND, DWORD flags)
{
    if (flags & DIGCF_DEVICEINTERFACE) {
        H* list = g_sim->NewHandle(H::List, -1);
        for (std::size_t i = 0; i < g_sim->controllers.size(); ++i)
            if (!g_sim->controllers[i].interfacePath.empty())
                list->members.push_back(static_cast<int>(i));
        return list;
    }
    if (g_sim->classListFails) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    H* list = g_sim->NewHandle(H::List, -1);
    for (std::size_t i = 0; i < g_sim->devices.size(); ++i) {
        const SimDevice& d = g_sim->devices[i];
        if (d.present && ((flags & DIGCF_ALLCLASSES) || (guid && IsEqualGUID(*guid, d.classGuid))))
            list->members.push_back(static_cast<int>(i));
    }
    return list;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data)
{
    H* list = g_sim->Find(handle, H::List);
    if (list == nullptr || static_cast<int>(index) == g_sim->enumerationFailsAt) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (index >= list->members.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->DevInst = static_cast<DWORD>(list->members[index]);
    data->ClassGuid = g_sim->devices[data->DevInst].classGuid;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    H* list = g_sim->Find(handle, H::List);
    if (list == nullptr)
        return FALSE;
    list->open = false;
    return TRUE;
}

std::optional<std::wstring>* PropertyOf(SimDevice& d, DWORD property)
{
    switch (property) {
    case SPDRP_DEVICEDESC: return &d.description;
    case SPDRP_FRIENDLYNAME: return &d.friendlyName;
    case SPDRP_DRIVER: return &d.driverKey;
    case SPDRP_LOCATION_INFORMATION: return &d.location;
    default: return nullptr;
    }
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD type, PBYTE buffer, DWORD size, PDWORD required)
{
    SimDevice* d = DeviceOf(list, data);
    auto* value = d ? PropertyOf(*d, property) : nullptr;
    if (value == nullptr || !value->has_value()) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const DWORD bytes = static_cast<DWORD>(((*value)->size() + 1) * sizeof(wchar_t));
    if (required)
        *required = bytes;
    if (buffer == nullptr || size < bytes) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (type)
        *type = REG_SZ;
    std::memcpy(buffer, (*value)->c_str(), bytes);
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD size)
{
    SimDevice* d = DeviceOf(list, data);
    auto* value = d ? PropertyOf(*d, property) : nullptr;
    if (value == nullptr)
        return FALSE;
    // Device properties live beside the hardware key, under the same administrators' ACL.
    if (Refused(SimStore::HardwareKeys, KEY_SET_VALUE)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *value = TextOf(buffer, size);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO list, PSP_DEVINFO_DATA data, PWSTR buffer, DWORD units,
                                        PDWORD required)
{
    SimDevice* d = DeviceOf(list, data);
    if (d == nullptr || d->instanceId.empty())
        return FALSE;
    if (required)
        *required = static_cast<DWORD>(d->instanceId.size() + 1);
    if (d->instanceId.size() + 1 > units) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wcscpy(buffer, d->instanceId.c_str());
    return TRUE;
}

// A standard user may open a hardware key for reading only (see SetupDiOpenDevRegKey:
// some samDesired values need the Administrators group).
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD, DWORD, DWORD, REGSAM access)
{
    SimDevice* d = DeviceOf(list, data);
    if (d == nullptr || !d->hasHardwareKey) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    if (Refused(SimStore::HardwareKeys, access)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    H* key = g_sim->NewHandle(H::DeviceKey, static_cast<int>(data->DevInst));
    key->access = access;
    return reinterpret_cast<HKEY>(key);
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoListExW(const GUID*, HWND, PCWSTR, PVOID)
{
    return g_sim->NewHandle(H::List, -1);
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO handle, PCWSTR id, HWND, DWORD, PSP_DEVINFO_DATA data)
{
    H* list = g_sim->Find(handle, H::List);
    for (std::size_t i = 0; list && i < g_sim->devices.size(); ++i) {
        if (g_sim->devices[i].present && !g_sim->devices[i].instanceId.empty() &&
            SameText(g_sim->devices[i].instanceId, id)) {
            list->members.push_back(static_cast<int>(i));
            data->DevInst = static_cast<DWORD>(i);
            return TRUE;
        }
    }
    ::SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO handle, PSP_DEVINFO_DATA, PSP_CLASSINSTALL_HEADER header,
                                          DWORD size)
{
    H* list = g_sim->Find(handle, H::List);
    if (list == nullptr || header == nullptr || size != sizeof(SP_PROPCHANGE_PARAMS) ||
        header->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
        return FALSE;
    std::memcpy(&list->change, header, size);
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    H* list = g_sim->Find(handle, H::List);
    SimDevice* d = DeviceOf(handle, data);
    if (list == nullptr || d == nullptr || function != DIF_PROPERTYCHANGE)
        return FALSE;
    const SP_PROPCHANGE_PARAMS& c = list->change;
    std::string call = c.StateChange == DICS_ENABLE ? "enable" : c.StateChange == DICS_DISABLE ? "disable" : "?";
    call += c.Scope == DICS_FLAG_GLOBAL ? " global" : c.Scope == DICS_FLAG_CONFIGSPECIFIC ? " config" : " ?";
    g_sim->installerCalls.push_back(call);
    if (d->installerFails)
        return FALSE;
    d->enabled = c.StateChange == DICS_ENABLE;
    d->installFlags |= d->flagsAfterInstaller;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO list, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params)
{
    SimDevice* d = DeviceOf(list, data);
    if (d == nullptr || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W))
        return FALSE;
    params->Flags = d->installFlags;
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO list, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params)
{
    SimDevice* d = DeviceOf(list, data);
    if (d == nullptr)
        return FALSE;
    d->installFlags = params->Flags;
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA item)
{
    H* list = g_sim->Find(handle, H::List);
    if (list == nullptr || index >= list->members.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    item->Reserved = static_cast<ULONG_PTR>(list->members[index]);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO, PSP_DEVICE_INTERFACE_DATA item,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                             PDWORD required, PSP_DEVINFO_DATA)
{
    const std::wstring& path = g_sim->controllers[item->Reserved].interfacePath;
    const DWORD bytes = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                           (path.size() + 1) * sizeof(wchar_t));
    if (required)
        *required = bytes;
    if (detail == nullptr || size < bytes || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wcscpy(detail->DevicePath, path.c_str());
    return TRUE;
}

// --- registry

const wchar_t kSerialMapPath[] = L"Hardware\\DeviceMap\\SerialComm";

LSTATUS WINAPI RegOpenKeyExW(HKEY root, LPCWSTR path, DWORD, REGSAM access, PHKEY out)
{
    if (root != HKEY_LOCAL_MACHINE || !SameText(path, kSerialMapPath))
        return ERROR_FILE_NOT_FOUND;
    if (Refused(SimStore::SerialMap, access))
        return ERROR_ACCESS_DENIED;
    H* key = g_sim->NewHandle(H::MapKey, -1);
    key->access = access;
    *out = reinterpret_cast<HKEY>(key);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    H* h = g_sim->Find(key, H::DeviceKey);
    if (h == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!Grants(h, KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const auto& values = g_sim->devices[static_cast<std::size_t>(h->index)].hardwareValues;
    const auto it = values.find(name);
    if (it == values.end())
        return ERROR_FILE_NOT_FOUND;
    const DWORD bytes = static_cast<DWORD>((it->second.size() + 1) * sizeof(wchar_t));
    if (type)
        *type = REG_SZ;
    if (data == nullptr) {
        *size = bytes;
        return ERROR_SUCCESS;
    }
    if (*size < bytes) {
        *size = bytes;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, it->second.c_str(), bytes);
    *size = bytes;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD bytes)
{
    H* h = g_sim->Find(key, H::DeviceKey);
    if (h == nullptr)
        h = g_sim->Find(key, H::MapKey);
    if (h == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!Grants(h, KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (h->kind == H::DeviceKey) {
        g_sim->devices[static_cast<std::size_t>(h->index)].hardwareValues[name] = TextOf(data, bytes);
        return ERROR_SUCCESS;
    }
    for (auto& entry : g_sim->serialMap)
        if (SameText(entry.name, name)) {
            entry.type = type;
            entry.data = TextOf(data, bytes);
            return ERROR_SUCCESS;
        }
    g_sim->serialMap.push_back({name, type, TextOf(data, bytes)});
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameUnits, LPDWORD, LPDWORD type,
                             LPBYTE data, LPDWORD dataBytes)
{
    H* h = g_sim->Find(key, H::MapKey);
    if (h == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!Grants(h, KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (index >= g_sim->serialMap.size())
        return ERROR_NO_MORE_ITEMS;
    const SerialMapEntry& entry = g_sim->serialMap[index];
    const DWORD bytes = static_cast<DWORD>((entry.data.size() + 1) * sizeof(wchar_t));
    if (entry.name.size() + 1 > *nameUnits || bytes > *dataBytes)
        return ERROR_MORE_DATA;
    std::wcscpy(name, entry.name.c_str());
    *nameUnits = static_cast<DWORD>(entry.name.size());
    std::memcpy(data, entry.data.c_str(), bytes);
    *dataBytes = bytes;
    *type = entry.type;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    H* h = g_sim->Find(key, H::DeviceKey);
    if (h == nullptr)
        h = g_sim->Find(key, H::MapKey);
    if (h == nullptr)
        return ERROR_INVALID_HANDLE;
    h->open = false;
    return ERROR_SUCCESS;
}

// --- DOS names, files, device I/O

DWORD WINAPI QueryDosDeviceW(LPCWSTR name, LPWSTR target, DWORD units)
{
    const auto it = g_sim->dosNames.find(name);
    if (it == g_sim->dosNames.end()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (it->second.size() + 2 > units) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wcscpy(target, it->second.c_str());
    target[it->second.size() + 1] = L'\0';
    return static_cast<DWORD>(it->second.size() + 2);
}

BOOL WINAPI DefineDosDeviceW(DWORD flags, LPCWSTR name, LPCWSTR target)
{
    if (flags & DDD_REMOVE_DEFINITION)
        return g_sim->dosNames.erase(name) > 0;
    if (g_sim->undefinable.count(name) || target == nullptr)
        return FALSE;
    g_sim->dosNames[name] = target;
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    std::wstring name = path;
    for (std::size_t i = 0; i < g_sim->controllers.size(); ++i)
        if (!g_sim->controllers[i].interfacePath.empty() && name == g_sim->controllers[i].interfacePath)
            return g_sim->NewHandle(H::Controller, static_cast<int>(i));
    if (name.compare(0, 4, L"\\\\.\\") != 0)
        return INVALID_HANDLE_VALUE;
    name = name.substr(4);
    for (std::size_t i = 0; i < g_sim->controllers.size(); ++i)
        if (g_sim->controllers[i].hcdIndex >= 0 &&
            name == L"HCD" + std::to_wstring(g_sim->controllers[i].hcdIndex))
            return g_sim->NewHandle(H::Controller, static_cast<int>(i));
    for (std::size_t i = 0; i < g_sim->hubs.size(); ++i)
        if (g_sim->hubs[i].name == name && g_sim->hubs[i].opens)
            return g_sim->NewHandle(H::HubDevice, static_cast<int>(i));
    if (g_sim->dosNames.count(name) && !g_sim->heldOpen.count(name))
        return g_sim->NewHandle(H::Port, -1);
    ::SetLastError(g_sim->heldOpen.count(name) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// A name answer: the whole structure's length at `lengthAt`, then as much of the name as fits.
BOOL NameReply(const std::wstring& name, std::size_t lengthAt, std::size_t header, void* out, DWORD size)
{
    if (name.empty() || size < header + sizeof(wchar_t))
        return FALSE;
    const ULONG length = static_cast<ULONG>(header + (name.size() + 1) * sizeof(wchar_t));
    auto* bytes = static_cast<BYTE*>(out);
    std::memcpy(bytes + lengthAt, &length, sizeof length);
    const std::size_t units = std::min<std::size_t>(name.size() + 1, (size - header) / sizeof(wchar_t));
    std::memcpy(bytes + header, name.c_str(), units * sizeof(wchar_t));
    return TRUE;
}

template <typename Info>
void FillConnection(Info* info, const SimUsbPort& port)
{
    info->DeviceDescriptor.bLength = sizeof(USB_DEVICE_DESCRIPTOR);
    info->DeviceDescriptor.idVendor = port.vendorId;
    info->DeviceDescriptor.idProduct = port.productId;
    info->DeviceIsHub = port.isHub;
    info->ConnectionStatus = port.connected ? DeviceConnected : NoDeviceConnected;
}

BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD, LPVOID out, DWORD size, LPDWORD returned,
                            LPOVERLAPPED)
{
    if (returned)
        *returned = 0;
    if (H* h = g_sim->Find(handle, H::Controller)) {
        const SimController& c = g_sim->controllers[static_cast<std::size_t>(h->index)];
        if (code == IOCTL_GET_HCD_DRIVERKEY_NAME)
            return NameReply(c.driverKey, 0, sizeof(ULONG), out, size);
        if (code == IOCTL_USB_GET_ROOT_HUB_NAME)
            return NameReply(c.rootHub, 0, sizeof(ULONG), out, size);
        return FALSE;
    }
    H* h = g_sim->Find(handle, H::HubDevice);
    if (h == nullptr)
        return FALSE;
    const SimHub& hub = g_sim->hubs[static_cast<std::size_t>(h->index)];
    if (code == IOCTL_USB_GET_HUB_CAPABILITIES)
        return size >= sizeof(USB_HUB_CAPABILITIES);
    if (code == IOCTL_USB_GET_NODE_INFORMATION) {
        if (hub.nodeInfoFails || size < sizeof(USB_NODE_INFORMATION))
            return FALSE;
        auto* node = static_cast<USB_NODE_INFORMATION*>(out);
        node->NodeType = UsbHub;
        node->u.HubInformation.HubDescriptor.bNumberOfPorts = static_cast<UCHAR>(hub.ports.size());
        return TRUE;
    }
    ULONG index = 0;
    std::memcpy(&index, in, sizeof index);
    if (index == 0 || index > hub.ports.size())
        return FALSE;
    const SimUsbPort& port = hub.ports[index - 1];
    switch (code) {
    case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX:
        if (port.extendedFails || port.bothFail || size < 365)
            return FALSE;
        FillConnection(static_cast<USB_NODE_CONNECTION_INFORMATION_EX*>(out), port);
        return TRUE;
    case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
        if (port.bothFail || size < 365)
            return FALSE;
        FillConnection(static_cast<USB_NODE_CONNECTION_INFORMATION*>(out), port);
        return TRUE;
    case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME:
        return port.connected && NameReply(port.driverKey, sizeof(ULONG), 2 * sizeof(ULONG), out, size);
    case IOCTL_USB_GET_NODE_CONNECTION_NAME:
        return port.isHub && NameReply(port.hubName, sizeof(ULONG), 2 * sizeof(ULONG), out, size);
    default:
        return FALSE;
    }
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    for (auto kind : {H::Port, H::Controller, H::HubDevice})
        if (H* h = g_sim->Find(handle, kind)) {
            h->open = false;
            return TRUE;
        }
    return FALSE;
}

// --- the port database library

// ComDBOpen asks for write access to the database: ERROR_ACCESS_DENIED is its one failure.
LONG WINAPI DbOpen(HANDLE* db)
{
    if (g_sim->writable.count(SimStore::PortDatabase) == 0) {
        *db = INVALID_HANDLE_VALUE;
        return ERROR_ACCESS_DENIED;
    }
    *db = g_sim->NewHandle(H::Database, -1);
    return ERROR_SUCCESS;
}

LONG WINAPI DbClose(HANDLE db)
{
    H* h = g_sim->Find(db, H::Database);
    if (h == nullptr) {
        ++g_sim->databaseCallsWhileClosed;
        return ERROR_INVALID_PARAMETER;
    }
    h->open = false;
    return ERROR_SUCCESS;
}

LONG WINAPI DbClaim(HANDLE db, DWORD number, BOOL, BOOL*)
{
    if (g_sim->Find(db, H::Database) == nullptr) {
        ++g_sim->databaseCallsWhileClosed;
        return ERROR_INVALID_PARAMETER;
    }
    g_sim->claimedPorts.insert(number);
    return ERROR_SUCCESS;
}

LONG WINAPI DbRelease(HANDLE db, DWORD number)
{
    if (g_sim->Find(db, H::Database) == nullptr) {
        ++g_sim->databaseCallsWhileClosed;
        return ERROR_INVALID_PARAMETER;
    }
    g_sim->claimedPorts.erase(number);
    return ERROR_SUCCESS;
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE, DWORD flags)
{
    // Only from the system directory, and only the library we know.
    if (g_sim->msportsMissing || !SameText(name, L"msports.dll") || flags != LOAD_LIBRARY_SEARCH_SYSTEM32)
        return nullptr;
    return reinterpret_cast<HMODULE>(g_sim->NewHandle(H::Library, -1));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    if (g_sim->Find(module, H::Library) == nullptr || g_sim->missingExports.count(name))
        return nullptr;
    const std::string n = name;
    void* fn = n == "ComDBOpen" ? reinterpret_cast<void*>(DbOpen)
             : n == "ComDBClose" ? reinterpret_cast<void*>(DbClose)
             : n == "ComDBClaimPort" ? reinterpret_cast<void*>(DbClaim)
             : n == "ComDBReleasePort" ? reinterpret_cast<void*>(DbRelease) : nullptr;
    return reinterpret_cast<FARPROC>(fn);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    H* h = g_sim->Find(module, H::Library);
    if (h == nullptr)
        return FALSE;
    h->open = false;
    return TRUE;
}

void WINAPI OutputDebugStringA(LPCSTR line)
{
    g_sim->debugLines.push_back(line);
}

} // namespace sim

// The machine's own version of every call of the seam: one missing does not compile.
const PortSysCalls kSimCalls = {
#define SIM_CALL(name) sim::name,
    PORT_SYS_CALLS(SIM_CALL)
#undef SIM_CALL
};

} // namespace

SimMachine::SimMachine() : m_swap(kSimCalls), m_previous(sim::g_sim) { sim::g_sim = this; }

SimMachine::~SimMachine() { sim::g_sim = m_previous; }

SimDevice& SimMachine::AddPort(const std::wstring& description, const std::wstring& friendlyName,
                               const std::wstring& portName, const std::wstring& driverKey,
                               const std::wstring& instanceId)
{
    SimDevice d;
    d.description = description;
    if (!friendlyName.empty())
        d.friendlyName = friendlyName;
    if (!portName.empty())
        d.hardwareValues[L"PortName"] = portName;
    const std::wstring number = std::to_wstring(devices.size());
    d.driverKey = driverKey.empty() ? L"{4d36e978-e325-11ce-bfc1-08002be10318}\\000" + number : driverKey;
    d.instanceId = instanceId.empty() ? L"USB\\VID_079B&PID_0028\\5&1234&0&" + number : instanceId;
    devices.push_back(d);
    return devices.back();
}

void SimMachine::Elevate()
{
    writable = {SimStore::HardwareKeys, SimStore::SerialMap, SimStore::PortDatabase};
}

SimHub& SimMachine::AddHub(const std::wstring& name, std::size_t ports)
{
    hubs.push_back(SimHub{name, std::vector<SimUsbPort>(ports), true, false});
    for (auto& port : hubs.back().ports)
        port.connected = false;
    return hubs.back();
}

int SimMachine::OpenHandles() const
{
    return static_cast<int>(std::count_if(m_handles.begin(), m_handles.end(),
                                          [](const Handle& h) { return h.open; }));
}

SimMachine::Handle* SimMachine::NewHandle(Handle::Kind kind, int index)
{
    m_handles.push_back(Handle{kind, index, true, 0, {}, {}});
    return &m_handles.back();
}

SimMachine::Handle* SimMachine::Find(const void* handle, Handle::Kind kind)
{
    for (auto& h : m_handles)
        if (&h == handle && h.kind == kind && h.open)
            return &h;
    return nullptr;
}
