// The application object of a windowed program: exactly one, constructed before the entry
// point, whose start-up routine runs the program. Its main window is the owner the
// framework's modal dialogs and boxes fall back to when they are given none.
#pragma once
#include <windows.h>

class CWindow;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs the program; false ends it once the routine has returned.
    virtual bool InitInstance() = 0;

    CWindow* m_pMainWnd = nullptr;
};

// The one application object, or null.
CWinApp* TheApp();

// The main window's handle when it exists, else null.
HWND MainWindowHandle();

// What the entry point does: the start-up routine, then the end. The exit code carries
// no meaning.
int RunApplication();
