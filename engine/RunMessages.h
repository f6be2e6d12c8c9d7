// The progress window's own messages: the file bar, the file text and the start of the run.
//
// They lie in the WM_USER range, whose meanings belong to the window class; for a dialog
// WM_USER + 1 and WM_USER + 2 are also the dialog manager's DM_SETDEFID and DM_REPOSITION.
// That is safe here. The dialog manager asks a dialog for its default push button with
// DM_GETDEFID (WM_USER + 0, on Enter for one), a number none of ours has. DM_SETDEFID and
// DM_REPOSITION are requests a program makes of a dialog (another default push button,
// back inside the desktop): nothing in this program makes them, the progress window has no
// push button, and the messages below are posted only by our own code (the run's callbacks
// and the window itself) to that window. The window takes the three as its own and never
// lets them through to the default processing; were another program to send either
// request, the window would only show its file bar or file text again from what it holds.
// Messages added later go from WM_APP on.
#pragma once
#include <windows.h>

// The file bar is brought to the percentage the run last handed over.
constexpr UINT WM_UPDATE_PERCENT = WM_USER + 1;
// The file text names the module the run last handed over.
constexpr UINT WM_UPDATE_MODULE = WM_USER + 2;
// Posted once by the window to itself at its initialisation: the worker starts.
constexpr UINT WM_UPDATE_START = WM_USER + 3;

static_assert(WM_UPDATE_PERCENT == DM_SETDEFID && WM_UPDATE_MODULE == DM_REPOSITION,
              "the numbers the comment above speaks of");
static_assert(WM_UPDATE_START > DM_REPOSITION, "no dialog manager message has this number");
