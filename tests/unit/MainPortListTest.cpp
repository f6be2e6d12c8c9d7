// The main window's port list: its rules over entry texts, and the collection of the
// machine's ports through the library double beside the test program (scripted per test)
// and the fake port probes of the OS seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FakeOs.h"
#include "PostedMessageHook.h"
#include "app/ChargeurDlg.h"
#include "app/Drawing.h"
#include "app/PortQuery.h"
#include "app/PortRules.h"
#include "engine/ChargementDlg.h"
#include "portlib/Tessock.h"
#include "res/resource.h"
#include "winfw/Gdi.h"
#include "winfw/SystemLibrary.h"

using Texts = std::vector<std::string>;

namespace {

using ScriptFn = void(__cdecl*)(const char*, const int*, int, int, int, int);
using QueriesFn = int(__cdecl*)();

// Scripts the double's next two queries: rows of descriptions and numbers, the counts it
// reports for each property, and which query (1 or 2) answers false.
void ScriptPorts(const char* descriptions, const std::vector<int>& numbers, int descriptionCount,
                 int locationCount, int failingQuery = 0)
{
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    ASSERT_NE(library, nullptr);
    const auto script = reinterpret_cast<ScriptFn>(
        reinterpret_cast<void*>(::GetProcAddress(library, "doubleScriptPorts")));
    ASSERT_NE(script, nullptr);
    script(descriptions, numbers.data(), static_cast<int>(numbers.size()), descriptionCount,
           locationCount, failingQuery);
}

int QueriesMade()
{
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    const auto queries = reinterpret_cast<QueriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(library, "doublePortQueries")));
    return queries != nullptr ? queries() : -1;
}

} // namespace

TEST(PortRules, EntryTextsPairDescriptionsWithNumbers)
{
    EXPECT_EQ(ports::EntryText("DORAN Kavron USB", 5), "DORAN Kavron USB (COM5)");
    EXPECT_EQ(ports::ProbedEntryText(12), "Port COM12 (COM12)");

    PortTable descriptions;
    PortTable numbers;
    const char* names[] = {"Communications Port", "DORAN Kavron USB", "Modem"};
    for (int i = 0; i < 3; ++i) {
        std::strcpy(descriptions.Rows()[i].propertyText, names[i]);
        numbers.Rows()[i].portNumber = 10 + i;
    }
    // One entry per row both queries hold.
    EXPECT_EQ(ports::EntryTexts(descriptions.Rows(), 3, numbers.Rows(), 2),
              (Texts{"Communications Port (COM10)", "DORAN Kavron USB (COM11)"}));
    EXPECT_EQ(ports::EntryTexts(descriptions.Rows(), 1, numbers.Rows(), 3),
              (Texts{"Communications Port (COM10)"}));
    // A description that fills its whole buffer is cut at the buffer's end.
    std::memset(descriptions.Rows()[0].propertyText, 'x', tessock::kPropertyTextSize);
    const Texts full = ports::EntryTexts(descriptions.Rows(), 1, numbers.Rows(), 1);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0], std::string(tessock::kPropertyTextSize, 'x') + " (COM10)");
}

TEST(PortRules, RowCountsAreHeldToTheRowsGiven)
{
    EXPECT_EQ(ports::ClampRowCount(3, 50), 3);
    EXPECT_EQ(ports::ClampRowCount(50, 50), 50);
    EXPECT_EQ(ports::ClampRowCount(51, 50), 50);
    EXPECT_EQ(ports::ClampRowCount(-1, 50), 0);
}

TEST(PortRules, ListChangesOnlyWhenThePortsDo)
{
    const Texts shown = {"A (COM1)", "B (COM2)"};
    EXPECT_FALSE(ports::ListChanged(shown, {"B (COM2)", "A (COM1)"}));  // order is no change
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)", "B (COM2)", "C (COM3)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)", "B (COM4)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"a (COM1)", "B (COM2)"}));   // exact case
    EXPECT_FALSE(ports::ListChanged({}, {}));
    EXPECT_TRUE(ports::ListChanged({}, {"A (COM1)"}));
}

