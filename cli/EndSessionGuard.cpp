#include "EndSessionGuard.h"

#include "res/resource.h"

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
    switch (message) {
    case WM_QUERYENDSESSION:
        // Ending the session mid-transfer would leave a reader half-written.
        return FALSE;
    case WM_DESTROY:
        // Only the thread that made the window may withdraw its reason.
        ::ShutdownBlockReasonDestroy(window);
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, w, l);
    }
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
    if (window != nullptr) {
        wchar_t reason[256] = {};
        if (::LoadStringW(instance, IDS_SHUTDOWN_REASON, reason, 256) > 0)
            ::ShutdownBlockReasonCreate(window, reason);
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_window = window;
        m_started = true;
    }
    m_ready.notify_one();
    if (window == nullptr)
        return;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::UnregisterClassW(kClassName, instance);
}
