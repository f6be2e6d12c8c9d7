// The screen the windows are on, and the libraries the process loads.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "StrictOs.h"

struct FakeScreen : OsLayer<FakeScreen> {
    FakeScreen();

    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    bool highContrast = false;
    // Every SetDialogDpiChangeBehavior, in order. AdjustWindowRectExForDpi grows a client
    // rectangle by the frame of its style at its DPI, as documented; here 4 pixels a side
    // and a caption of 30 (WS_CAPTION) at 96 DPI, scaled.
    struct DialogDpiCall {
        HWND dialog;
        int mask, values;
    };
    std::vector<DialogDpiCall> dialogDpiCalls;
};

// The real libraries, but for what a test takes away.
struct FakeLibraries : OsLayer<FakeLibraries> {
    FakeLibraries();

    bool libraryMissing = false;  // the port library gone from the program's folder
    bool exportsMissing = false;  // a library without the exports asked for
    // What GetModuleFileNameW gives for the program; the real one when empty.
    std::wstring programPath;
};