TEST(PortRules, ReaderEntryIsTheFirstWithTheMakersPrefix)
{
    EXPECT_EQ(ports::ReaderEntryIndex({"Port COM1 (COM1)", "DORAN Kavron USB (COM5)",
                                       "DORAN Kavron Serie (COM6)"}),
              1);
    EXPECT_EQ(ports::ReaderEntryIndex({"DORAN Kavron (COM3)"}), 0);
    EXPECT_EQ(ports::ReaderEntryIndex({"doran kavron USB (COM5)", "DORAN Kavro (COM2)",
                                       " DORAN Kavron (COM4)", "DORAN"}),
              -1);
    EXPECT_EQ(ports::ReaderEntryIndex({}), -1);

    // Opening the list: an empty list is no reader, a reader entry is one, anything else
    // leaves the flag as it was.
    EXPECT_FALSE(ports::DetectedAfterDropDown({}, true));
    EXPECT_TRUE(ports::DetectedAfterDropDown({"DORAN Kavron USB (COM5)"}, false));
    EXPECT_TRUE(ports::DetectedAfterDropDown({"Port COM1 (COM1)"}, true));
    EXPECT_FALSE(ports::DetectedAfterDropDown({"Port COM1 (COM1)"}, false));

    // The poll searches after a rebuild, and when the selection was lost to a drop-down's
    // rebuild; never over a selection that stands, nor every second over a plain list.
    const std::vector<std::string> reader = {"Port COM1 (COM1)", "DORAN Kavron USB (COM5)"};
    const std::vector<std::string> plain = {"Port COM1 (COM1)"};
    EXPECT_TRUE(ports::PollSearchesReader(true, false, false, plain));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, true, reader));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, false, reader));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, true, plain));
    EXPECT_FALSE(ports::PollSearchesReader(false, false, true, reader));
    EXPECT_FALSE(ports::PollSearchesReader(false, true, false, plain));

    // `ports` and update --auto or --all count the list in the same words: a lookalike is
    // not the reader's.
    EXPECT_EQ(ports::CountText({}), "no COM port in the port list");
    EXPECT_EQ(ports::CountText({"doran kavron USB (COM5)"}),
              "1 port in the port list, no \"DORAN Kavron\" entry");
    EXPECT_EQ(ports::CountText({"Port COM1 (COM1)", "DORAN Kavron USB (COM5)",
                                "DORAN Kavron Serie (COM6)"}),
              "3 ports in the port list, 2 \"DORAN Kavron\" entries");
}

TEST(PortQuery, EntriesComeFromBothQueries)
{
    FakeOs os;
    ScriptPorts("DORAN Kavron USB|Communications Port", {5, 1}, 2, 2);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    EXPECT_EQ(texts, (Texts{"DORAN Kavron USB (COM5)", "Communications Port (COM1)"}));
    EXPECT_EQ(QueriesMade(), 2);
    // The library listed ports: nothing was probed.
    EXPECT_TRUE(os.opened.empty());
    EXPECT_TRUE(os.boxes.empty());
}

TEST(PortQuery, ALibraryReportingMoreRowsThanGivenIsHeldToFifty)
{
    FakeOs os;
    std::string descriptions;
    std::vector<int> numbers;
    for (int i = 1; i <= 50; ++i) {
        descriptions += (i > 1 ? "|Port " : "Port ") + std::to_string(i);
        numbers.push_back(i);
    }
    ScriptPorts(descriptions.c_str(), numbers, 70, 1000);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    ASSERT_EQ(texts.size(), 50u);
    EXPECT_EQ(texts.front(), "Port 1 (COM1)");
    EXPECT_EQ(texts.back(), "Port 50 (COM50)");
}

TEST(PortQuery, WithoutListedPortsComOneToFortyNineAreProbed)
{
    FakeOs os;
    ScriptPorts("", {}, 0, 0);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    ASSERT_EQ(os.opened.size(), 49u);
    EXPECT_EQ(os.opened.front(), "\\\\.\\COM1");
    EXPECT_EQ(os.opened.back(), "\\\\.\\COM49");
    // Every port that opened is listed and closed again at once.
    ASSERT_EQ(texts.size(), 49u);
    EXPECT_EQ(texts[0], "Port COM1 (COM1)");
    EXPECT_EQ(texts[48], "Port COM49 (COM49)");
    EXPECT_EQ(os.portCloses, 49);
}

