#include "PackageFolder.h"

#include <windows.h>

#include <cstring>

#include "winfw/Handle.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

std::string ErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
        return "no such folder";
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
        return "not a folder name";
    case ERROR_FILENAME_EXCED_RANGE:
        return "the name is too long";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    default:
        return "Windows error " + std::to_string(error);
    }
}

// Whether the folder's entries can be listed: entering a folder needs only the right to
// traverse it, reading the package needs the right to list it.
bool Listable(const std::string& folder, std::string& reason)
{
    WIN32_FIND_DATAA found = {};
    const HANDLE search = Os().FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        Os().FindClose(search);
        return true;
    }
    const DWORD error = Os().GetLastError();
    // A drive's root with nothing in it has no "." to find, and is read all the same.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
        return true;
    reason = error == ERROR_ACCESS_DENIED ? "it cannot be read (access denied)" : ErrorText(error);
    return false;
}

} // namespace

bool EnterPackageFolder(const std::string& folder, std::string& reason)
{
    if (folder.empty()) {
        reason = "no folder named";
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!Os().GetFileAttributesExA(folder.c_str(), GetFileExInfoStandard, &data)) {
        reason = ErrorText(Os().GetLastError());
        return false;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        reason = "it is a file, not a folder";
        return false;
    }
    if (!Listable(folder, reason))
        return false;
    if (!Os().SetCurrentDirectoryA(folder.c_str())) {
        reason = ErrorText(Os().GetLastError());
        return false;
    }
    return true;
}

std::string WholePath(const std::string& path)
{
    if (path.empty())
        return path;
    constexpr DWORD kUnits = MAX_PATH * 2;
    wchar_t whole[kUnits] = {};
    const DWORD length = Os().GetFullPathNameW(AnsiToWide(path).c_str(), kUnits, whole, nullptr);
    if (length == 0 || length >= kUnits)
        return path;
    std::string ansi;
    return WideToAnsi(std::wstring(whole, length), ansi) ? ansi : std::string();
}

bool FileExists(const char* path)
{
    if (path == nullptr || path[0] == '\0' || std::strpbrk(path, "*?") != nullptr)
        return false;
    return Os().GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CurrentDirectoryWide()
{
    constexpr DWORD kUnits = MAX_PATH * 2;
    wchar_t path[kUnits] = {};
    const DWORD length = Os().GetCurrentDirectoryW(kUnits, path);
    return length > 0 && length < kUnits ? std::wstring(path, length) : std::wstring();
}

bool HoldsCatalogue()
{
    WIN32_FIND_DATAA found = {};
    ScopedFind search(".\\catalogue*.ini", &found);
    if (!search.IsValid())
        return false;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return true;
    } while (search.Next(&found));
    return false;
}
