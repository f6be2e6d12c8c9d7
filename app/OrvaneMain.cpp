// Orvane.exe: the updater. The application object (theApp) does the work.
#include <windows.h>

#include "winfw/App.h"
#include "winfw/HeldFolder.h"
#include "winfw/SystemLibrary.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Before anything can load a library: the package folder is no place to find one.
    RestrictDllSearchToSystem32();
    // A privileged run follows no junction or link a user made (where Windows can tell).
    ForbidUsersLinksWhenPrivileged();
    return RunApplication();
}
