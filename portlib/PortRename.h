// Moving one device to a new COM name in every place the system records it.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include <string>

enum class RenameOutcome { Attempted, Refused };

// `oldName` is the device's current "PortName". Write access to every record is obtained
// before the first change: when one is refused (no elevation) a line says which and
// nothing changes. Past that, only the DOS name is undone when a step fails; the other
// records are changed one by one.
RenameOutcome ChangeDevicePortName(HDEVINFO list, SP_DEVINFO_DATA& device,
                                   const std::wstring& oldName, unsigned newNumber);
