// Orvane.exe for now: the progress window alone, run on the port text given on the command
// line, then the outcome in a message box. The exit code is the run result code.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "engine/ChargementDlg.h"
#include "engine/RunResult.h"
#include "winfw/Diag.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    int result = RUN_DOWNLOAD_UNDEFINED;
    {
        CChargementDlg dialog;
        dialog.SetPortName(commandLine != nullptr ? commandLine : "");
        dialog.DoModal();
        result = dialog.GetResult();
    }
    ShowMessage(ResultBoxText(result), MB_OK | ResultBoxIcon(result));
    return result;
}
