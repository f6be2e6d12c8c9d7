#include "App.h"

#include "Window.h"

namespace {

CWinApp* g_app = nullptr;

} // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* TheApp() { return g_app; }

HWND MainWindowHandle()
{
    if (g_app == nullptr || g_app->m_pMainWnd == nullptr)
        return nullptr;
    return g_app->m_pMainWnd->GetSafeHwnd();
}

int RunApplication()
{
    if (g_app != nullptr)
        g_app->InitInstance();
    return 0;
}