TEST(PortQuery, NoPortAtAllGivesAnEmptyList)
{
    FakeOs os;
    os.port.failOpen = true;
    ScriptPorts("Communications Port", {1}, 1, 0);
    Texts texts = {"stale"};
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    // The description query listed a port but the location query none: only probes count.
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(os.opened.size(), 49u);
    EXPECT_EQ(os.portCloses, 0);
}

TEST(PortQuery, FailuresAreToldApart)
{
    FakeOs os;
    Texts texts;
    ScriptPorts("A", {1}, 1, 1, 1);
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::QueryFailed);
    ScriptPorts("A", {1}, 1, 1, 2);
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::QueryFailed);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(QueriesMade(), 2);

    os.exportsMissing = true;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::NoExport);
    os.libraryMissing = true;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::NoLibrary);
    // The window tells the operator; the collection itself shows nothing.
    EXPECT_TRUE(os.boxes.empty());
}

namespace {

LONG FontHeightOf(HWND control)
{
    LOGFONTA font = {};
    const auto handle = reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0));
    return ::GetObjectA(handle, sizeof font, &font) == sizeof font ? font.lfHeight : 9999;
}

RECT RectInParent(HWND control)
{
    RECT r = {};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT WindowRect(HWND window)
{
    RECT r = {};
    ::GetWindowRect(window, &r);
    return r;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The window's DPI changes as when it is moved to another screen: to the suggested
// rectangle, its size scaled from the DPI it has.
RECT MoveToScreenOf(HWND window, int fromDpi, int dpi)
{
    const RECT now = WindowRect(window);
    RECT suggested = {now.left, now.top, now.left + ::MulDiv(now.right - now.left, dpi, fromDpi),
                      now.top + ::MulDiv(now.bottom - now.top, dpi, fromDpi)};
    ::SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    return suggested;
}

// The colours the window's background paints in column x, row 0 first.
std::vector<COLORREF> BackgroundColumn(HWND window, int x)
{
    RECT client = {};
    ::GetClientRect(window, &client);
    const WindowDC screen(window);
    const MemoryDC memory(screen.Get());
    const Bitmap bitmap(::CreateCompatibleBitmap(screen.Get(), client.right + 1, client.bottom + 1));
    const Selection selected(memory.Get(), bitmap.Get());
    ::SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory.Get()), 0);
    std::vector<COLORREF> column;
    for (int y = 0; y <= client.bottom; ++y)
        column.push_back(::GetPixel(memory.Get(), x, y));
    return column;
}

// The colour the window's background paints at (x, y).
COLORREF BackgroundAt(HWND window, int x, int y)
{
    const std::vector<COLORREF> column = BackgroundColumn(window, x);
    return y >= 0 && static_cast<std::size_t>(y) < column.size() ? column[y] : CLR_INVALID;
}

// Whether the background's separator rows (its grey 128) are exactly one in each gap
// between the texts of two bands, as the controls stand now.
bool SeparatorsBetweenTheBands(HWND window)
{
    const auto gap = [&](int above, int below) {
        return std::make_pair(RectInParent(::GetDlgItem(window, above)).bottom,
                              RectInParent(::GetDlgItem(window, below)).top);
    };
    const std::pair<int, int> gaps[] = {gap(IDC_DETECTION_TEXT, IDC_UPDATE_LABEL),
                                        gap(IDC_READ_ME, IDC_LEGAL_NOTICE)};
    std::vector<int> rows;
    const std::vector<COLORREF> column = BackgroundColumn(window, 5);
    for (std::size_t y = 0; y < column.size(); ++y)
        if (column[y] == RGB(128, 128, 128))
            rows.push_back(static_cast<int>(y));
    return rows.size() == 2 && rows[0] >= gaps[0].first && rows[0] < gaps[0].second &&
           rows[1] >= gaps[1].first && rows[1] < gaps[1].second;
}

// What a control-colour message gives a static text: its brush and its text colour.
std::pair<HBRUSH, COLORREF> StaticColours(HWND window, int controlId)
{
    const MemoryDC dc(nullptr);
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageA(
        window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Get()),
        reinterpret_cast<LPARAM>(::GetDlgItem(window, controlId))));
    return {brush, ::GetTextColor(dc.Get())};
}

} // namespace

