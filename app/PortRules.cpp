#include "PortRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "portlib/Tessock.h"

namespace ports {

std::string EntryText(const char* description, int portNumber)
{
    return std::string(description != nullptr ? description : "") + " (COM" +
           std::to_string(portNumber) + ")";
}

std::string ProbedEntryText(int portNumber)
{
    char text[48];
    std::snprintf(text, sizeof text, "Port COM%d (COM%d)", portNumber, portNumber);
    return text;
}

int ClampRowCount(int reported, int rows)
{
    if (reported < 0)
        return 0;
    return reported < rows ? reported : rows;
}

std::vector<std::string> EntryTexts(const PortEntry* descriptions, int descriptionCount,
                                    const PortEntry* numbers, int numberCount)
{
    std::vector<std::string> texts;
    const int count = std::min(descriptionCount, numberCount);
    for (int i = 0; i < count; ++i) {
        // The library's buffer is ended within its size even if the library left it full.
        const char* text = descriptions[i].propertyText;
        const std::size_t length = text != nullptr ? strnlen(text, tessock::kPropertyTextSize) : 0;
        texts.push_back(EntryText(std::string(text != nullptr ? text : "", length).c_str(),
                                  numbers[i].portNumber));
    }
    return texts;
}

bool ListChanged(const std::vector<std::string>& shown, const std::vector<std::string>& fresh)
{
    if (shown.size() != fresh.size())
        return true;
    for (const std::string& text : shown)
        if (std::find(fresh.begin(), fresh.end(), text) == fresh.end())
            return true;
    return false;
}

bool IsReaderEntry(const std::string& text)
{
    const std::size_t length = sizeof kReaderPrefix - 1;
    return text.size() >= length && text.compare(0, length, kReaderPrefix) == 0;
}

std::string CountText(const std::vector<std::string>& entries)
{
    if (entries.empty())
        return "no COM port in the port list";
    const auto readers = std::count_if(entries.begin(), entries.end(), IsReaderEntry);
    const std::string count = std::to_string(entries.size()) +
                              (entries.size() == 1 ? " port" : " ports") + " in the port list, ";
    const std::string entry = std::string("\"") + kReaderPrefix + "\" entr";
    if (readers == 0)
        return count + "no " + entry + "y";
    return count + std::to_string(readers) + " " + entry + (readers == 1 ? "y" : "ies");
}

int ReaderEntryIndex(const std::vector<std::string>& entries)
{
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (IsReaderEntry(entries[i]))
            return static_cast<int>(i);
    return -1;
}

bool DetectedAfterDropDown(const std::vector<std::string>& entries, bool detectedBefore)
{
    if (entries.empty())
        return false;
    if (ReaderEntryIndex(entries) >= 0)
        return true;
    return detectedBefore;
}

bool PollSearchesReader(bool rebuilt, bool nothingSelected, bool detected,
                        const std::vector<std::string>& entries)
{
    return rebuilt || (nothingSelected && (detected || ReaderEntryIndex(entries) >= 0));
}

} // namespace ports
