#include "DeviceProps.h"

#include <vector>

#include "PortSeam.h"

namespace {
// A property or value larger than this is not a text we read: it ends the growing reads.
constexpr DWORD kLargestText = 64 * 1024;
} // namespace

std::wstring TextOfBytes(const BYTE* data, DWORD bytes)
{
    const std::size_t units = bytes / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}

bool ReadPropertyFixed(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property,
                       DWORD bufferBytes, std::wstring& text)
{
    std::vector<BYTE> buffer(bufferBytes, 0);
    DWORD type = 0;
    if (!Sys().SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type, buffer.data(),
                                                 bufferBytes, nullptr))
        return false;
    text = TextOfBytes(buffer.data(), bufferBytes);
    return true;
}

bool ReadPropertyGrowing(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property,
                         std::wstring& text)
{
    DWORD required = 0;
    DWORD type = 0;
    if (Sys().SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type, nullptr, 0,
                                                &required)) {
        text.clear(); // an empty value
        return true;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (Sys().GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0 ||
            required > kLargestText)
            return false;
        // Twice the reported size, zero-filled: room for a terminator the value lacks.
        std::vector<BYTE> buffer(static_cast<std::size_t>(required) * 2, 0);
        const DWORD size = static_cast<DWORD>(buffer.size());
        if (Sys().SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type,
                                                    buffer.data(), size, &required)) {
            text = TextOfBytes(buffer.data(), size);
            return true;
        }
    }
    return false;
}

HKEY OpenHardwareKey(HDEVINFO list, SP_DEVINFO_DATA& device)
{
    return Sys().SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
}

HKEY OpenHardwareKeyToWrite(HDEVINFO list, SP_DEVINFO_DATA& device)
{
    return Sys().SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                      KEY_READ | KEY_SET_VALUE);
}

bool ReadTextValue(HKEY key, const wchar_t* name, std::wstring& text)
{
    DWORD size = 64;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<BYTE> buffer(size + sizeof(wchar_t), 0);
        DWORD type = 0;
        DWORD got = size;
        const LONG status = Sys().RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &got);
        if (status == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ)
                return false;
            text = TextOfBytes(buffer.data(), got < size ? got : size);
            return true;
        }
        if (status != ERROR_MORE_DATA || got <= size || got > kLargestText)
            return false;
        size = got;
    }
    return false;
}