TEST(MainWindowDpi, FontsListPlaceAndPicturesFollowTheWindowsDpi)
{
    FakeOsOnRealFiles os; // the window looks for a package where it starts
    os.port.failOpen = true;
    os.dpi = 144;
    ScriptPorts("", {}, 0, 0);
    // The fonts' heights (type, read-me, notice) and the list's width when no reader is
    // detected, by DPI: 96 gives the pixels the window has always had. At each, the list
    // stands beside the detection text as re-laid for that DPI, and the background's
    // separators stay between the bands.
    struct Expected {
        int dpi;
        LONG type, readMe, notice;
        int listWidth; // a drop-down list sets its own height
    };
    const Expected table[] = {
        {144, -30, 23, 18, 314},
        {192, -40, 30, 24, 418},
        {120, -25, 19, 15, 261},
        {96, -20, 15, 12, 209},
    };
    CChargeurDlg dialog;
    std::vector<std::string> failures;
    LONG labelAt[4] = {};
    PostedMessageHook hook(WM_TIMER, [&](HWND window) {
        const RECT logoAt144 = RectInParent(::GetDlgItem(window, IDC_LOGO));
        int dpi = 144;
        SIZE previousLogo = {0, 0};
        for (std::size_t i = 0; i < 4; ++i) {
            const Expected& e = table[i];
            if (e.dpi != dpi) {
                const RECT suggested = MoveToScreenOf(window, dpi, e.dpi);
                if (!SameRect(WindowRect(window), suggested))
                    failures.push_back("window not at the suggested rectangle at " + std::to_string(e.dpi));
                dpi = e.dpi;
            }
            const std::string at = " at " + std::to_string(e.dpi);
            if (dialog.Dpi() != e.dpi)
                failures.push_back("dpi" + at);
            if (FontHeightOf(::GetDlgItem(window, IDC_READER_TYPE)) != e.type ||
                FontHeightOf(::GetDlgItem(window, IDC_READ_ME)) != e.readMe ||
                FontHeightOf(::GetDlgItem(window, IDC_LEGAL_NOTICE)) != e.notice)
                failures.push_back("fonts" + at);
            labelAt[i] = FontHeightOf(::GetDlgItem(window, IDC_STATE_LABEL));
            dialog.UpdateDetectionDisplay(true);
            const RECT list = RectInParent(::GetDlgItem(window, IDC_PORT_LIST));
            const RECT beside = draw::MainPortListPlace(
                RectInParent(::GetDlgItem(window, IDC_DETECTION_TEXT)), false, e.dpi);
            if (list.left != beside.left || list.top != beside.top || list.right - list.left != e.listWidth)
                failures.push_back("list place" + at);
            if (!SeparatorsBetweenTheBands(window))
                failures.push_back("separators" + at);
            // The picture areas are re-laid with the controls, and the logo fills its area
            // again, keeping its proportions.
            const RECT logo = RectInParent(::GetDlgItem(window, IDC_LOGO));
            if (logo.left != ::MulDiv(logoAt144.left, e.dpi, 144) ||
                logo.right != ::MulDiv(logoAt144.right, e.dpi, 144))
                failures.push_back("logo area" + at);
            const SIZE shown = dialog.ShownPictureSize(IDC_LOGO);
            const int areaWidth = logo.right - logo.left;
            const int areaHeight = logo.bottom - logo.top;
            if (shown.cx > areaWidth || shown.cy > areaHeight ||
                (shown.cx < areaWidth - 1 && shown.cy < areaHeight - 1) ||
                (i > 0 && (shown.cx > previousLogo.cx) != (e.dpi > table[i - 1].dpi)))
                failures.push_back("logo size" + at);
            previousLogo = shown;
        }
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        return true;
    });
    dialog.DoModal();
    ASSERT_TRUE(hook.Ran());
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
    // The labels' default height (0 at 96 DPI) is the default cell scaled elsewhere.
    EXPECT_EQ(labelAt[3], 0);
    const WindowDC screen(nullptr);
    LOGFONTA arial = {};
    std::strcpy(arial.lfFaceName, "Arial");
    const Font font(::CreateFontIndirectA(&arial));
    const Selection selected(screen.Get(), font.Get());
    TEXTMETRICA metrics = {};
    ::GetTextMetricsA(screen.Get(), &metrics);
    EXPECT_EQ(labelAt[0], ::MulDiv(metrics.tmHeight, 144, 96));
    EXPECT_EQ(labelAt[1], ::MulDiv(metrics.tmHeight, 192, 96));
}

