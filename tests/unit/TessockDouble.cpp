// A stand-in for the port library with the exports the updater binds, and a scripted port
// table for the main window's port list. The maker's USB device on hub 2, port 4 is COM7
// until a test renumbers it; COM8's device has a driver key but is not on USB; COM9's key
// fills the whole 100-unit buffer but its terminator; every other port belongs to no device
// of the maker.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "portlib/Tessock.h"

namespace {
const wchar_t kKeyReader[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0007";
const wchar_t kKeyCom8[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0008";
unsigned char g_readerPort = 7;
} // namespace

// The reader's device comes back under another COM number (a test's own control).
extern "C" __declspec(dllexport) void renumberReaderPort(unsigned char port) { g_readerPort = port; }

extern "C" __declspec(dllexport) unsigned char searchDriverByComBrenix(unsigned char port,
                                                                        wchar_t* driverKey)
{
    if (port == g_readerPort)
        std::wcscpy(driverKey, kKeyReader);
    else if (port == 8)
        std::wcscpy(driverKey, kKeyCom8);
    else if (port == 9)
        std::wmemset(driverKey, L'k', 99);
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchPositionByDriver(const wchar_t* driverKey,
                                                                       unsigned char* hub,
                                                                       unsigned char* hubPort)
{
    if (driverKey == nullptr || driverKey[0] == L'\0' || std::wcscmp(driverKey, kKeyReader) != 0)
        return 0xFF;
    *hub = 2;
    *hubPort = 4;
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchDriverByPosition(unsigned char hub,
                                                                       unsigned char hubPort,
                                                                       wchar_t* driverKey)
{
    if (hub == 0 || hubPort == 0)
        return 0xFF;
    if (hub == 2 && hubPort == 4)
        std::wcscpy(driverKey, kKeyReader);
    return 0;
}

extern "C" __declspec(dllexport) unsigned char searchComByDriverBrenix(const wchar_t* driverKey,
                                                                        wchar_t* portName)
{
    if (driverKey == nullptr || driverKey[0] == L'\0')
        return 0xFF;
    if (std::wcscmp(driverKey, kKeyReader) == 0)
        std::swprintf(portName, 100, L"COM%u", static_cast<unsigned>(g_readerPort));
    return 0;
}

// The port table: the test scripts what the next queries answer. Descriptions are given
// as one text with '|' between rows; rows beyond 50 are never written, whatever count is
// reported.
namespace {
constexpr int kRowsWritten = 50;
std::string g_descriptions;
std::vector<int> g_numbers;
int g_descriptionCount = 0;
int g_locationCount = 0;
int g_failingQuery = 0;
int g_queries = 0;
} // namespace

extern "C" __declspec(dllexport) void doubleScriptPorts(const char* descriptions, const int* numbers,
                                                         int rows, int descriptionCount,
                                                         int locationCount, int failingQuery)
{
    g_descriptions = descriptions != nullptr ? descriptions : "";
    g_numbers.assign(numbers, numbers + (rows > 0 ? rows : 0));
    g_descriptionCount = descriptionCount;
    g_locationCount = locationCount;
    g_failingQuery = failingQuery;
    g_queries = 0;
}

extern "C" __declspec(dllexport) int doublePortQueries() { return g_queries; }

extern "C" __declspec(dllexport) unsigned char getPortComAvailable(PortEntry* entries,
                                                                    std::int32_t* count,
                                                                    std::uint32_t property)
{
    ++g_queries;
    if (g_queries == g_failingQuery)
        return 0;
    std::size_t start = 0;
    for (int i = 0; i < static_cast<int>(g_numbers.size()) && i < kRowsWritten; ++i) {
        const std::size_t end = g_descriptions.find('|', start);
        const std::string text = property == 0 ? g_descriptions.substr(start, end - start)
                                               : "Port_#0004.Hub_#0002";
        start = end == std::string::npos ? g_descriptions.size() : end + 1;
        entries[i].portNumber = g_numbers[static_cast<std::size_t>(i)];
        std::strncpy(entries[i].propertyText, text.c_str(), tessock::kPropertyTextSize - 1);
    }
    *count = property == 0 ? g_descriptionCount : g_locationCount;
    return 1;
}
