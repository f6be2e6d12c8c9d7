// Port channel of CTerminal: open, configure, time-outs, close.
#include "Terminal.h"

#include <cstdio>

#include "LinkTexts.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

using namespace linktext;

namespace {

// XON/XOFF flow control stays off, but serial drivers refuse a DCB whose two characters
// are equal (SetCommState fails with ERROR_INVALID_PARAMETER): the usual DC1 and DC3.
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;

static_assert(sizeof(DCB) == 28, "the DCB's length as the port is given it");

// A reply's first byte is asked for after each of these sleeps: short ones while a reply is
// due at once, then the run's own 10 ms turn.
constexpr DWORD kShortInputSteps = 20;
constexpr DWORD kShortInputStep = 1;
constexpr DWORD kInputStep = 10;

// The line as the link wants it: no flow control of any kind, DTR and RTS raised, and a
// line error stopping every read and write until it is acknowledged. The parity check and
// the reserved bits keep what the port held.
void SetLinkFields(DCB& dcb, int baud, int stopBits, int parity, int byteSize)
{
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = TRUE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 2048;
    dcb.ByteSize = static_cast<BYTE>(byteSize);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

// A failed system call's line, then its error (the thread's last error, read first).
void LogFailedCall(const char* line)
{
    // Read before anything else can touch it: logging itself may.
    const DWORD error = Os().GetLastError();
    LogLine("%s", line);
    LogSystemError(error);
}

} // namespace

void linktext::LogSystemError(DWORD error) { LogLine("Erreur systeme %lu", error); }

bool ConfigureUpdateLink(CTerminal& terminal)
{
    terminal.WatchForRemoval();
    if (!terminal.ConfigurePort(115200, ONESTOPBIT, NOPARITY, 8))
        return false;
    Os().Sleep(100);
    return terminal.SetPortTimeouts(5000, 0, 5000, 5000, 0) != FALSE;
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
        const DWORD error = Os().GetLastError();
        m_openFailure = OpenFailureOf(error);
        LogLine("Impossible d'ouvrir le port %s", device.c_str());
        LogSystemError(error);
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
        LogFailedCall("Probleme de fermeture du port");
        return false;
    }
    LogLine("Port correctement ferme");
    m_hPort = nullptr;
    return true;
}

bool CTerminal::ConfigurePort(int baud, int stopBits, int parity, int byteSize)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!Os().GetCommState(m_hPort, &dcb)) {
        LogFailedCall("Impossible d'obtenir les parametres du port");
        return false;
    }
    SetLinkFields(dcb, baud, stopBits, parity, byteSize);
    if (!Os().SetCommState(m_hPort, &dcb)) {
        LogFailedCall("Impossible de parametrer le port");
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
    if (Os().SetCommTimeouts(m_hPort, &timeouts)) {
        m_timeouts = timeouts;
        return TRUE;
    }
    LogFailedCall("Impossible de fixer les delais du port");
    return FALSE;
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
    m_ioRefusedBySystem = false;
    m_fault.clear();
    if (m_portGone)
        return false;
    const bool ok = Os().WriteFile(m_hPort, frame, size, written, nullptr) != FALSE;
    if (!ok)
        NoteIoError();
    if (!ok && m_watchRemoval && PortVanished())
        m_portGone = true;
    return ok;
}

bool CTerminal::ReadReply(std::uint8_t* buffer, DWORD size, DWORD* received)
{
    *received = 0;
    m_ioRefusedBySystem = false;
    if (m_portGone)
        return false;
    // Wine serves a blocking read on a line whose device has gone by polling it without
    // pause until the time-out: on the update's link the first byte is waited for asleep.
    bool ok = true;
    switch (m_watchRemoval ? AwaitInput() : InputWait::Queued) {
    case InputWait::Queued:
        ok = Os().ReadFile(m_hPort, buffer, size, received, nullptr) != FALSE;
        if (!ok)
            NoteIoError();
        break;
    case InputWait::TimedOut:
        ok = ReadWhatIsHeld(buffer, size, received);
        break;
    case InputWait::LineError:
        // As the read itself would have failed, aborted by the line error.
        ok = false;
        m_ioRefusedBySystem = true;
        m_ioError = ERROR_OPERATION_ABORTED;
        break;
    case InputWait::PortFailed:
        ok = false;
        NoteIoError();
        break;
    }
    if ((!ok || *received == 0) && m_watchRemoval && PortVanished()) {
        m_portGone = true;
        return false;
    }
    return ok;
}

CTerminal::InputWait CTerminal::AwaitInput()
{
    const ULONGLONG start = Os().GetTickCount64();
    for (DWORD step = 0;; ++step) {
        DWORD errors = 0;
        COMSTAT status = {};
        if (!Os().ClearCommError(m_hPort, &errors, &status))
            return InputWait::PortFailed;
        m_heldLineErrors |= errors;
        if (errors != 0)
            return InputWait::LineError;
        if (status.cbInQue > 0)
            return InputWait::Queued;
        if (Os().GetTickCount64() - start >= m_timeouts.ReadTotalTimeoutConstant)
            return InputWait::TimedOut;
        Os().Sleep(step < kShortInputSteps ? kShortInputStep : kInputStep);
    }
}

bool CTerminal::ReadWhatIsHeld(std::uint8_t* buffer, DWORD size, DWORD* received)
{
    // MAXDWORD between bytes and no total: the read returns at once with what the port
    // holds (learn.microsoft.com, COMMTIMEOUTS).
    COMMTIMEOUTS atOnce = m_timeouts;
    atOnce.ReadIntervalTimeout = MAXDWORD;
    atOnce.ReadTotalTimeoutMultiplier = 0;
    atOnce.ReadTotalTimeoutConstant = 0;
    COMMTIMEOUTS kept = m_timeouts;
    if (!Os().SetCommTimeouts(m_hPort, &atOnce)) {
        NoteIoError();
        return false;
    }
    const bool ok = Os().ReadFile(m_hPort, buffer, size, received, nullptr) != FALSE;
    if (!ok)
        NoteIoError();
    Os().SetCommTimeouts(m_hPort, &kept);
    return ok;
}

void CTerminal::NoteIoError()
{
    m_ioRefusedBySystem = true;
    m_ioError = Os().GetLastError();
}

void CTerminal::Fault(const std::string& line)
{
    LogLine("%s", line.c_str());
    m_fault = line;
}

DWORD CTerminal::ReportPortFailure(const char* line)
{
    Fault(line);
    if (!m_ioRefusedBySystem)
        return 0;
    Fault("Erreur systeme " + std::to_string(m_ioError));
    return ClearLineErrors();
}

DWORD CTerminal::ClearLineErrors()
{
    DWORD errors = m_heldLineErrors;
    m_heldLineErrors = 0;
    DWORD cleared = 0;
    if (!Os().ClearCommError(m_hPort, &cleared, nullptr)) {
        const DWORD error = Os().GetLastError();
        Fault("Impossible d'acquitter les erreurs de ligne");
        Fault("Erreur systeme " + std::to_string(error));
        return errors;
    }
    errors |= cleared;
    if (errors == 0)
        return 0;
    char text[32];
    std::snprintf(text, sizeof text, "Erreur de ligne 0x%lX", errors);
    Fault(text);
    return errors;
}

bool CTerminal::PortVanished() const
{
    HANDLE again = OpenDevice(m_openedName);
    if (again != INVALID_HANDLE_VALUE) {
        Os().CloseHandle(again);
        return false;
    }
    // Held by this very handle, a present port answers "access denied".
    return OpenFailureOf(Os().GetLastError()) == OpenFailure::Absent;
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
