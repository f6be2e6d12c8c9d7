#include "PortSeam.h"

namespace {

const PortSysCalls kReal = {
    ::SetupDiGetClassDevsW,
    ::SetupDiEnumDeviceInfo,
    ::SetupDiDestroyDeviceInfoList,
    ::SetupDiGetDeviceRegistryPropertyW,
    ::SetupDiSetDeviceRegistryPropertyW,
    ::SetupDiGetDeviceInstanceIdW,
    ::SetupDiOpenDevRegKey,
    ::SetupDiCreateDeviceInfoListExW,
    ::SetupDiOpenDeviceInfoW,
    ::SetupDiSetClassInstallParamsW,
    ::SetupDiCallClassInstaller,
    ::SetupDiGetDeviceInstallParamsW,
    ::SetupDiSetDeviceInstallParamsW,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailW,
    ::RegOpenKeyExW,
    ::RegQueryValueExW,
    ::RegSetValueExW,
    ::RegEnumValueW,
    ::RegCloseKey,
    ::QueryDosDeviceW,
    ::DefineDosDeviceW,
    ::CreateFileW,
    ::DeviceIoControl,
    ::CloseHandle,
    ::LoadLibraryExW,
    ::GetProcAddress,
    ::FreeLibrary,
    ::OutputDebugStringA,
};

PortSysCalls g_current = kReal;

} // namespace

PortSysCalls& Sys() { return g_current; }

const PortSysCalls& RealPortSysCalls() { return kReal; }

ScopedPortSysCalls::ScopedPortSysCalls(const PortSysCalls& calls) : m_saved(g_current)
{
    g_current = calls;
}

ScopedPortSysCalls::~ScopedPortSysCalls() { g_current = m_saved; }
