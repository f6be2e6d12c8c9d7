// Moving one device to a new COM name in every place the system records it.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include <string>

// `hardwareKey` is the device's open hardware key, `oldName` its current "PortName".
// Only the DOS name is undone when a step fails; the other records are changed one by one.
void ChangeDevicePortName(HDEVINFO list, SP_DEVINFO_DATA& device, HKEY hardwareKey,
                          const std::wstring& oldName, unsigned newNumber);
