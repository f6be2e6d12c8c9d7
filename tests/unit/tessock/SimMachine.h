// A simulated machine for the port library's OS seam: devices of setup classes with their
// properties and hardware-key values, the serial-port map, the COM port database, DOS
// names and ports held open, and a USB tree of host controllers, hubs and ports.
// Every handle the library gets is counted, so a test can tell that all were released.
// Like a standard user's process (UAC filters even an administrator's token), the machine
// grants read access only until a test makes a store writable.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PortSeam.h"

extern const GUID kPortsClassGuid;
extern const GUID kUsbClassGuid;

struct SimDevice {
    GUID classGuid = kPortsClassGuid;
    bool present = true;
    std::optional<std::wstring> description;
    std::optional<std::wstring> friendlyName;
    std::optional<std::wstring> driverKey;
    std::optional<std::wstring> location;
    std::wstring instanceId;
    bool hasHardwareKey = true;
    std::map<std::wstring, std::wstring> hardwareValues;

    // What the class installer does and leaves behind.
    bool installerFails = false;
    DWORD flagsAfterInstaller = 0;  // e.g. DI_NEEDRESTART
    DWORD installFlags = 0;
    bool enabled = true;
};

struct SimUsbPort {
    bool connected = true;
    USHORT vendorId = 0x079B;
    USHORT productId = 0x0028;
    bool isHub = false;
    std::wstring hubName;        // of the hub plugged in here
    std::wstring driverKey;      // empty: the key cannot be read
    bool extendedFails = false;  // only the older connection request answers
    bool bothFail = false;
};

struct SimHub {
    std::wstring name;
    std::vector<SimUsbPort> ports;
    bool opens = true;
    bool nodeInfoFails = false;
};

struct SimController {
    std::wstring driverKey;      // empty: the controller has none
    std::wstring rootHub;
    int hcdIndex = -1;           // reachable as \\.\HCDn when 0..9
    std::wstring interfacePath;  // reachable through the interface list when set
};

struct SerialMapEntry {
    std::wstring name;
    DWORD type;
    std::wstring data;
};

// What a standard user may read but not write.
enum class SimStore { HardwareKeys, SerialMap, PortDatabase };

class SimMachine {
public:
    SimMachine();
    ~SimMachine();
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // A present Ports-class device; "PortName" set when `portName` is not empty. Devices
    // and hubs live in deques: references stay valid as more are added.
    SimDevice& AddPort(const std::wstring& description, const std::wstring& friendlyName,
                       const std::wstring& portName, const std::wstring& driverKey = L"",
                       const std::wstring& instanceId = L"");
    SimHub& AddHub(const std::wstring& name, std::size_t ports);

    // Handles of any kind the library has not released.
    int OpenHandles() const;

    // Every store writable, as for an elevated process.
    void Elevate();
    std::set<SimStore> writable;
    std::vector<std::string> debugLines;

    std::deque<SimDevice> devices;
    bool classListFails = false;
    int enumerationFailsAt = -1;  // index at which enumeration ends on an error

    std::vector<SerialMapEntry> serialMap;
    std::map<std::wstring, std::wstring> dosNames;
    std::set<std::wstring> heldOpen;
    std::set<std::wstring> undefinable;  // DOS names that cannot be defined

    bool msportsMissing = false;
    std::set<std::string> missingExports;
    std::set<DWORD> claimedPorts;
    int databaseCallsWhileClosed = 0;

    std::vector<SimController> controllers;
    std::deque<SimHub> hubs;

    std::vector<std::string> installerCalls;  // "enable global", "disable config", ...

    // The seam's handle table; public for the seam functions.
    struct Handle {
        enum Kind { List, DeviceKey, MapKey, Port, Controller, HubDevice, Library, Database } kind;
        int index = -1;
        bool open = true;
        REGSAM access = 0;         // what a registry key was opened for
        std::vector<int> members;  // a device list's devices or controllers
        SP_PROPCHANGE_PARAMS change = {};
    };
    Handle* NewHandle(Handle::Kind kind, int index);
    Handle* Find(const void* handle, Handle::Kind kind);

private:
    std::deque<Handle> m_handles;
    ScopedPortSysCalls m_swap;
    SimMachine* m_previous;
};
