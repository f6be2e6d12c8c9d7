// The progress window for real, under Wine: its start and end paths, and a whole run
// through it against the loader on the fake port.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "FakeOs.h"
#include "LoaderPeer.h"
#include "PackageDir.h"
#include "PostedMessageHook.h"
#include "engine/ChargementDlg.h"
#include "engine/RunResult.h"
#include "res/resource.h"
#include "winfw/Gdi.h"

namespace {

const char kNoOptions[] = "00000000000000000000000000";

void WritePackage(PackageDir& dir)
{
    WriteOpenCatalogue(dir, {"A.PDF", "B.DDF"});
    dir.Write("A.PDF", std::string(1000, 'a'));
    dir.Write("B.DDF", std::string(300, 'b'));
}

TEST(ChargementDlg, EmptyPortTextEndsAtOnceWithoutAWorker)
{
    FakeOs os;
    CChargementDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetResult(), RUN_NO_PORT);
    EXPECT_EQ(os.threadsCreated, 0);
    EXPECT_TRUE(os.port.writes.empty());
}

TEST(ChargementDlg, WorkerThatCannotStartClosesTheWindowAsFailed)
{
    FakeOs os;
    os.failCreateThread = true;
    CChargementDlg dialog;
    dialog.SetPortName("COM7");
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetResult(), RUN_DOWNLOAD_UNDEFINED);
    EXPECT_TRUE(os.Logged("Erreur lors de la creation du thread"));
}

// A whole run in the window against a reader listing `apps`: what DoModal returned, and
// the window and reader afterwards.
struct WindowRun {
    INT_PTR modal;
    int result;
    bool succeeded;
    std::vector<std::string> stored;
    int threads;
};

WindowRun RunInWindow(const std::string& portText, const std::vector<std::string>& apps,
                      const std::function<void(LoaderPeer&)>& arrange = nullptr)
{
    FakeOsOnRealFiles os;
    PackageDir dir;
    WritePackage(dir);
    LoaderPeer peer(os, LoaderScenario("M30", kNoOptions, apps));
    if (arrange)
        arrange(peer);
    CChargementDlg dialog;
    dialog.SetPortName(portText);
    const INT_PTR modal = dialog.DoModal();
    return WindowRun{modal, dialog.GetResult(), dialog.Succeeded(), peer.StoredOrder(), os.threadsCreated};
}

TEST(ChargementDlg, RunEndsTheWindowWithOkOnlyOnSuccess)
{
    const WindowRun ok = RunInWindow("DORAN Kavron USB (COM7)", {"SANTE"});
    EXPECT_EQ(ok.modal, IDOK);
    EXPECT_EQ(ok.result, RUN_SUCCEEDED);
    EXPECT_TRUE(ok.succeeded);
    EXPECT_EQ(ok.stored, (std::vector<std::string>{"A.PDF", "B.DDF"}));
    EXPECT_EQ(ok.threads, 1);

    const WindowRun refused = RunInWindow("COM7", {"AUTRE"});
    EXPECT_EQ(refused.modal, IDCANCEL);
    EXPECT_EQ(refused.result, RUN_CONSTRAINTS_NOT_MET);
    EXPECT_FALSE(refused.succeeded);
}

TEST(ChargementDlg, QuitDuringTheRunWaitsForTheRunThenIsPassedOn)
{
    // Another part of the program asks the window's thread to quit while files are sent:
    // the window and its terminal stay until the run is over.
    const DWORD uiThread = ::GetCurrentThreadId();
    const WindowRun run = RunInWindow("COM7", {"SANTE"}, [uiThread](LoaderPeer& peer) {
        peer.onCommand = [uiThread](int code) {
            if (code == rsim::kCmdAuthorise)
                ::PostThreadMessageA(uiThread, WM_QUIT, 3, 0);
        };
    });
    EXPECT_EQ(run.modal, IDOK);
    EXPECT_EQ(run.result, RUN_SUCCEEDED);
    EXPECT_EQ(run.stored, (std::vector<std::string>{"A.PDF", "B.DDF"}));
    MSG quit = {};
    ASSERT_TRUE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 3u);
}

