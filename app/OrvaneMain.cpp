// Orvane.exe: the updater. The application object (theApp) does the work.
#include <windows.h>

#include "winfw/App.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunApplication(); }
