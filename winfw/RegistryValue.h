// Values written under a key opened through the OS seam: the machine's record and the event
// source's registration write theirs the same way.
#pragma once
#include <windows.h>

#include <string>

// A REG_SZ value, its terminating null counted as the registry wants; false when refused.
bool SetTextValue(HKEY key, const wchar_t* name, const std::wstring& text);
// A REG_DWORD value; false when refused.
bool SetNumberValue(HKEY key, const wchar_t* name, DWORD value);
