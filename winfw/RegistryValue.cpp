#include "RegistryValue.h"

#include "OsSeam.h"

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
