#include "MachineRecord.h"

#include <algorithm>

#include "winfw/OsSeam.h"
#include "winfw/RegistryValue.h"
#include "winfw/Text.h"

namespace {

constexpr std::size_t kLongestName = 64;
constexpr wchar_t kRecordsKey[] = L"SOFTWARE\\Orvane\\Records\\";

bool IsNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.';
}

} // namespace

bool IsRecordName(const std::string& name)
{
    return !name.empty() && name.size() <= kLongestName &&
           std::all_of(name.begin(), name.end(), IsNameCharacter);
}

std::string RecordKeyText(const std::string& name)
{
    return "HKLM\\SOFTWARE\\Orvane\\Records\\" + name;
}

std::string ReadersText(const std::vector<PortRun>& runs)
{
    std::string text;
    for (const PortRun& run : runs) {
        if (!text.empty())
            text += ' ';
        text += run.port + "=" + std::to_string(static_cast<int>(run.result));
    }
    return text;
}

LSTATUS MachineRecord::Open(const std::string& name)
{
    // No security descriptor of our own: the key takes HKLM\SOFTWARE's, under which Users
    // may read and not write, nor create the key first. The 64-bit view is the one a
    // detection rule reads when it is not "associated with a 32-bit app".
    return CreateMachineKey(kRecordsKey + AnsiToWide(name), m_key);
}

bool MachineRecord::Write(int result, const std::string& finished, const std::string& readers)
{
    if (!IsOpen())
        return false;
    // Result last: a rule never reads a new result beside the last run's other values.
    return SetTextValue(m_key.Get(), L"Readers", AnsiToWide(readers)) &&
           SetTextValue(m_key.Get(), L"Finished", AnsiToWide(finished)) &&
           SetNumberValue(m_key.Get(), L"Result", static_cast<DWORD>(result));
}