TEST(MainWindowDpi, HighContrastPaintsInSystemColoursAndLeavesWithoutARestart)
{
    FakeOsOnRealFiles os;
    os.port.failOpen = true;
    os.dpi = 144;
    ScriptPorts("", {}, 0, 0);
    CChargeurDlg dialog;
    // (row, colour) of the background and a label's colours, normal, then high contrast, then
    // normal again. The separators follow the controls, which the dialog lays out at the
    // test prefix's 96 DPI whatever the seam reports: the first is row 170.
    struct Look {
        COLORREF top, separator;
        std::pair<HBRUSH, COLORREF> label;
    };
    std::vector<Look> looks;
    PostedMessageHook hook(WM_TIMER, [&](HWND window) {
        const auto look = [&] {
            looks.push_back({BackgroundAt(window, 5, 2), BackgroundAt(window, 5, 170),
                             StaticColours(window, IDC_STATE_LABEL)});
        };
        look();
        os.highContrast = true;
        ::SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
        look();
        os.highContrast = false;
        ::SendMessageA(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        look();
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        return true;
    });
    dialog.DoModal();
    ASSERT_EQ(looks.size(), 3u);
    const HBRUSH hollow = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    for (std::size_t normal : {0u, 2u}) {
        EXPECT_EQ(looks[normal].top, RGB(250, 250, 250)) << normal;
        EXPECT_EQ(looks[normal].separator, RGB(128, 128, 128)) << normal;
        EXPECT_EQ(looks[normal].label.first, hollow) << normal;
        EXPECT_EQ(looks[normal].label.second, RGB(0, 0, 0)) << normal;
    }
    EXPECT_EQ(looks[1].top, ::GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(looks[1].separator, ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(looks[1].label.first, ::GetSysColorBrush(COLOR_WINDOW));
    EXPECT_EQ(looks[1].label.second, ::GetSysColor(COLOR_WINDOWTEXT));
}

TEST(WindowDpi, BothDialogsGiveTheSizeOfTheirOwnLayoutAtANewDpi)
{
    // Left to Windows, the dialog manager would re-lay the controls our layout re-lays, and
    // the window would be scaled frame and all: the client area would no longer hold them.
    const struct {
        bool progress;
        int fromDpi, toDpi;
    } cases[] = {{false, 144, 240}, {false, 144, 96}, {true, 120, 192}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fromDpi) + " to " + std::to_string(c.toDpi));
        FakeOsOnRealFiles os;
        os.port.failOpen = true;
        os.dpi = static_cast<UINT>(c.fromDpi);
        LRESULT answer = 0;
        SIZE size = {1, 1};
        RECT client = {};
        HWND asked = nullptr;
        const auto ask = [&](HWND window) {
            asked = window;
            ::GetClientRect(window, &client);
            answer = ::SendMessageA(window, 0x02E4, static_cast<WPARAM>(c.toDpi), reinterpret_cast<LPARAM>(&size));
            if (!c.progress) // the progress window ends by itself, having no port
                ::PostMessageA(window, WM_CLOSE, 0, 0);
            return true;
        };
        if (c.progress) {
            CChargementDlg dialog;
            PostedMessageHook hook(WM_UPDATE_START, ask);
            dialog.DoModal();
        } else {
            ScriptPorts("", {}, 0, 0);
            CChargeurDlg dialog;
            PostedMessageHook hook(WM_TIMER, ask);
            dialog.DoModal();
        }
        ASSERT_NE(asked, nullptr);
        EXPECT_EQ(answer, TRUE);
        ASSERT_EQ(os.dialogDpiCalls.size(), 1u);
        EXPECT_EQ(os.dialogDpiCalls[0].dialog, asked);
        EXPECT_EQ(os.dialogDpiCalls[0].mask, 1);
        EXPECT_EQ(os.dialogDpiCalls[0].values, 1);
        // The client area scaled as the controls are, in the double's frame at the new DPI:
        // 4 pixels a side and a caption of 30 at 96 DPI.
        EXPECT_EQ(size.cx, ::MulDiv(client.right, c.toDpi, c.fromDpi) + 2 * ::MulDiv(4, c.toDpi, 96));
        EXPECT_EQ(size.cy, ::MulDiv(client.bottom, c.toDpi, c.fromDpi) + ::MulDiv(38, c.toDpi, 96));
    }
}
