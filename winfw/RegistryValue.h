// Keys of the machine opened through the OS seam, and the values written under them: the
// machine's record and the event source's registration open and write theirs the same way.
#pragma once
#include <windows.h>

#include <string>

#include "Handle.h"

// An open registry key, closed through the seam.
struct RegistryKey : NullIsEmpty<HKEY> {
    static void Close(HKEY key) { Os().RegCloseKey(key); }
};
using ScopedRegistryKey = Owned<HKEY, RegistryKey>;

// Opens HKLM\`path` for setting values, created when missing, in the 64-bit view whoever
// built the program; Windows' answer.
LSTATUS CreateMachineKey(const std::wstring& path, ScopedRegistryKey& key);

// A REG_SZ value, its terminating null counted as the registry wants; false when refused.
bool SetTextValue(HKEY key, const wchar_t* name, const std::wstring& text);
// A REG_DWORD value; false when refused.
bool SetNumberValue(HKEY key, const wchar_t* name, DWORD value);
