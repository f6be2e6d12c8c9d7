#include "PortText.h"

#include <cwchar>

namespace {
constexpr int kNumberCap = 1000000;
} // namespace

bool CopyBounded(const std::wstring& text, wchar_t* out, std::size_t capacity)
{
    if (out == nullptr || text.size() + 1 > capacity)
        return false;
    text.copy(out, text.size());
    out[text.size()] = L'\0';
    return true;
}

bool CopyBounded(const std::string& text, char* out, std::size_t capacity)
{
    if (out == nullptr || text.size() + 1 > capacity)
        return false;
    text.copy(out, text.size());
    out[text.size()] = '\0';
    return true;
}

std::string NarrowLatin1(const std::wstring& text)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t unit : text) {
        if (static_cast<unsigned>(unit) > 0xFF)
            return std::string();
        narrow.push_back(static_cast<char>(static_cast<unsigned char>(unit)));
    }
    return narrow;
}

std::wstring WidenLatin1(const std::string& text)
{
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

int DigitsAt(const std::wstring& text, std::size_t from)
{
    int number = 0;
    for (std::size_t i = from; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        number = number * 10 + (text[i] - L'0');
        if (number >= kNumberCap)
            return kNumberCap;
    }
    return number;
}

int PortNumberOfFriendlyName(const std::wstring& friendlyName)
{
    const std::size_t at = friendlyName.find(L"(COM");
    return at == std::wstring::npos ? 0 : DigitsAt(friendlyName, at + 4);
}

int PortNumberOfPortName(const std::wstring& portName)
{
    if (portName.compare(0, 3, L"COM") != 0 || portName.size() < 4 || portName[3] < L'0' ||
        portName[3] > L'9')
        return -1;
    return DigitsAt(portName, 3);
}

std::wstring PortNameOfNumber(int number) { return L"COM" + std::to_wstring(number); }

std::wstring TerminatedText(const wchar_t* text, std::size_t capacity)
{
    if (text == nullptr)
        return std::wstring();
    std::size_t length = 0;
    while (length < capacity && text[length] != L'\0')
        ++length;
    return std::wstring(text, length);
}
