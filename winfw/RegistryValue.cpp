#include "RegistryValue.h"

#include "OsSeam.h"

LSTATUS CreateMachineKey(const std::wstring& path, ScopedRegistryKey& key)
{
    return Os().RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                key.Receive(), nullptr);
}

bool SetTextValue(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return Os().RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               bytes) == ERROR_SUCCESS;
}

bool SetNumberValue(HKEY key, const wchar_t* name, DWORD value)
{
    return Os().RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS;
}
