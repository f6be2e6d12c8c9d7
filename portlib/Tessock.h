// The exported interface of the COM port manager library Tessock.dll. Every function
// answers with one byte and writes its outputs only on success; callers own and clear
// every buffer. Callers bind the functions by name at run time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// One row of the port table filled by getPortComAvailable.
struct PortEntry {
    std::int32_t portNumber;  // n of COMn; 0 when no number could be found
    char* propertyText;       // kPropertyTextSize bytes, the requested device property
    char* instanceId;         // kInstanceIdSize bytes, the device instance ID
};

namespace tessock {
constexpr std::size_t kPropertyTextSize = 400;
constexpr std::size_t kInstanceIdSize = 800;
constexpr int kMaxPortRows = 50;         // the row count every caller allocates
constexpr std::size_t kTextUnits = 100;  // UTF-16 buffers for driver keys and port names
constexpr char kLibraryFileName[] = "Tessock.dll";
} // namespace tessock

// A port table with its rows and buffers sized as every caller sizes them.
class PortTable {
public:
    PortTable()
        : m_rows(tessock::kMaxPortRows),
          m_texts(tessock::kMaxPortRows * tessock::kPropertyTextSize, '\0'),
          m_ids(tessock::kMaxPortRows * tessock::kInstanceIdSize, '\0')
    {
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            m_rows[i] = {0, &m_texts[i * tessock::kPropertyTextSize],
                         &m_ids[i * tessock::kInstanceIdSize]};
    }
    PortEntry* Rows() { return m_rows.data(); }
    const PortEntry& Row(int i) const { return m_rows[static_cast<std::size_t>(i)]; }

private:
    std::vector<PortEntry> m_rows;
    std::vector<char> m_texts;
    std::vector<char> m_ids;
};

extern "C" {
unsigned char __cdecl activatePortCom(std::int32_t portNumber);
unsigned char __cdecl deactivatePortCom(std::int32_t portNumber);
unsigned char __cdecl getPortComAvailable2(char* out, std::int32_t size);
unsigned char __cdecl getPortComAvailable(PortEntry* entries, std::int32_t* count,
                                          std::uint32_t property);
unsigned char __cdecl searchComByDriverBrenix(const wchar_t* driverKey, wchar_t* portName);
unsigned char __cdecl searchDriverByComBrenix(unsigned char portNumber, wchar_t* driverKey);
unsigned char __cdecl searchDriverByPIDBrenix(std::int32_t productId, wchar_t* driverKey);
unsigned char __cdecl searchDriverByPosition(unsigned char hub, unsigned char port,
                                             wchar_t* driverKey);
unsigned char __cdecl searchPositionByDriver(const wchar_t* driverKey, unsigned char* hub,
                                             unsigned char* port);
// Needs elevation: without write access to the device's records it returns 1, last error
// ERROR_ACCESS_DENIED, and changes nothing.
unsigned char __cdecl setComByDriverBrenix(const wchar_t* driverKey, unsigned char newPort);
}
