// FindTerminal: the loader searched on the port named by a port-list entry text.
#include "Terminal.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

using namespace proto;

namespace {

constexpr int kBaudRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr DWORD kSearchTimeout = 500;
constexpr DWORD kWaitAfterFailedLookup = 1000;

} // namespace

bool CTerminal::FindTerminal(const CString& portText)
{
    const CString name = PortNameOfText(portText);
    // Only a COM port is opened: "E:", NUL or a pipe would open a volume or another device.
    if (!IsComPortName(name)) {
        LogLine("Nom de port invalide : %s", portText.c_str());
        m_openFailure = OpenFailure::None;
        return false;
    }
    m_portNumber = PortNumberOfName(name);
    LookUpUsbPosition();

    if (!OpenPort(name)) {
        // Another program (the practice software) holds the reader: nothing to probe.
        if (m_openFailure == OpenFailure::Busy)
            LogLine("Port %s utilise par une autre application", name.c_str());
        return false;
    }
    // Without its time-outs a probe's read could wait for ever.
    if (!SetPortTimeouts(kSearchTimeout, 0, kSearchTimeout, kSearchTimeout, 0) ||
        !ProbeAtEachRate()) {
        ClosePort();
        return false;
    }
    LogLine("Terminal detecte sur le port : %s", name.c_str());
    return true;
}

void CTerminal::LookUpUsbPosition()
{
    // The answer is only recorded and logged: it never changes the search's outcome.
    m_usbPositionFound = false;
    for (int attempt = 0; attempt < kUsbLookupAttempts; ++attempt) {
        if (recordUsbPosition(m_portNumber)) {
            m_usbPositionFound = true;
            return;
        }
        // Not looked up at all: nothing to wait for.
        if (!UsbLookupCovers(m_portNumber))
            return;
        Os().Sleep(kWaitAfterFailedLookup);
    }
}

bool CTerminal::ProbeAtEachRate()
{
    for (int baud : kBaudRates) {
        // A reader heard at another rate leaves framing errors that would fail every probe.
        ClearLineErrors();
        // A rate the port refused would be probed at whatever rate the line still has.
        if (!ConfigurePort(baud, ONESTOPBIT, NOPARITY, 8))
            continue;
        if (ProbeLoader()) {
            m_baudRate = baud;
            return true;
        }
    }
    return false;
}
