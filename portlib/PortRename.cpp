#include "PortRename.h"

#include <cstdio>
#include <vector>

#include "DeviceProps.h"
#include "PortDatabase.h"
#include "PortSeam.h"
#include "PortText.h"
#include "Resources.h"

namespace {

constexpr DWORD kTargetUnits = 80;
constexpr DWORD kDescriptionBytes = 512;
constexpr std::size_t kFriendlyNameUnits = 81;
constexpr DWORD kMapNameUnits = 81;
constexpr DWORD kMapDataBytes = 162;
constexpr std::size_t kLogLineBytes = 255;
const wchar_t kSerialMap[] = L"Hardware\\DeviceMap\\SerialComm";

// The DOS device target of `name`; false when the name is not defined.
bool QueryTarget(const std::wstring& name, std::wstring& target)
{
    wchar_t buffer[kTargetUnits] = {};
    if (Sys().QueryDosDeviceW(name.c_str(), buffer, kTargetUnits) == 0)
        return false;
    target = TerminatedText(buffer, kTargetUnits);
    return true;
}

// A port that some program holds open cannot be opened again.
bool PortIsFree(const std::wstring& name)
{
    FileHandle port(Sys().CreateFileW((L"\\\\.\\" + name).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return port.IsOpen();
}

// Moves the DOS name; when the new one cannot be defined the old one is put back.
bool MoveDosName(const std::wstring& oldName, const std::wstring& newName)
{
    std::wstring target;
    if (!QueryTarget(oldName, target))
        return false;
    const bool removed =
        Sys().DefineDosDeviceW(DDD_REMOVE_DEFINITION, oldName.c_str(), nullptr) != FALSE;
    if (Sys().DefineDosDeviceW(DDD_RAW_TARGET_PATH, newName.c_str(), target.c_str()))
        return true;
    if (removed)
        Sys().DefineDosDeviceW(DDD_RAW_TARGET_PATH, oldName.c_str(), target.c_str());
    return false;
}

LONG SetText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    return Sys().RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The first text entry of the serial-port map that names the old port gets the new name.
void RenameInSerialMap(HKEY map, const std::wstring& oldName, const std::wstring& newName)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMapNameUnits] = {};
        BYTE data[kMapDataBytes + sizeof(wchar_t)] = {};
        DWORD nameUnits = kMapNameUnits;
        DWORD dataBytes = kMapDataBytes;
        DWORD type = 0;
        const LONG status =
            Sys().RegEnumValueW(map, index, name, &nameUnits, nullptr, &type, data, &dataBytes);
        // An entry too long for the buffers cannot be ours; the ones after it still can.
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return;
        if (type != REG_SZ)
            continue;
        if (TextOfBytes(data, dataBytes) == oldName) {
            SetText(map, TerminatedText(name, kMapNameUnits).c_str(), newName);
            return;
        }
    }
}

// "DESCRIPTION (COMn)" within 81 units: a long description is cut, never the port name,
// which the port listing reads back.
std::wstring FriendlyNameOf(HDEVINFO list, SP_DEVINFO_DATA& device, const std::wstring& newName)
{
    std::wstring description;
    if (!ReadPropertyFixed(list, device, SPDRP_DEVICEDESC, kDescriptionBytes, description))
        return newName;
    const std::wstring suffix = L" (" + newName + L")";
    const std::size_t room = kFriendlyNameUnits - 1;
    if (description.size() + suffix.size() > room)
        description.resize(suffix.size() < room ? room - suffix.size() : 0);
    return description + suffix;
}

void MarkPropertiesChanged(HDEVINFO list, SP_DEVINFO_DATA& device)
{
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof params;
    if (Sys().SetupDiGetDeviceInstallParamsW(list, &device, &params)) {
        params.Flags |= DI_PROPERTIES_CHANGE;
        Sys().SetupDiSetDeviceInstallParamsW(list, &device, &params);
    }
}

// A record we may not write: the change stops before it starts, and says why.
RenameOutcome Refuse(const std::wstring& oldName, const std::wstring& newName, const char* record)
{
    char line[kLogLineBytes] = {};
    std::snprintf(line, sizeof line, "Changement de %s en %s refuse : ecriture non autorisee (%s)",
                  NarrowLatin1(oldName).c_str(), NarrowLatin1(newName).c_str(), record);
    Sys().OutputDebugStringA(line);
    return RenameOutcome::Refused;
}

} // namespace

RenameOutcome ChangeDevicePortName(HDEVINFO list, SP_DEVINFO_DATA& device,
                                   const std::wstring& oldName, unsigned newNumber)
{
    const int oldNumber = DigitsAt(oldName, 3);
    const std::wstring newName = PortNameOfNumber(static_cast<int>(newNumber));

    // Every record is opened for writing before the first one changes: a standard user is
    // refused all of them, and a half-moved port would be worse than an unmoved one.
    RegKey hardwareKey(OpenHardwareKeyToWrite(list, device));
    if (!hardwareKey.IsOpen()) {
        if (Sys().GetLastError() == ERROR_ACCESS_DENIED)
            return Refuse(oldName, newName, "cle materielle");
        return RenameOutcome::Attempted;
    }
    RegKey map;
    // A machine without the map still has the other records to move.
    if (Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialMap, 0, KEY_READ | KEY_WRITE,
                            map.Out()) == ERROR_ACCESS_DENIED)
        return Refuse(oldName, newName, "table des ports serie");
    PortDatabase database;
    if (database.Refused())
        return Refuse(oldName, newName, "base des ports COM");

    std::wstring target;
    const bool dosNameDefined = QueryTarget(oldName, target);
    if (dosNameDefined && !PortIsFree(oldName))
        return RenameOutcome::Attempted;
    if (dosNameDefined && !MoveDosName(oldName, newName))
        return RenameOutcome::Attempted;

    if (map.IsOpen())
        RenameInSerialMap(map.Get(), oldName, newName);
    database.Release(static_cast<DWORD>(oldNumber));
    database.Claim(newNumber);

    const std::wstring friendlyName = FriendlyNameOf(list, device, newName);
    Sys().SetupDiSetDeviceRegistryPropertyW(
        list, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendlyName.c_str()),
        static_cast<DWORD>((friendlyName.size() + 1) * sizeof(wchar_t)));
    SetText(hardwareKey.Get(), L"PortName", newName);
    MarkPropertiesChanged(list, device);
    return RenameOutcome::Attempted;
}
