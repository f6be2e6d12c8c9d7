// The one table through which the port library reaches the operating system: device
// lists, the configuration of devices, the registry, DOS device names, files and device
// I/O, library loading (for the COM port database) and diagnostic lines. Production binds
// the real Win32 calls; tests swap in a simulated machine. Code above the seam calls
// Sys().X(...) as it would call X(...).
#pragma once
#include <windows.h>
#include <setupapi.h>

struct PortSysCalls {
    // Device lists and device properties.
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) SetupDiGetDeviceRegistryPropertyW;
    decltype(&::SetupDiSetDeviceRegistryPropertyW) SetupDiSetDeviceRegistryPropertyW;
    decltype(&::SetupDiGetDeviceInstanceIdW) SetupDiGetDeviceInstanceIdW;
    decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
    decltype(&::SetupDiCreateDeviceInfoListExW) SetupDiCreateDeviceInfoListExW;
    decltype(&::SetupDiOpenDeviceInfoW) SetupDiOpenDeviceInfoW;
    decltype(&::SetupDiSetClassInstallParamsW) SetupDiSetClassInstallParamsW;
    decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller;
    decltype(&::SetupDiGetDeviceInstallParamsW) SetupDiGetDeviceInstallParamsW;
    decltype(&::SetupDiSetDeviceInstallParamsW) SetupDiSetDeviceInstallParamsW;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;

    // Registry.
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegEnumValueW) RegEnumValueW;
    decltype(&::RegCloseKey) RegCloseKey;

    // DOS device names, files and device I/O.
    decltype(&::QueryDosDeviceW) QueryDosDeviceW;
    decltype(&::DefineDosDeviceW) DefineDosDeviceW;
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::DeviceIoControl) DeviceIoControl;
    decltype(&::CloseHandle) CloseHandle;

    // Libraries bound at run time (the COM port database lives in one).
    decltype(&::LoadLibraryExW) LoadLibraryExW;
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::FreeLibrary) FreeLibrary;

    // Diagnostic lines (a refused change says why).
    decltype(&::OutputDebugStringA) OutputDebugStringA;
};

// The table in force.
PortSysCalls& Sys();

// The real Win32 binding.
const PortSysCalls& RealPortSysCalls();

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
