#include "ChargeurApp.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "ChargeurDlg.h"
#include "res/resource.h"
#include "winfw/Diag.h"

namespace {

// Windows Sockets 1.1 for the life of the program.
class SocketsSession {
public:
    SocketsSession()
    {
        WSADATA data = {};
        m_started = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
        m_granted = m_started && LOBYTE(data.wVersion) == 1 && HIBYTE(data.wVersion) == 1;
    }
    ~SocketsSession()
    {
        if (m_started)
            ::WSACleanup();
    }
    SocketsSession(const SocketsSession&) = delete;
    SocketsSession& operator=(const SocketsSession&) = delete;
    bool Granted() const { return m_granted; }

private:
    bool m_started = false;
    bool m_granted = false;
};

} // namespace

CChargeurApp theApp;

bool CChargeurApp::InitInstance()
{
    SocketsSession sockets;
    if (!sockets.Granted()) {
        ShowMessage(LoadResString(IDS_SOCKETS_FAILED), MB_OK);
        return false;
    }
    // The common controls of the manifest's version 6, for the progress bars and the list.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    // The command line is ignored.
    CChargeurDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
