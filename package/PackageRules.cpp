#include "PackageRules.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "terminal/Protocol.h"

namespace pkg {

namespace {

constexpr char kLoaderPrefix[] = "3648";
constexpr char kSgn[] = ".SGN";
constexpr char kAdf[] = ".ADF";
constexpr char kManager[] = "KAVRON MANAGER";
constexpr char kSystem[] = "KAVRON SYSTEM";

bool Contains(const CString& text, const char* part) { return text.find(part) != CString::npos; }

// The entry a ".SGN" file takes its name from: the first list entry holding the base name,
// or the next one when the first is the file itself. Empty when there is none.
CString SgnCompanion(const CString& upperName, const CStringList& upperLoadList)
{
    const CString base = upperName.substr(0, upperName.find(kSgn));
    auto it = upperLoadList.begin();
    for (; it != upperLoadList.end(); ++it)
        if (Contains(*it, base.c_str()))
            break;
    if (it == upperLoadList.end())
        return CString();
    if (*it != upperName)
        return *it;
    for (++it; it != upperLoadList.end(); ++it)
        if (Contains(*it, base.c_str()))
            return *it;
    return CString();
}

CString Classify(const CString& u)
{
    if (Contains(u, ".LDF"))
        return kManager;
    if (Contains(u, ".DDF"))
        return kSystem;
    if (Contains(u, ".PDF")) {
        if (Contains(u, "3777"))
            return kSystem;
        if (Contains(u, "3778"))
            return kManager;
        return u;
    }
    if (Contains(u, "3592"))
        return kManager;
    return u;
}

// Separators of folders, drives and streams, and the wildcards and other characters no
// file name may hold ("Naming Files, Paths, and Namespaces").
constexpr char kNotInAFileName[] = "\\/:<>\"|?*";

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The digits Windows takes in COMn and LPTn: 0 to 9 and the superscripts 1, 2 and 3 of the
// ANSI code page.
bool IsDeviceDigit(char c)
{
    return (c >= '0' && c <= '9') || c == '\xB9' || c == '\xB2' || c == '\xB3';
}

// Windows opens these devices in every folder, whatever extension follows the name and
// whatever blanks precede that extension.
bool IsDeviceName(const CString& name)
{
    CString base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = UpperAscii(c);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           IsDeviceDigit(base[3]);
}

} // namespace

bool IsBareFileName(const CString& name)
{
    if (name.empty() || name.size() > proto::kAnnounceMaxNameLength)
        return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr(kNotInAFileName, c) != nullptr)
            return false;
    // Also "." and "..".
    if (name.back() == '.' || name.back() == ' ')
        return false;
    return !IsDeviceName(name);
}

CStringList SectionLines(const char* buffer, std::size_t count)
{
    CStringList lines;
    CString line;
    for (std::size_t i = 0; i < count; ++i) {
        if (buffer[i] != '\0') {
            line.push_back(buffer[i]);
            continue;
        }
        if (!line.empty())
            lines.AddTail(line);
        line.clear();
    }
    return lines;
}

std::int32_t ParseProfileInt(const CString& text)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

OptionVerdict TestOptions16(std::int32_t presence, std::int32_t absence, std::uint8_t high,
                            std::uint8_t low)
{
    const auto pHigh = static_cast<std::uint8_t>((presence >> 8) & 0xFF);
    const auto pLow = static_cast<std::uint8_t>(presence & 0xFF);
    const auto aHigh = static_cast<std::uint8_t>((absence >> 8) & 0xFF);
    const auto aLow = static_cast<std::uint8_t>(absence & 0xFF);
    if ((pHigh & ~high) != 0 || (pLow & ~low) != 0)
        return OptionVerdict::PresenceFailed;
    if ((aHigh & high) != 0 || (aLow & low) != 0)
        return OptionVerdict::AbsenceFailed;
    return OptionVerdict::Pass;
}

OptionVerdict TestOptions8(std::int32_t presence, std::int32_t absence, std::uint8_t value)
{
    if ((presence & 0xFF & ~value) != 0)
        return OptionVerdict::PresenceFailed;
    if ((absence & 0xFF & value) != 0)
        return OptionVerdict::AbsenceFailed;
    return OptionVerdict::Pass;
}

bool IsLoaderFile(const CString& line) { return line.compare(0, 4, kLoaderPrefix) == 0; }

LoadList BuildLoadList(const CStringList& catalogueLines)
{
    LoadList list;
    for (const CString& line : catalogueLines) {
        if (IsLoaderFile(line)) {
            list.files.AddHead(line);
            ++list.loaderFileCount;
            list.loaderPresent = true;
        } else {
            list.files.AddTail(line);
        }
    }
    return list;
}

CString ConstraintKey(const CString& entry) { return entry.substr(0, entry.find('*')); }

bool KeyFoundInAny(const CString& key, const CStringList& names)
{
    for (const CString& name : names)
        if (name.find(key) != CString::npos)
            return true;
    return false;
}

CString ModuleNameOfUpper(const CString& upperName, const CStringList& upperLoadList)
{
    CString u = upperName;
    if (Contains(u, kSgn)) {
        const CString companion = SgnCompanion(u, upperLoadList);
        if (!companion.empty() && !Contains(companion, kAdf))
            u = companion;
    }
    return Classify(u);
}

} // namespace pkg
