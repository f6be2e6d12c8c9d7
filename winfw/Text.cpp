#include "Text.h"

#include <windows.h>

#include <vector>

namespace {

std::string Convert(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    const int length = static_cast<int>(text.size());
    const int wide = ::MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return text;
    std::vector<wchar_t> w(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(from, 0, text.data(), length, w.data(), wide);
    const int bytes = ::WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(to, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text, UINT from)
{
    if (text.empty())
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int wide = ::MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(from, 0, text.data(), length, &out[0], wide);
    return out;
}

} // namespace

std::string AnsiToUtf8(const std::string& text) { return Convert(text, CP_ACP, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& text) { return Convert(text, CP_UTF8, CP_ACP); }

std::wstring Utf8ToWide(const std::string& text) { return Widen(text, CP_UTF8); }

std::wstring AnsiToWide(const std::string& text) { return Widen(text, CP_ACP); }

std::string WideToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr,
                                            nullptr);
    if (bytes <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}
