#include "Text.h"

#include <windows.h>

namespace {

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

std::string Narrow(const std::wstring& text, UINT to)
{
    if (text.empty())
        return std::string();
    const int units = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(to, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(to, 0, text.data(), units, &out[0], bytes, nullptr, nullptr);
    return out;
}

// WideCharToMultiByte's page: UTF-8 takes no best-fit flag and no default character (the
// call fails with them); WC_ERR_INVALID_CHARS refuses a lone surrogate instead of writing
// U+FFFD. Other code pages report through the used-default flag what they could not map.
bool NarrowExactly(const std::wstring& text, UINT to, const char* shownDefault, std::string& out)
{
    out.clear();
    if (text.empty())
        return true;
    const bool utf8 = to == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int units = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const char* defaultChar = utf8 ? nullptr : shownDefault;
    const int bytes =
        ::WideCharToMultiByte(to, flags, text.data(), units, nullptr, 0, defaultChar, used);
    if (bytes <= 0)
        return false;
    out.assign(static_cast<std::size_t>(bytes), '\0');
    if (::WideCharToMultiByte(to, flags, text.data(), units, &out[0], bytes, defaultChar,
                              used) != bytes) {
        out.clear();
        return false;
    }
    return usedDefault == FALSE;
}

// A text the code pages cannot carry comes back as it was given.
std::string Convert(const std::string& text, UINT from, UINT to)
{
    const std::wstring wide = Widen(text, from);
    if (wide.empty())
        return text;
    std::string out;
    if (to == CP_ACP)
        return WideToAnsi(wide, out) && !out.empty() ? out : text;
    out = Narrow(wide, to);
    return out.empty() ? text : out;
}

} // namespace

std::string WideToUtf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

std::string Latin1ToUtf8(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return WideToUtf8(wide);
}

std::string AnsiToUtf8(const std::string& text) { return Convert(text, CP_ACP, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& text) { return Convert(text, CP_UTF8, CP_ACP); }

std::wstring Utf8ToWide(const std::string& text) { return Widen(text, CP_UTF8); }

std::wstring AnsiToWide(const std::string& text) { return Widen(text, CP_ACP); }

std::string WideToAnsi(const std::wstring& text)
{
    std::string ansi;
    return WideToAnsi(text, ansi) ? ansi : std::string();
}

bool WideToAnsi(const std::wstring& text, std::string& ansi)
{
    return WideToCodePage(text, ::GetACP(), ansi);
}

bool WideToCodePage(const std::wstring& text, unsigned int codePage, std::string& out)
{
    if (NarrowExactly(text, codePage, nullptr, out))
        return true;
    out.clear();
    return false;
}

std::string WideToAnsiShown(const std::wstring& text)
{
    std::string shown;
    NarrowExactly(text, ::GetACP(), "?", shown);
    return shown;
}
