// The one table through which the port library reaches the operating system: device
// lists, the configuration of devices, the registry, DOS device names, files and device
// I/O, library loading (for the COM port database), the thread's last error and
// diagnostic lines. Production binds the real Win32 calls; tests swap in a simulated
// machine. Code above the seam calls Sys().X(...) as it would call X(...).
#pragma once
#include <windows.h>
#include <setupapi.h>

// Every call of the seam, once: its table entry and its real binding are both made from
// this list, so an entry cannot lack the real call.
#define PORT_SYS_CALLS(X)                                                                    \
    /* Device lists and device properties. */                                                \
    X(SetupDiGetClassDevsW) X(SetupDiEnumDeviceInfo) X(SetupDiDestroyDeviceInfoList)         \
    X(SetupDiGetDeviceRegistryPropertyW) X(SetupDiSetDeviceRegistryPropertyW)                \
    X(SetupDiGetDeviceInstanceIdW) X(SetupDiOpenDevRegKey) X(SetupDiCreateDeviceInfoListExW) \
    X(SetupDiOpenDeviceInfoW) X(SetupDiSetClassInstallParamsW) X(SetupDiCallClassInstaller)  \
    X(SetupDiGetDeviceInstallParamsW) X(SetupDiSetDeviceInstallParamsW)                      \
    X(SetupDiEnumDeviceInterfaces) X(SetupDiGetDeviceInterfaceDetailW)                       \
    /* Registry. */                                                                          \
    X(RegOpenKeyExW) X(RegQueryValueExW) X(RegSetValueExW) X(RegEnumValueW) X(RegCloseKey)   \
    /* DOS device names, files and device I/O. */                                            \
    X(QueryDosDeviceW) X(DefineDosDeviceW) X(CreateFileW) X(DeviceIoControl) X(CloseHandle)  \
    /* Libraries bound at run time (the COM port database lives in one). */                  \
    X(LoadLibraryExW) X(GetProcAddress) X(FreeLibrary)                                       \
    /* The error the calls above left, and the one an export leaves its caller. */           \
    X(GetLastError) X(SetLastError)                                                          \
    /* Diagnostic lines (a refused change says why). */                                      \
    X(OutputDebugStringA)

struct PortSysCalls {
#define PORT_SYS_ENTRY(name) decltype(&::name) name;
    PORT_SYS_CALLS(PORT_SYS_ENTRY)
#undef PORT_SYS_ENTRY
};

// The table in force.
PortSysCalls& Sys();

// Swaps a table in for the lifetime of the object, then restores the previous one.
class ScopedPortSysCalls {
public:
    explicit ScopedPortSysCalls(const PortSysCalls& calls);
    ~ScopedPortSysCalls();
    ScopedPortSysCalls(const ScopedPortSysCalls&) = delete;
    ScopedPortSysCalls& operator=(const ScopedPortSysCalls&) = delete;

private:
    PortSysCalls m_saved;
};
