// Watches the updater's progress window as an operator would: its frame, its controls and
// what they show while the run goes on, and (with --interrupt) whether Enter, Escape or a
// close request end it. Every message box the program shows during the run is read and
// answered, then the outcome's box after the window has closed. One line of UTF-8 per
// observation.
//   progressprobe [--interrupt] [--box-delay MS] [CAPTION]
// CAPTION of the boxes, "Orvane" by default; a box stays MS milliseconds before it is
// answered, so that it can be looked at.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kStepText = 1005;
constexpr int kTotalBar = 1001;
constexpr int kFileText = 1018;
constexpr int kFileBar = 1002;
constexpr DWORD kSamplePeriodMs = 20;
DWORD g_boxDelayMs = 0;

std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr,
                              nullptr);
    return out;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string TextOf(HWND window)
{
    wchar_t buffer[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer));
    return Escaped(Utf8(buffer));
}

std::string ClassOf(HWND window)
{
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return Utf8(name);
}

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

HWND WaitForWindow(const wchar_t* caption, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (HWND w = ::FindWindowW(L"#32770", caption))
            return w;
        ::Sleep(50);
    }
    return nullptr;
}

BOOL CALLBACK ListChild(HWND child, LPARAM)
{
    Say("child\t" + std::to_string(::GetDlgCtrlID(child) & 0xFFFF) + "\t" + ClassOf(child) + "\t" +
        TextOf(child));
    return TRUE;
}

void DescribeFrame(HWND dialog)
{
    const LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
    Say("caption\t" + TextOf(dialog));
    Say(std::string("closebox\t") + ((style & WS_SYSMENU) != 0 ? "yes" : "no"));
    ::EnumChildWindows(dialog, ListChild, 0);
}

// Enter and Escape as the keyboard would send them, and a close request: none may end a run.
void TryToInterrupt(HWND dialog)
{
    for (HWND target : {dialog, ::GetDlgItem(dialog, kStepText), ::GetDlgItem(dialog, kFileBar)}) {
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            ::PostMessageW(target, WM_KEYDOWN, key, 1);
            ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        }
    }
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ::Sleep(1000);
    Say(std::string("interrupted\t") + (::IsWindow(dialog) ? "no" : "yes"));
    // Windows asks every top-level window before it shuts down or logs off.
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    DWORD_PTR answer = 1;
    ::SendMessageTimeoutW(owner, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &answer);
    Say(std::string("endsession\t") + (answer != 0 ? "allowed" : "refused"));
}

std::string Sample(HWND dialog)
{
    HWND total = ::GetDlgItem(dialog, kTotalBar);
    const LRESULT totalMax = ::SendMessageW(total, PBM_GETRANGE, FALSE, 0);
    return "state\t" + TextOf(::GetDlgItem(dialog, kStepText)) + "\t" +
           TextOf(::GetDlgItem(dialog, kFileText)) + "\t" +
           std::to_string(::SendMessageW(total, PBM_GETPOS, 0, 0)) + "/" + std::to_string(totalMax) +
           "\t" + std::to_string(::SendMessageW(::GetDlgItem(dialog, kFileBar), PBM_GETPOS, 0, 0));
}

// A message box is read, then answered with its OK button.
bool AnswerBox(const wchar_t* caption)
{
    HWND box = ::FindWindowW(L"#32770", caption);
    if (box == nullptr || !::IsWindowVisible(box))
        return false;
    Say("box\t" + TextOf(::GetDlgItem(box, 0xFFFF)));
    ::Sleep(g_boxDelayMs);
    ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    for (int i = 0; i < 100 && ::IsWindow(box); ++i)
        ::Sleep(kSamplePeriodMs);
    return true;
}

// A window being destroyed loses its controls first: what it shows then is no state.
bool ControlsPresent(HWND dialog)
{
    for (int id : {kStepText, kTotalBar, kFileText, kFileBar})
        if (::GetDlgItem(dialog, id) == nullptr)
            return false;
    return true;
}

void WatchUntilClosed(HWND dialog, const wchar_t* boxCaption)
{
    std::string last;
    while (::IsWindow(dialog)) {
        const std::string now = Sample(dialog);
        if (now != last && ::IsWindow(dialog) && ControlsPresent(dialog))
            Say(now);
        last = now;
        AnswerBox(boxCaption); // the run's own boxes wait for the operator
        ::Sleep(kSamplePeriodMs);
    }
    Say("closed");
}

void AnswerOutcome(const wchar_t* caption, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (AnswerBox(caption)) {
            Say("answered");
            return;
        }
        ::Sleep(50);
    }
    Say("no box");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool interrupt = false;
    const wchar_t* boxCaption = L"Orvane";
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--interrupt")
            interrupt = true;
        else if (std::wstring(argv[i]) == L"--box-delay" && i + 1 < argc)
            g_boxDelayMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        else
            boxCaption = argv[i];
    }
    HWND dialog = WaitForWindow(L"Chargement", 120000);
    if (dialog == nullptr) {
        Say("no progress window");
        return 1;
    }
    DescribeFrame(dialog);
    if (interrupt)
        TryToInterrupt(dialog);
    WatchUntilClosed(dialog, boxCaption);
    AnswerOutcome(boxCaption, 30000);
    return 0;
}
