// The technician's view of what the updater sees through the port library: the port list
// and the USB position of one port. The library is loaded by name, as the updater does.
#pragma once
#include <string>

#include "ExitCodes.h"

// "ports": one line per listed port, DESCRIPTION<TAB>NUMBER<TAB>INSTANCEID.
ExitStatus RunPorts();

// "usb PORT": one line DRIVERKEY<TAB>HUB<TAB>PORT; ExitStatus::Failed when the lookup fails.
ExitStatus RunUsb(const std::string& portText);
