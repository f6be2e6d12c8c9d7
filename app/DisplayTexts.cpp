#include "DisplayTexts.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/SystemLibrary.h"
#include "winfw/Text.h"

namespace {

constexpr char kNoVersion[] = "0.0.0.0";
constexpr char kFileVersionKey[] = "\\StringFileInfo\\000C04B0\\FileVersion";
constexpr char kLegalNoticeKey[] = "\\StringFileInfo\\000C04B0\\LegalCopyright";
// A package's text files are small; a larger file is shown up to here.
constexpr std::size_t kMaxTextFile = 1024 * 1024;

// A file's text as the runtime's text mode reads it (CR LF as "\n"); false when missing.
bool ReadTextFile(const char* path, CString& text)
{
    text.clear();
    std::FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (file == nullptr)
        return false;
    char buffer[4096];
    std::size_t n = 0;
    while (text.size() < kMaxTextFile && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    if (text.size() > kMaxTextFile)
        text.resize(kMaxTextFile);
    return true;
}

// A value of the program's own version block; false when any step fails.
bool ReadVersionValue(const char* key, CString& value)
{
    // The program's path as the system has it: in the ANSI code page a folder's name could
    // be another's.
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    // version.dll is no KnownDLL: bound at run time from System32, never from the package.
    const SystemLibrary library("version.dll");
    const auto sizeOf = library.Bind<decltype(&::GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    const auto readBlock = library.Bind<decltype(&::GetFileVersionInfoW)>("GetFileVersionInfoW");
    const auto query = library.Bind<decltype(&::VerQueryValueW)>("VerQueryValueW");
    if (sizeOf == nullptr || readBlock == nullptr || query == nullptr)
        return false;
    DWORD handle = 0;
    const DWORD size = sizeOf(path, &handle);
    if (size == 0)
        return false;
    std::vector<char> block(size);
    if (!readBlock(path, 0, size, block.data()))
        return false;
    wchar_t* text = nullptr;
    UINT textLength = 0;
    if (!query(block.data(), AnsiToWide(key).c_str(), reinterpret_cast<void**>(&text),
               &textLength) ||
        text == nullptr || textLength == 0)
        return false;
    // The length counts the terminator when there is one; never read past the block.
    value = WideToAnsiShown(std::wstring(text, wcsnlen(text, textLength)));
    return true;
}

} // namespace

CString ReadMeOfContent(const CString& content)
{
    if (content.empty())
        return CString();
    CString text;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = content.find('\n', start);
        text += content.substr(start, end == CString::npos ? CString::npos : end - start);
        text += "\r\n";
        if (end == CString::npos)
            break;
        start = end + 1;
    }
    return text;
}

CString ReadMeText(const char* path)
{
    CString content;
    ReadTextFile(path, content);
    return ReadMeOfContent(content);
}

CString FirstLineOf(const char* path)
{
    CString content;
    if (!ReadTextFile(path, content))
        return CString();
    return content.substr(0, content.find('\n'));
}

CString DottedVersion(const CString& version)
{
    CString dotted;
    for (std::size_t i = 0; i < version.size(); ++i) {
        if (version.compare(i, 2, ", ") == 0) {
            dotted += '.';
            ++i;
        } else {
            dotted += version[i];
        }
    }
    return dotted;
}

CString GetFileVersionText()
{
    CString version;
    if (!ReadVersionValue(kFileVersionKey, version))
        return kNoVersion;
    return DottedVersion(version);
}

CString GetLegalNoticeText()
{
    CString notice;
    if (!ReadVersionValue(kLegalNoticeKey, notice))
        return LoadResString(IDS_FALLBACK_NOTICE);
    return notice;
}
