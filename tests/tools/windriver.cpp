// windriver: works another program's windows as an operator would, from outside, for the
// window tests and the demo. One command per run; texts are printed in UTF-8 on one line,
// with "\\", "\r" and "\n" written as \\, \r and \n. Exit 0 when the command succeeded,
// 1 when it failed or timed out (with the reason on stderr), 2 on a bad command line.
//   wait TITLE MS                  a visible top-level window captioned TITLE exists
//   gone TITLE MS                  none exists any more
//   goneclass CLASS MS             no window of that class exists any more
//   origin TITLE                   "x y": where the window's client area starts on the screen
//   text TITLE ID                  the text of control ID
//   waittext TITLE ID TEXT MS      until control ID shows TEXT
//   enabled TITLE ID               1 or 0
//   waitenabled TITLE ID 0|1 MS    until control ID is (1) or is not (0) enabled
//   items TITLE ID                 a combo box's entries, one a line, "* " before the selected
//   selected TITLE ID              the selected entry of a combo box (an empty line if none)
//   waitselected TITLE ID TEXT MS  until TEXT is the selected entry ("" for none)
//   pick TITLE ID TEXT             selects an entry as the operator does (CBN_SELCHANGE)
//   dropdown TITLE ID              opens the list as the operator does, then closes it
//   click TITLE ID                 presses a button (posted: the press may start a long run)
//   key TITLE ID VK                a key press posted to control ID (0: the window itself)
//   press TITLE VK                 a key pressed on the keyboard while the window is in front
//                                  (F1 becomes WM_HELP only this way)
//   rect TITLE ID                  "x y width height" of control ID in the window's client area
//   focus TITLE                    the id and class of the control that has the focus
//   box CAPTION MS                 waits for a message box and prints its text
//   answer CAPTION MS              presses the message box's first button
//   capture CLASS FILE MS          waits for a visible window of that class and saves the
//                                  screen around it (24-bit BMP)
//   close TITLE                    posts WM_CLOSE
//   queryendclass CLASS            what a window of that class, shown or not, answers when
//                                  Windows asks whether the session may end
//   debuglines MS                  prints every diagnostic line any program writes for MS
//                                  milliseconds, as a debug monitor reads them (DBWIN_BUFFER)
//   layout TITLE                   "client W H", then one line per child window in z order:
//                                  "id class x y width height visible" (client coordinates)
//   dpisize TITLE DPI MS           waits for the window, then asks the window size it wants
//                                  at DPI as Windows asks a PerMonitorV2 window before moving
//                                  it to another screen: "ANSWER WIDTH HEIGHT"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kCaptureMargin = 24;

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                            nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                              nullptr, nullptr);
    return out;
}

void PrintLine(const std::wstring& text)
{
    std::string escaped;
    for (char c : Utf8(text)) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    std::printf("%s\n", escaped.c_str());
}

bool Fail(const char* what)
{
    std::fprintf(stderr, "windriver: %s\n", what);
    return false;
}

// Polls `ready` until it holds or `ms` have passed.
template <typename Ready>
bool WaitFor(DWORD ms, Ready ready)
{
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (;;) {
        if (ready())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(kPollMs);
    }
}

HWND VisibleWindow(const wchar_t* className, const wchar_t* title)
{
    HWND window = ::FindWindowW(className, title);
    return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
}

HWND Control(const std::wstring& title, int id)
{
    HWND window = VisibleWindow(nullptr, title.c_str());
    if (window == nullptr)
        return nullptr;
    return id == 0 ? window : ::GetDlgItem(window, id);
}

std::wstring TextOf(HWND window)
{
    wchar_t text[4096] = {};
    const LRESULT n = ::SendMessageW(window, WM_GETTEXT, sizeof text / sizeof text[0],
                                     reinterpret_cast<LPARAM>(text));
    return std::wstring(text, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::vector<std::wstring> Entries(HWND combo)
{
    std::vector<std::wstring> entries;
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length > 4000)
            continue;
        std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        entries.emplace_back(text.data());
    }
    return entries;
}

std::wstring SelectedEntry(HWND combo)
{
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    const std::vector<std::wstring> entries = Entries(combo);
    if (index == CB_ERR || index < 0 || static_cast<std::size_t>(index) >= entries.size())
        return std::wstring();
    return entries[static_cast<std::size_t>(index)];
}

bool Pick(HWND combo, const std::wstring& text)
{
    const LRESULT index = ::SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(text.c_str()));
    if (index == CB_ERR)
        return Fail("no such entry");
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A choice in the list tells the owner; setting the selection alone does not.
    ::PostMessageW(::GetParent(combo), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return true;
}

