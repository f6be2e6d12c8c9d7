// Looks into a modal window from its own loop: when a message posted on this thread is taken
// from the queue, before any window sees it, the check runs with the window it is for. The
// check says whether the message goes on to the window.
#pragma once
#include <windows.h>

#include <functional>

class PostedMessageHook {
public:
    using Check = std::function<bool(HWND window)>;

    // Only the first such message is looked at.
    PostedMessageHook(UINT message, Check check) : m_message(message), m_check(std::move(check))
    {
        Current() = this;
        m_hook = ::SetWindowsHookExA(WH_GETMESSAGE, Proc, nullptr, ::GetCurrentThreadId());
    }
    ~PostedMessageHook()
    {
        if (m_hook != nullptr)
            ::UnhookWindowsHookEx(m_hook);
        Current() = nullptr;
    }
    PostedMessageHook(const PostedMessageHook&) = delete;
    PostedMessageHook& operator=(const PostedMessageHook&) = delete;

    bool Ran() const { return m_ran; }

private:
    static PostedMessageHook*& Current()
    {
        static PostedMessageHook* current = nullptr;
        return current;
    }

    static LRESULT CALLBACK Proc(int code, WPARAM removed, LPARAM l)
    {
        PostedMessageHook* self = Current();
        auto* msg = reinterpret_cast<MSG*>(l);
        if (code == HC_ACTION && removed == PM_REMOVE && self != nullptr && !self->m_ran &&
            msg->message == self->m_message) {
            self->m_ran = true;
            if (!self->m_check(msg->hwnd))
                msg->message = WM_NULL;
        }
        return ::CallNextHookEx(nullptr, code, removed, l);
    }

    UINT m_message;
    Check m_check;
    HHOOK m_hook = nullptr;
    bool m_ran = false;
};
