// The machine's COM ports as the "Ports" setup class lists them, and switching the device
// behind one of them on or off.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Tessock.h"

// Fills at most `capacity` rows; 1 when the class's list was walked, 0 otherwise.
unsigned char ListPorts(PortEntry* entries, int capacity, std::int32_t* count, DWORD property);

// Appends "DESCRIPTION|NUMBER|" per port to the text in `out`.
unsigned char AppendPortTexts(char* out, std::int32_t size);

// Enables (global, then config-specific) or disables (config-specific) the device of COMn.
unsigned char SetPortDeviceState(std::int32_t portNumber, bool enable);
