#include "WindowImpl.h"

#include "Diag.h"

namespace {

// A window property rather than the user data slot: the slot belongs to whoever
// subclasses a window, the property name is ours alone.
const char kObjectProperty[] = "OrvaneWindowObject";

} // namespace

CWindowImpl::~CWindowImpl()
{
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::RemovePropA(m_hWnd, kObjectProperty);
        ::DestroyWindow(m_hWnd);
    }
}

CWindowImpl* CWindowImpl::FromHandle(HWND hwnd)
{
    if (hwnd == nullptr)
        return nullptr;
    return static_cast<CWindowImpl*>(::GetPropA(hwnd, kObjectProperty));
}

bool CWindowImpl::CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                           int x, int y, int width, int height, HWND owner)
{
    // A window destroyed inside the call (its creation refused after WM_NCCREATE) must not
    // end the object under it: the end comes below, once, whichever way creation failed.
    ++m_dispatchDepth;
    HWND hwnd = ::CreateWindowExA(exStyle, className, title, style, x, y, width, height, owner,
                                  nullptr, ::GetModuleHandleA(nullptr), this);
    --m_dispatchDepth;
    if (hwnd != nullptr)
        return true;
    PostNcDestroy();
    return false;
}

bool CWindowImpl::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK CWindowImpl::WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) noexcept
{
    CWindowImpl* self = nullptr;
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l);
        self = static_cast<CWindowImpl*>(create->lpCreateParams);
        if (self != nullptr) {
            ::SetPropA(hwnd, kObjectProperty, self);
            self->m_hWnd = hwnd;
        }
    } else {
        self = FromHandle(hwnd);
    }
    if (self == nullptr)
        return ::DefWindowProcA(hwnd, message, w, l);

    ++self->m_dispatchDepth;
    const LRESULT result = self->Route(message, w, l);
    if (message == WM_NCDESTROY) {
        ::RemovePropA(hwnd, kObjectProperty);
        self->m_hWnd = nullptr;
        self->m_destroyed = true;
    }
    --self->m_dispatchDepth;
    if (self->m_destroyed && self->m_dispatchDepth == 0)
        self->PostNcDestroy();
    return result;
}

LRESULT CWindowImpl::Route(UINT message, WPARAM w, LPARAM l)
{
    LRESULT result = 0;
    try {
        if (OnMessage(message, w, l, result))
            return result;
    } catch (...) {
        // Nothing may unwind through the system's window procedure.
        LogLine("Erreur inattendue dans le traitement du message %u", message);
    }
    return ::DefWindowProcA(m_hWnd, message, w, l);
}