TEST(ChargementDlg, GradientPenFollowsTheRowsAndNeverPassesTheLast)
{
    // Row 0 is drawn with pen 0; row y > 0 with the pen chosen after row y - 1.
    const int h = 170;
    EXPECT_EQ(ProgressGradientPen(0, h), 0);
    EXPECT_EQ(ProgressGradientPen(h / 2 - 1, h), 22);
    EXPECT_EQ(ProgressGradientPen(h - 1, h), 44); // the last row, y = h, uses pen 44
    EXPECT_EQ(ProgressGradientPen(h, h), 44);
    for (int height = 1; height < 400; ++height)
        for (int y = 0; y <= height; ++y)
            ASSERT_LE(ProgressGradientPen(y, height), 44) << y << " of " << height;
    EXPECT_EQ(ProgressGradientPen(0, 0), 0); // no client height: no division
}

TEST(ChargementDlg, MovedToAnotherDpiAndIntoHighContrastBeforeTheRun)
{
    // Looked at when the run is about to start: the window then ends, having no port.
    FakeOs os;
    os.dpi = 120;
    CChargementDlg dialog;
    int dpiAtStart = 0;
    RECT bar = {}, barAfter = {}, window = {}, suggested = {};
    LONG fontBefore = 0, fontAfter = 0;
    COLORREF normal = 0, contrast = 0, normalAgain = 0;
    const auto rectOf = [](HWND control) {
        RECT r = {};
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const auto fontOf = [](HWND control) {
        LOGFONTA font = {};
        ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfHeight;
    };
    const auto background = [](HWND w) {
        const WindowDC screen(w);
        const MemoryDC memory(screen.Get());
        const Bitmap bitmap(::CreateCompatibleBitmap(screen.Get(), 8, 8));
        const Selection selected(memory.Get(), bitmap.Get());
        ::SendMessageA(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory.Get()), 0);
        return ::GetPixel(memory.Get(), 2, 2);
    };
    PostedMessageHook hook(WM_UPDATE_START, [&](HWND w) {
        dpiAtStart = dialog.Dpi();
        HWND total = ::GetDlgItem(w, IDC_TOTAL_PROGRESS);
        bar = rectOf(total);
        fontBefore = fontOf(::GetDlgItem(w, IDC_STEP_TEXT));
        ::GetWindowRect(w, &suggested);
        suggested.right = suggested.left + (suggested.right - suggested.left) * 2;
        suggested.bottom = suggested.top + (suggested.bottom - suggested.top) * 2;
        ::SendMessageA(w, WM_DPICHANGED, MAKEWPARAM(240, 240), reinterpret_cast<LPARAM>(&suggested));
        ::GetWindowRect(w, &window);
        barAfter = rectOf(total);
        fontAfter = fontOf(::GetDlgItem(w, IDC_STEP_TEXT));
        normal = background(w);
        os.highContrast = true;
        ::SendMessageA(w, WM_SYSCOLORCHANGE, 0, 0);
        contrast = background(w);
        os.highContrast = false;
        ::SendMessageA(w, WM_SYSCOLORCHANGE, 0, 0);
        normalAgain = background(w);
        return true;
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    ASSERT_TRUE(hook.Ran());
    EXPECT_EQ(dpiAtStart, 120);
    EXPECT_EQ(dialog.Dpi(), 240);
    EXPECT_TRUE(EqualRect(&window, &suggested));
    // Every control and the dialog's font, from 120 DPI to 240: twice the size.
    EXPECT_EQ(barAfter.left, bar.left * 2);
    EXPECT_EQ(barAfter.top, bar.top * 2);
    EXPECT_EQ(barAfter.right, bar.right * 2);
    EXPECT_EQ(barAfter.bottom, bar.bottom * 2);
    EXPECT_NE(fontBefore, 0);
    EXPECT_EQ(fontAfter, fontBefore * 2);
    // The gradient's first rows, the system's window colour in high contrast, and back.
    EXPECT_EQ(normal, RGB(250, 250, 250));
    EXPECT_EQ(contrast, ::GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(normalAgain, RGB(250, 250, 250));
}

TEST(ChargementDlg, CallbackContextCarriesTheWindowHandle)
{
    HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ContextToHandle(HandleToContext(window)), window);
    ::DestroyWindow(window);
}

} // namespace
