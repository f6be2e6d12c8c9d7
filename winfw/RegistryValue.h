// Keys of the machine opened through the OS seam, and the values written under them: the
// machine's record and the event source's registration open and write theirs the same way.
#pragma once
#include <windows.h>

#include <string>

// Owns an open registry key and closes it through the seam.
class ScopedRegistryKey {
public:
    ScopedRegistryKey() = default;
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    PHKEY Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Opens HKLM\`path` for setting values, created when missing, in the 64-bit view whoever
// built the program; Windows' answer.
LSTATUS CreateMachineKey(const std::wstring& path, ScopedRegistryKey& key);

// A REG_SZ value, its terminating null counted as the registry wants; false when refused.
bool SetTextValue(HKEY key, const wchar_t* name, const std::wstring& text);
// A REG_DWORD value; false when refused.
bool SetNumberValue(HKEY key, const wchar_t* name, DWORD value);
