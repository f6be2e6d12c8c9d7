#include "ChargeurApp.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ChargeurDlg.h"
#include "package/PackageFolder.h"
#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/Text.h"

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

// The folder named on the command line, from the wide command line: the runtime's ANSI
// words would best-fit a name the code page lacks into another folder's. False when none is.
bool NamedFolder(std::wstring& folder)
{
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr)
        return false;
    const bool named = count >= 2 && words[1] != nullptr;
    if (named)
        folder = words[1];
    ::LocalFree(words);
    return named;
}

// The folder named on the command line (`Orvane.exe DIR`) made the current directory: the
// package is read, and the run's files are left, there. False, the folder named in a box,
// when it cannot be used; without a folder named, the current directory is the package's.
bool EnterNamedPackageFolder()
{
    std::wstring named;
    if (!NamedFolder(named))
        return true;
    std::string folder;
    std::string reason;
    if (!WideToAnsi(named, folder))
        reason = "its name has a character the ANSI code page cannot hold";
    else if (EnterPackageFolder(folder, reason))
        return true;
    // Shown only: a character the code page lacks is a '?' there.
    const std::string shown = WideToAnsiShown(named);
    LogLine("package folder %s refused: %s", shown.c_str(), reason.c_str());
    const std::string format = LoadResString(IDS_PACKAGE_FOLDER_FAILED);
    std::vector<char> text(format.size() + shown.size() + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), shown.c_str());
    ShowMessage(text.data(), MB_OK | MB_ICONSTOP);
    return false;
}

} // namespace

CChargeurApp theApp;

bool CChargeurApp::InitInstance()
{
    if (!EnterNamedPackageFolder())
        return false;
    SocketsSession sockets;
    if (!sockets.Granted()) {
        ShowMessage(LoadResString(IDS_SOCKETS_FAILED), MB_OK);
        return false;
    }
    // The common controls of the manifest's version 6, for the progress bars and the list.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    CChargeurDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
