#include "EndSessionGuard.h"

#include "res/resource.h"
#include "winfw/SessionHold.h"

namespace {

const wchar_t kClassName[] = L"OrvaneCliEndSession";

} // namespace

EndSessionGuard::EndSessionGuard()
{
    try {
        m_thread = std::thread([this] { Serve(); });
    } catch (...) {
        return; // no thread: the session is not held
    }
    std::unique_lock<std::mutex> hold(m_lock);
    m_ready.wait(hold, [this] { return m_started; });
}

EndSessionGuard::~EndSessionGuard()
{
    if (!m_thread.joinable())
        return;
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        window = m_window;
    }
    if (window != nullptr)
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    m_thread.join();
}

LRESULT CALLBACK EndSessionGuard::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_QUERYENDSESSION)
        return SessionHold::QueryEndSession(true);
    if (message != WM_CLOSE)
        return ::DefWindowProcW(window, message, w, l);
    // The window goes once its thread has withdrawn the reason.
    ::PostQuitMessage(0);
    return 0;
}

void EndSessionGuard::Serve()
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    const bool registered = ::RegisterClassW(&windowClass) != 0;
    // Top-level and never shown: a message-only window is not asked about the session.
    HWND window = registered ? ::CreateWindowExW(0, kClassName, L"OrvaneCli", WS_OVERLAPPED, 0,
                                                 0, 0, 0, nullptr, nullptr, instance, nullptr)
                             : nullptr;
    // Ready once the reason is shown, or nothing will be.
    const auto started = [this, window] {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_window = window;
            m_started = true;
        }
        m_ready.notify_one();
    };
    if (window == nullptr)
        return started();
    {
        const SessionHold hold(window, IDS_SHUTDOWN_REASON);
        started();
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    ::DestroyWindow(window);
    ::UnregisterClassW(kClassName, instance);
}
