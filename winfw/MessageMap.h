// A window class's message map: a table of typed entries, the first that matches a message
// takes it. The table is a plain array the compiler counts:
//
//     using Entry = MessageEntry<CMyDlg>;
//     static constexpr Entry kEntries[] = {
//         Entry::Message(WM_CLOSE, &CMyDlg::OnClose),
//         Entry::Command(IDC_START, BN_CLICKED, &CMyDlg::OnStart),
//     };
//     return DispatchMessageMap(this, kEntries, message, w, l, result);
#pragma once
#include <windows.h>

#include <cstddef>

template <class T>
class MessageEntry {
public:
    using Handler = LRESULT (T::*)(WPARAM, LPARAM);
    // The brush of a control-colour message, given the message for the default colouring.
    using ColorHandler = HBRUSH (T::*)(UINT, WPARAM, LPARAM);

    // The message, whatever its parameters.
    static constexpr MessageEntry Message(UINT message, Handler handler)
    {
        return MessageEntry(Match::Message, message, 0, 0, handler, nullptr);
    }
    // WM_COMMAND from one control with one notification code.
    static constexpr MessageEntry Command(int controlId, UINT notifyCode, Handler handler)
    {
        return MessageEntry(Match::Command, WM_COMMAND, static_cast<UINT_PTR>(controlId), notifyCode,
                            handler, nullptr);
    }
    // WM_TIMER of one timer; the others are left to the default processing.
    static constexpr MessageEntry Timer(UINT_PTR timerId, Handler handler)
    {
        return MessageEntry(Match::Timer, WM_TIMER, timerId, 0, handler, nullptr);
    }
    // Every WM_CTLCOLOR* message; the brush is the result.
    static constexpr MessageEntry ControlColors(ColorHandler handler)
    {
        return MessageEntry(Match::ControlColors, 0, 0, 0, nullptr, handler);
    }
    // The message, which the default processing then receives as well: the handler only
    // takes note of it.
    static constexpr MessageEntry Notice(UINT message, Handler handler)
    {
        return MessageEntry(Match::Notice, message, 0, 0, handler, nullptr);
    }

    bool Matches(UINT message, WPARAM w) const
    {
        switch (m_match) {
        case Match::Message:
        case Match::Notice:
            return message == m_message;
        case Match::Command:
            return message == WM_COMMAND && LOWORD(w) == m_id && HIWORD(w) == m_code;
        case Match::Timer:
            return message == WM_TIMER && w == m_id;
        case Match::ControlColors:
            return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
        }
        return false;
    }

    // Runs the handler; false when the message must still go to the default processing.
    bool Run(T& self, UINT message, WPARAM w, LPARAM l, LRESULT& result) const
    {
        if (m_match == Match::ControlColors) {
            result = reinterpret_cast<LRESULT>((self.*m_colorHandler)(message, w, l));
            return true;
        }
        const LRESULT handled = (self.*m_handler)(w, l);
        if (m_match == Match::Notice)
            return false;
        result = handled;
        return true;
    }

private:
    enum class Match { Message, Command, Timer, ControlColors, Notice };

    constexpr MessageEntry(Match match, UINT message, UINT_PTR id, UINT code, Handler handler,
                           ColorHandler colorHandler)
        : m_match(match), m_message(message), m_id(id), m_code(code), m_handler(handler),
          m_colorHandler(colorHandler)
    {
    }

    Match m_match;
    UINT m_message;
    UINT_PTR m_id;
    UINT m_code;
    Handler m_handler;
    ColorHandler m_colorHandler;
};

// Offers the message to the entries in order; true when one took it, with its result.
template <class T, std::size_t N>
bool DispatchMessageMap(T* self, const MessageEntry<T> (&map)[N], UINT message, WPARAM w, LPARAM l,
                        LRESULT& result)
{
    for (const MessageEntry<T>& entry : map) {
        if (entry.Matches(message, w))
            return entry.Run(*self, message, w, l, result);
    }
    return false;
}
