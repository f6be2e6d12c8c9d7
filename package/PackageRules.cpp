#include "PackageRules.h"

#include <climits>
#include <cstdlib>

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

} // namespace

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
