// While a reader is being written, the program's windows refuse the end of the session: a
// shutdown or log-off would leave the reader half-written. Windows asks the windows first,
// and shows the reason of those that refuse.
#pragma once
#include <windows.h>

#include "Dialog.h"

class SessionHold {
public:
    // Shows string `reasonId` as `window`'s reason, and sets `*holding`, while it lives; made
    // and gone on the window's thread, the only one that may withdraw the reason.
    SessionHold(HWND window, UINT reasonId, bool* holding = nullptr)
        : m_window(window), m_holding(holding)
    {
        wchar_t reason[256] = {};
        if (::LoadStringW(ResourceInstance(), reasonId, reason, 256) > 0)
            m_reasonShown = ::ShutdownBlockReasonCreate(m_window, reason) != FALSE;
        if (m_holding != nullptr)
            *m_holding = true;
    }
    ~SessionHold()
    {
        if (m_holding != nullptr)
            *m_holding = false;
        if (m_reasonShown)
            ::ShutdownBlockReasonDestroy(m_window);
    }
    SessionHold(const SessionHold&) = delete;
    SessionHold& operator=(const SessionHold&) = delete;

    // The answer to WM_QUERYENDSESSION of a window that holds the session when `holding`.
    static LRESULT QueryEndSession(bool holding) { return holding ? FALSE : TRUE; }

private:
    HWND m_window;
    bool* m_holding;
    bool m_reasonShown = false;
};
