// Port channel of CTerminal: open, configure, time-outs, close.
#include "Terminal.h"

#include <cstddef>
#include <cstring>

#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

namespace {

// Flag word of the DCB: keep these bits as read (parity check, reserved bits) ...
constexpr DWORD kDcbFlagsKept = 0xFFFFD093;
// ... then set binary mode, DTR and RTS enabled, continue on XOFF, abort on error.
constexpr DWORD kDcbFlagsSet = 0x5091;

// The bit fields of the DCB share the 32-bit word that follows BaudRate.
constexpr std::size_t kDcbFlagOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);

void MaskDcbFlags(DCB& dcb)
{
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + kDcbFlagOffset, sizeof flags);
    flags = (flags & kDcbFlagsKept) | kDcbFlagsSet;
    std::memcpy(reinterpret_cast<BYTE*>(&dcb) + kDcbFlagOffset, &flags, sizeof flags);
}

} // namespace

void ConfigureUpdateLink(CTerminal& terminal)
{
    terminal.WatchForRemoval();
    terminal.ConfigurePort(115200, ONESTOPBIT, NOPARITY, 8);
    Os().Sleep(100);
    terminal.SetPortTimeouts(5000, 0, 5000, 5000, 0);
}

CTerminal::CTerminal()
    : m_percentCallback(nullptr), m_percentContext(0), m_moduleCallback(nullptr),
      m_moduleContext(0), m_hPort(nullptr), m_fileSize(0), m_percent(0), m_portNumber(0),
      m_baudRate(0), usbHub(0), usbHubPort(0), usbDriverKey{}, m_usbPositionFound(false), m_loaderFileCount(0),
      m_loaderPresent(false)
{
}

CTerminal::~CTerminal()
{
    // The run closes the port on every path; this only guards against a leaked handle.
    if (IsOpen())
        Os().CloseHandle(m_hPort);
}

namespace {

CTerminal::OpenFailure OpenFailureOf(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return CTerminal::OpenFailure::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return CTerminal::OpenFailure::Absent;
    default: return CTerminal::OpenFailure::Other;
    }
}

CString DevicePath(const CString& name) { return "\\\\.\\" + name; }

// The port for reading and writing, not shared: how the link and its presence test open it.
HANDLE OpenDevice(const CString& name)
{
    return Os().CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
}

} // namespace

bool CTerminal::OpenPort(const CString& name)
{
    m_openedName = name;
    const CString device = DevicePath(name);
    HANDLE h = OpenDevice(name);
    if (h == INVALID_HANDLE_VALUE) {
        m_openFailure = OpenFailureOf(::GetLastError());
        LogLine("Impossible d'ouvrir le port %s", device.c_str());
        return false;
    }
    m_openFailure = OpenFailure::None;
    m_watchRemoval = false;
    m_portGone = false;
    m_hPort = h;
    LogLine("Port %s ouvert", device.c_str());
    return true;
}

bool CTerminal::PortHasGone()
{
    if (m_openedName.empty())
        return false;
    ClosePort();
    if (m_portGone)
        return true;
    if (OpenPort(m_openedName)) {
        ClosePort();
        return false;
    }
    return m_openFailure == OpenFailure::Absent;
}

bool CTerminal::ClosePort()
{
    if (!IsOpen()) {
        m_hPort = nullptr;
        return true;
    }
    if (!Os().CloseHandle(m_hPort)) {
        LogLine("Probleme de fermeture du port");
        return false;
    }
    LogLine("Port correctement ferme");
    m_hPort = nullptr;
    return true;
}

bool CTerminal::ConfigurePort(int baud, int stopBits, int parity, int byteSize)
{
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!Os().GetCommState(m_hPort, &dcb)) {
        LogLine("Impossible d'obtenir les parametres du port");
        return false;
    }
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baud);
    MaskDcbFlags(dcb);
    dcb.XonLim = 2048;
    dcb.XoffLim = 2048;
    dcb.ByteSize = static_cast<BYTE>(byteSize);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    if (!Os().SetCommState(m_hPort, &dcb)) {
        LogLine("Impossible de parametrer le port");
        return false;
    }
    LogLine("Port correctement configure");
    return true;
}

BOOL CTerminal::SetPortTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                                DWORD writeConstant, DWORD writeMultiplier)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = readInterval;
    timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
    timeouts.ReadTotalTimeoutConstant = readConstant;
    timeouts.WriteTotalTimeoutConstant = writeConstant;
    timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
    return Os().SetCommTimeouts(m_hPort, &timeouts);
}

bool CTerminal::ComputeCrc(const std::uint8_t* data, int length, std::uint8_t* out) const
{
    const std::uint16_t crc = proto::Crc16(data, length);
    out[0] = static_cast<std::uint8_t>(crc & 0xFF);
    out[1] = static_cast<std::uint8_t>(crc >> 8);
    return true;
}

bool CTerminal::WriteFrame(const std::uint8_t* frame, DWORD size, DWORD* written)
{
    *written = 0;
    if (m_portGone)
        return false;
    const bool ok = Os().WriteFile(m_hPort, frame, size, written, nullptr) != FALSE;
    if (!ok && m_watchRemoval && PortVanished())
        m_portGone = true;
    return ok;
}

bool CTerminal::ReadReply(std::uint8_t* buffer, DWORD size, DWORD* received)
{
    *received = 0;
    if (m_portGone)
        return false;
    const bool ok = Os().ReadFile(m_hPort, buffer, size, received, nullptr) != FALSE;
    if ((!ok || *received == 0) && m_watchRemoval && PortVanished()) {
        m_portGone = true;
        return false;
    }
    return ok;
}

bool CTerminal::PortVanished() const
{
    HANDLE again = OpenDevice(m_openedName);
    if (again != INVALID_HANDLE_VALUE) {
        Os().CloseHandle(again);
        return false;
    }
    // Held by this very handle, a present port answers "access denied".
    return OpenFailureOf(::GetLastError()) == OpenFailure::Absent;
}

void CTerminal::SetPercentCallback(TerminalCallback callback, std::uint32_t context)
{
    m_percentCallback = callback;
    m_percentContext = context;
}

void CTerminal::SetModuleCallback(TerminalCallback callback, std::uint32_t context)
{
    m_moduleCallback = callback;
    m_moduleContext = context;
}

int CTerminal::SetPercent(int percent)
{
    m_percent = percent;
    return NotifyPercent();
}

int CTerminal::NotifyPercent()
{
    if (m_progressSink != nullptr)
        m_progressSink->OnPercent(m_percent);
    return m_percentCallback ? m_percentCallback(m_percentContext) : 0;
}

int CTerminal::NotifyModule()
{
    if (m_progressSink != nullptr)
        m_progressSink->OnModule(m_moduleName);
    return m_moduleCallback ? m_moduleCallback(m_moduleContext) : 0;
}
