// Reading a device's properties and its hardware key value "PortName".
#pragma once
#include <windows.h>
#include <setupapi.h>

#include <string>

// Reads a text property into a buffer of `bufferBytes`; on failure (a longer value
// included) `text` keeps what it held.
bool ReadPropertyFixed(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property,
                       DWORD bufferBytes, std::wstring& text);

// Reads a text property whatever its length.
bool ReadPropertyGrowing(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property,
                         std::wstring& text);

// The device's hardware key, opened for reading only: a standard user may not write it.
// INVALID_HANDLE_VALUE (as a key) when it cannot be opened.
HKEY OpenHardwareKey(HDEVINFO list, SP_DEVINFO_DATA& device);

// The same key opened to set values too; refused (ERROR_ACCESS_DENIED) without elevation.
HKEY OpenHardwareKeyToWrite(HDEVINFO list, SP_DEVINFO_DATA& device);

// The text value `name` of an open key, whatever its length.
bool ReadTextValue(HKEY key, const wchar_t* name, std::wstring& text);

// A text up to its first terminator from a buffer of `bytes` bytes.
std::wstring TextOfBytes(const BYTE* data, DWORD bytes);