bool SaveBmp(const wchar_t* path, int width, int height, const std::vector<unsigned char>& rows)
{
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(rows.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::FILE* out = _wfopen(path, L"wb");
    if (out == nullptr)
        return Fail("cannot write the capture");
    const bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                    std::fwrite(&info, sizeof info, 1, out) == 1 &&
                    std::fwrite(rows.data(), 1, rows.size(), out) == rows.size();
    std::fclose(out);
    return ok || Fail("short write of the capture");
}

// The screen around a window, as it is shown.
bool Capture(HWND window, const wchar_t* path)
{
    RECT area = {};
    ::GetWindowRect(window, &area);
    area.left = area.left > kCaptureMargin ? area.left - kCaptureMargin : 0;
    area.top = area.top > kCaptureMargin ? area.top - kCaptureMargin : 0;
    area.right += kCaptureMargin;
    area.bottom += kCaptureMargin;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return Fail("window of no size");
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::SelectObject(memory, previous);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    std::vector<unsigned char> rows(stride * static_cast<std::size_t>(height));
    const int got = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), rows.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (got != height)
        return Fail("cannot read the screen");
    return SaveBmp(path, width, height, rows);
}

// Asks `window` its size at `dpi` (WM_GETDPISCALEDSIZE). The SIZE lives in the window's own
// process: the message's pointer is handed over as it is.
bool AskScaledSize(HWND window, UINT dpi)
{
    constexpr UINT kGetDpiScaledSize = 0x02E4;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr)
        return Fail("cannot open the window's process");
    bool ok = false;
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof(SIZE), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE size = {0, 0};
    DWORD_PTR answer = 0;
    if (remote == nullptr)
        Fail("cannot reach the window's memory");
    else if (!::WriteProcessMemory(process, remote, &size, sizeof size, nullptr) ||
             !::SendMessageTimeoutW(window, kGetDpiScaledSize, dpi, reinterpret_cast<LPARAM>(remote),
                                    SMTO_BLOCK, 5000, &answer) ||
             !::ReadProcessMemory(process, remote, &size, sizeof size, nullptr))
        Fail("no answer");
    else
        ok = true;
    if (remote != nullptr)
        ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    if (ok)
        std::printf("%lld %ld %ld\n", static_cast<long long>(answer), size.cx, size.cy);
    return ok;
}

int Done(bool ok, const char* failure)
{
    return ok ? 0 : (Fail(failure), 1);
}

// A visible window once it is shown within `ms`; null otherwise.
HWND WaitShown(const wchar_t* className, const wchar_t* title, DWORD ms)
{
    HWND window = nullptr;
    WaitFor(ms, [&] { return (window = VisibleWindow(className, title)) != nullptr; });
    return window;
}

int Gone(const wchar_t* className, const wchar_t* title, DWORD ms)
{
    return Done(WaitFor(ms, [&] { return ::FindWindowW(className, title) == nullptr; }), "window still there");
}

// What the window answers when Windows asks whether the session may end.
int QueryEnd(HWND window)
{
    DWORD_PTR answer = 1;
    if (window == nullptr ||
        !::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &answer))
        return Done(false, "no answer");
    PrintLine(answer != 0 ? L"allowed" : L"refused");
    return 0;
}

// The debug monitor's protocol: the buffer holds the writer's process id, then the line.
int DebugLines(DWORD ms)
{
    constexpr DWORD kBufferSize = 4096;
    HANDLE bufferReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    HANDLE dataReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kBufferSize, L"DBWIN_BUFFER");
    const void* view = mapping != nullptr ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kBufferSize) : nullptr;
    if (bufferReady == nullptr || dataReady == nullptr || view == nullptr)
        return Done(false, "no debug buffer");
    const char* text = static_cast<const char*>(view) + sizeof(DWORD);
    const ULONGLONG end = ::GetTickCount64() + ms;
    ::SetEvent(bufferReady);
    while (::GetTickCount64() < end) {
        if (::WaitForSingleObject(dataReady, 100) != WAIT_OBJECT_0)
            continue;
        std::printf("%.*s\n", static_cast<int>(::strnlen(text, kBufferSize - sizeof(DWORD))), text);
        std::fflush(stdout);
        ::SetEvent(bufferReady);
    }
    ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
    ::CloseHandle(dataReady);
    ::CloseHandle(bufferReady);
    return 0;
}

