// CChargeurApp: the updater's application object. Its start-up routine sets up Windows
// Sockets and runs the main window; the program ends when that window closes.
#pragma once
#include "winfw/App.h"

class CChargeurApp : public CWinApp {
public:
    CChargeurApp() = default;
    bool InitInstance() override;
};
