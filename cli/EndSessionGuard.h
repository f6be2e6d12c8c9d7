// While readers are being updated, the console program refuses to let the session end, as
// the updater's main window does.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

// A hidden top-level window of its own thread, for the object's lifetime: it answers
// WM_QUERYENDSESSION with FALSE and shows the updater's shutdown reason. A console
// program that uses windows gets no CTRL_SHUTDOWN_EVENT or CTRL_LOGOFF_EVENT: Windows
// asks its windows instead. When the window cannot be made, nothing is refused.
class EndSessionGuard {
public:
    EndSessionGuard();
    ~EndSessionGuard();
    EndSessionGuard(const EndSessionGuard&) = delete;
    EndSessionGuard& operator=(const EndSessionGuard&) = delete;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    void Serve();

    std::mutex m_lock;
    std::condition_variable m_ready;
    bool m_started = false; // the thread has made its window, or failed to
    HWND m_window = nullptr;
    std::thread m_thread;
};