// One command's words (a[0] the command, a[1] its window) and, for the commands on one
// control, that control.
struct Args {
    const std::vector<std::wstring>& a;
    HWND control;
    const wchar_t* Text(std::size_t i) const { return a[i].c_str(); }
    DWORD Ms(std::size_t i) const { return static_cast<DWORD>(std::wcstoul(a[i].c_str(), nullptr, 10)); }
    int Id(std::size_t i) const { return static_cast<int>(std::wcstol(a[i].c_str(), nullptr, 0)); }
    HWND Window() const { return VisibleWindow(nullptr, Text(1)); }
    HWND ControlNow() const { return Control(a[1], Id(2)); }
    // Until the control exists and `shows` holds of it, for a[4] ms.
    template <typename Shows>
    bool ControlShows(Shows shows) const
    {
        return WaitFor(Ms(4), [&] { HWND c = ControlNow(); return c != nullptr && shows(c); });
    }
};

struct Command {
    const wchar_t* name;
    std::size_t words;  // the command's own included
    bool onControl;     // refused unless window a[1] has control a[2]
    int (*run)(const Args&);
};

const Command kCommands[] = {
    {L"wait", 3, false, [](const Args& a) {
         return Done(WaitShown(nullptr, a.Text(1), a.Ms(2)) != nullptr, "window not shown");
     }},
    {L"gone", 3, false, [](const Args& a) { return Gone(nullptr, a.Text(1), a.Ms(2)); }},
    {L"goneclass", 3, false, [](const Args& a) { return Gone(a.Text(1), nullptr, a.Ms(2)); }},
    {L"queryend", 2, false, [](const Args& a) { return QueryEnd(a.Window()); }},
    {L"queryendclass", 2, false, [](const Args& a) { return QueryEnd(::FindWindowW(a.Text(1), nullptr)); }},
    {L"origin", 2, false, [](const Args& a) {
         HWND window = a.Window();
         POINT corner = {0, 0};
         if (window == nullptr || !::ClientToScreen(window, &corner))
             return Done(false, "no window");
         std::printf("%ld %ld\n", corner.x, corner.y);
         return 0;
     }},
    {L"box", 3, false, [](const Args& a) {
         HWND box = WaitShown(L"#32770", a.Text(1), a.Ms(2));
         if (box == nullptr)
             return Done(false, "no message box");
         PrintLine(TextOf(::GetDlgItem(box, kMessageBoxTextId)));
         return 0;
     }},
    {L"answer", 3, false, [](const Args& a) {
         HWND box = WaitShown(L"#32770", a.Text(1), a.Ms(2));
         if (box == nullptr)
             return Done(false, "no message box");
         HWND button = ::FindWindowExW(box, nullptr, L"Button", nullptr);
         if (button == nullptr)
             return Done(false, "message box without button");
         ::PostMessageW(button, BM_CLICK, 0, 0);
         return Done(WaitFor(a.Ms(2), [&] { return !::IsWindow(box); }), "box still open");
     }},
    {L"capture", 4, false, [](const Args& a) {
         HWND window = nullptr;
         if (!WaitFor(a.Ms(3), [&] {
                 window = VisibleWindow(a.Text(1), nullptr);
                 RECT r = {};
                 return window != nullptr && ::GetWindowRect(window, &r) && r.right > r.left;
             }))
             return Done(false, "no such window shown");
         // Let it paint before the picture is taken: a while for the paint to be asked for,
         // then until nothing of it is waiting to be painted.
         ::Sleep(60);
         WaitFor(300, [&] { return !::GetUpdateRect(window, nullptr, FALSE); });
         return Capture(window, a.Text(2)) ? 0 : 1;
     }},
    {L"debuglines", 2, false, [](const Args& a) { return DebugLines(a.Ms(1)); }},
    {L"layout", 2, false, [](const Args& a) {
         HWND window = a.Window();
         RECT client = {};
         if (window == nullptr || !::GetClientRect(window, &client))
             return Done(false, "no window");
         std::printf("client %ld %ld\n", client.right, client.bottom);
         for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
             RECT r = {};
             ::GetWindowRect(child, &r);
             ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
             wchar_t className[64] = {};
             ::GetClassNameW(child, className, 63);
             std::printf("%d %s %ld %ld %ld %ld %d\n", ::GetDlgCtrlID(child), Utf8(className).c_str(), r.left,
                         r.top, r.right - r.left, r.bottom - r.top, ::IsWindowVisible(child) ? 1 : 0);
         }
         return 0;
     }},
    {L"dpisize", 4, false, [](const Args& a) {
         HWND window = WaitShown(nullptr, a.Text(1), a.Ms(3));
         if (window == nullptr)
             return Done(false, "window not shown");
         return AskScaledSize(window, static_cast<UINT>(a.Id(2))) ? 0 : 1;
     }},
    {L"close", 2, false, [](const Args& a) {
         HWND window = a.Window();
         return Done(window != nullptr && ::PostMessageW(window, WM_CLOSE, 0, 0), "no window");
     }},
    {L"press", 3, false, [](const Args& a) {
         HWND window = a.Window();
         if (window == nullptr)
             return Done(false, "no window");
         ::SetForegroundWindow(window);
         INPUT keys[2] = {};
         keys[0].type = keys[1].type = INPUT_KEYBOARD;
         keys[0].ki.wVk = keys[1].ki.wVk = static_cast<WORD>(a.Id(2));
         keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
         return Done(::SendInput(2, keys, sizeof keys[0]) == 2, "input refused");
     }},
    {L"focus", 2, false, [](const Args& a) {
         HWND window = a.Window();
         GUITHREADINFO info = {};
         info.cbSize = sizeof info;
         if (window == nullptr || !::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info))
             return Done(false, "no window");
         wchar_t className[64] = {};
         if (info.hwndFocus != nullptr)
             ::GetClassNameW(info.hwndFocus, className, 63);
         std::printf("%d %s\n", info.hwndFocus != nullptr ? ::GetDlgCtrlID(info.hwndFocus) : 0,
                     Utf8(className).c_str());
         return 0;
     }},
    {L"text", 3, true, [](const Args& a) { PrintLine(TextOf(a.control)); return 0; }},
    {L"waittext", 5, false, [](const Args& a) {
         return Done(a.ControlShows([&](HWND c) { return TextOf(c) == a.a[3]; }), "text not shown");
     }},
    {L"enabled", 3, true, [](const Args& a) { return std::printf("%d\n", ::IsWindowEnabled(a.control) ? 1 : 0), 0; }},
    {L"waitenabled", 5, false, [](const Args& a) {
         const bool wanted = a.a[3] == L"1";
         return Done(a.ControlShows([&](HWND c) { return (::IsWindowEnabled(c) != FALSE) == wanted; }),
                     "enabled state not reached");
     }},
    {L"items", 3, true, [](const Args& a) {
         const std::wstring selected = SelectedEntry(a.control);
         for (const std::wstring& entry : Entries(a.control))
             PrintLine((entry == selected ? L"* " : L"  ") + entry);
         return 0;
     }},
    {L"selected", 3, true, [](const Args& a) { PrintLine(SelectedEntry(a.control)); return 0; }},
    {L"waitselected", 5, false, [](const Args& a) {
         return Done(a.ControlShows([&](HWND c) { return SelectedEntry(c) == a.a[3]; }), "entry not selected");
     }},
    {L"pick", 4, true, [](const Args& a) { return Pick(a.control, a.a[3]) ? 0 : 1; }},
    {L"dropdown", 3, true, [](const Args& a) {
         // Opening sends CBN_DROPDOWN to the owner and returns once it is handled.
         ::SendMessageW(a.control, CB_SHOWDROPDOWN, TRUE, 0);
         ::SendMessageW(a.control, CB_SHOWDROPDOWN, FALSE, 0);
         return 0;
     }},
    {L"click", 3, true, [](const Args& a) { return ::PostMessageW(a.control, BM_CLICK, 0, 0) ? 0 : 1; }},
    {L"key", 4, true, [](const Args& a) {
         const auto key = static_cast<WPARAM>(a.Id(3));
         ::PostMessageW(a.control, WM_KEYDOWN, key, 1);
         ::PostMessageW(a.control, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
         return 0;
     }},
    {L"rect", 3, true, [](const Args& a) {
         RECT r = {};
         ::GetWindowRect(a.control, &r);
         ::MapWindowPoints(nullptr, ::GetParent(a.control), reinterpret_cast<POINT*>(&r), 2);
         std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
         return 0;
     }},
};

int Run(const std::vector<std::wstring>& words)
{
    for (const Command& command : kCommands) {
        if (words.size() != command.words || words[0] != command.name)
            continue;
        Args args{words, nullptr};
        if (command.onControl && (args.control = args.ControlNow()) == nullptr)
            return Done(false, "no such window or control");
        return command.run(args);
    }
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    const int code = Run(args);
    if (code == 2)
        std::fputs("windriver: bad command line (see the head of windriver.cpp)\n", stderr);
    std::fflush(stdout);
    return code;
}
