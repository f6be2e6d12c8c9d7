#include "ChargeurDlg.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "DisplayTexts.h"
#include "Drawing.h"
#include "PngImage.h"
#include "PortQuery.h"
#include "PortRules.h"
#include "SplashScreenEx.h"
#include "engine/ChargementDlg.h"
#include "engine/RunResult.h"
#include "package/PackageFolder.h"
#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/Dpi.h"
#include "winfw/SessionHold.h"

namespace {

constexpr char kReadMeFile[] = "ReadMe.txt";
constexpr char kReaderTypeFile[] = "Lecteur.txt";
constexpr char kReaderPictureFile[] = ".\\Lecteur.png";

// The port list's polls: the first at once, then one a second.
constexpr UINT_PTR kPortPollTimer = 1;
constexpr UINT_PTR kFirstPollTimer = 2;
constexpr UINT kFirstPollDelay = 1;
constexpr UINT kPollInterval = 1000;
constexpr UINT kPollAgainAtOnce = 1;


constexpr int kSplashMs = 500;
// Posted at the end of the initialisation: the splash is shown once the window itself is.
constexpr UINT WM_SHOW_SPLASH = WM_APP + 1;
constexpr int kSplashStyle = CSplashScreenEx::kFadeIn | CSplashScreenEx::kFadeOut |
                             CSplashScreenEx::kDropShadow | CSplashScreenEx::kCenterParent;

// The cell height the font mapper gives a font asked for with height 0 ("the default").
int DefaultFontCellHeight()
{
    LOGFONTA font = {};
    std::strcpy(font.lfFaceName, "Arial");
    Font made(::CreateFontIndirectA(&font));
    WindowDC screen(nullptr);
    TEXTMETRICA metrics = {};
    if (!made || screen.Get() == nullptr)
        return 0;
    Selection selected(screen.Get(), made.Get());
    return ::GetTextMetricsA(screen.Get(), &metrics) ? static_cast<int>(metrics.tmHeight) : 0;
}

// The five fonts differ only in height and weight; heights are given at 96 DPI.
Font MakeArialFont(int height, int weight, int dpi)
{
    LOGFONTA font = {};
    const bool defaultHeight = height == 0 && dpi != kDefaultDpi;
    font.lfHeight = draw::FontHeightAt(height, dpi, defaultHeight ? DefaultFontCellHeight() : 0);
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    font.lfQuality = PROOF_QUALITY;
    font.lfPitchAndFamily = 0x31;
    std::strcpy(font.lfFaceName, "Arial");
    return Font(::CreateFontIndirectA(&font));
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

CString AboutBoxText()
{
    const CString format = LoadResString(IDS_ABOUT_FORMAT);
    const CString version = GetFileVersionText();
    const CString notice = GetLegalNoticeText();
    std::vector<char> text(format.size() + version.size() + notice.size() + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), version.c_str(), notice.c_str());
    return text.data();
}

} // namespace

CChargeurDlg::CChargeurDlg(HWND parent)
    : CDialog(IDD_ORVANE_DIALOG, parent),
      m_hIcon(::LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDI_ORVANE))),
      m_background(draw::BackgroundPen), m_shownIndicator(&m_notDetected)
{
}

CChargeurDlg::~CChargeurDlg() = default;

void CChargeurDlg::DoDataExchange(DataExchange& dx)
{
    dx.Control(IDC_START, m_startButton);
    dx.Control(IDC_PORT_LIST, m_portList);
    dx.Control(IDC_DETECTION_TEXT, m_detectionText);
    dx.Control(IDC_LOGO, m_logoArea);
    dx.Control(IDC_INDICATOR, m_indicatorArea);
    dx.Control(IDC_READER_PICTURE, m_pictureArea);
    dx.Control(IDC_STATE_LABEL, m_stateLabel);
    dx.Control(IDC_READ_ME, m_readMe);
    dx.Control(IDC_READER_TYPE, m_readerType);
    dx.Control(IDC_UPDATE_LABEL, m_updateLabel);
    dx.Control(IDC_LEGAL_NOTICE, m_legalNotice);
}

BOOL CChargeurDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_dpi = WindowDpi(m_hWnd);
    KeepDialogRelayoutOurs(m_hWnd);
    m_highContrast = HighContrastOn();
    ShowPackageTexts();
    CreateFonts();
    m_layout.Record(m_hWnd, m_dpi);
    PlaceSeparators();
    m_legalNotice.SetWindowTextA(GetLegalNoticeText());
    SendMessageA(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    LoadPictures();

    ::SetFocus(m_hWnd);
    ::SetTimer(m_hWnd, kFirstPollTimer, kFirstPollDelay, nullptr);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);

    m_readerDetected = false;
    DrawIndicator(m_notDetected);
    m_detectionText.SetWindowTextA(LoadResString(IDS_READER_NOT_DETECTED));
    m_startButton.EnableWindow(false);
    LogTextFit(m_hWnd, m_dpi);

    // A splash made while its owner is still hidden can end up beneath it once the owner
    // appears (X servers without a window manager stack by order of appearance).
    PostMessageA(WM_SHOW_SPLASH);
    return TRUE;
}

void CChargeurDlg::ShowPackageTexts()
{
    // Without a package a run could only end in a refusal that blames the reader.
    m_hasPackage = HoldsCatalogue();
    m_readMe.SetWindowTextA(m_hasPackage ? ReadMeText(kReadMeFile) : LoadResString(IDS_NO_PACKAGE_HERE));
    m_readerType.SetWindowTextA(FirstLineOf(kReaderTypeFile));
}

void CChargeurDlg::CreateFonts()
{
    m_labelFont = MakeArialFont(0, FW_BOLD, m_dpi);
    m_detectionFont = MakeArialFont(0, FW_MEDIUM, m_dpi);
    m_typeFont = MakeArialFont(-20, FW_BOLD, m_dpi);
    m_readMeFont = MakeArialFont(15, FW_NORMAL, m_dpi);
    m_noticeFont = MakeArialFont(12, FW_NORMAL, m_dpi);
    m_stateLabel.SetFont(m_labelFont.Get());
    m_updateLabel.SetFont(m_labelFont.Get());
    m_detectionText.SetFont(m_detectionFont.Get());
    m_readerType.SetFont(m_typeFont.Get());
    m_readMe.SetFont(m_readMeFont.Get());
    m_legalNotice.SetFont(m_noticeFont.Get());
}

void CChargeurDlg::LoadPictures()
{
    // Each image is needed only until its bitmaps exist.
    PngImage image;
    m_logoRect = m_logoArea.RectIn(m_hWnd);
    if (image.LoadFromResource(IDR_PNG_LOGO))
        MakePicture(image, m_logo, m_logoRect);

    m_indicatorRect = m_indicatorArea.RectIn(m_hWnd);
    if (image.LoadFromResource(IDR_PNG_DETECTED))
        MakePicture(image, m_detected, m_indicatorRect);
    if (image.LoadFromResource(IDR_PNG_NOT_DETECTED))
        MakePicture(image, m_notDetected, m_indicatorRect);

    m_pictureRect = m_pictureArea.RectIn(m_hWnd);
    if (image.LoadFromFile(kReaderPictureFile))
        MakePicture(image, m_readerPicture, m_pictureRect);
}

void CChargeurDlg::MakePicture(const PngImage& image, Picture& picture, const RECT& area)
{
    picture.bitmap = CreateBitmapFromPixels(image.GetWidth(), image.GetHeight(), image.GetPixels(), m_hWnd);
    ScalePicture(picture, area);
}

void CChargeurDlg::ScalePicture(Picture& picture, const RECT& area)
{
    if (picture.bitmap)
        picture.scaled = ScaleBitmapToFit(picture.bitmap.Get(), m_hWnd, Width(area), Height(area));
}

LRESULT CChargeurDlg::OnGetDpiScaledSize(WPARAM w, LPARAM l)
{
    return AnswerDpiScaledSize(m_hWnd, m_dpi, w, l);
}

LRESULT CChargeurDlg::OnDpiChanged(WPARAM w, LPARAM l)
{
    // Moved to a screen of another DPI: the suggested rectangle, the controls re-laid, and
    // the fonts, pictures and the list's place made again for the new DPI.
    m_dpi = DpiOfMessage(w);
    TakeSuggestedRect(m_hWnd, l);
    m_layout.Apply(m_dpi);
    PlaceSeparators();
    CreateFonts();
    m_logoRect = m_logoArea.RectIn(m_hWnd);
    m_indicatorRect = m_indicatorArea.RectIn(m_hWnd);
    m_pictureRect = m_pictureArea.RectIn(m_hWnd);
    ScalePicture(m_logo, m_logoRect);
    ScalePicture(m_detected, m_indicatorRect);
    ScalePicture(m_notDetected, m_indicatorRect);
    ScalePicture(m_readerPicture, m_pictureRect);
    PlacePortList();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    LogTextFit(m_hWnd, m_dpi);
    return 0;
}

LRESULT CChargeurDlg::OnSize(WPARAM, LPARAM)
{
    PlaceSeparators();
    PlacePortList();
    return 0;
}

void CChargeurDlg::PlaceSeparators()
{
    // The controls are known only once the dialog has made them.
    if (m_legalNotice.GetSafeHwnd() == nullptr)
        return;
    m_separators = draw::MainSeparatorRows({m_detectionText.RectIn(m_hWnd), m_updateLabel.RectIn(m_hWnd),
                                            m_readMe.RectIn(m_hWnd), m_pictureArea.RectIn(m_hWnd),
                                            m_legalNotice.RectIn(m_hWnd)});
}

LRESULT CChargeurDlg::OnColoursChanged(WPARAM, LPARAM)
{
    // Leaving or entering high contrast needs no restart: the next paint follows it.
    const bool highContrast = HighContrastOn();
    if (highContrast != m_highContrast) {
        m_highContrast = highContrast;
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    return 0;
}

RECT CChargeurDlg::PortListPlace() const
{
    return draw::MainPortListPlace(m_detectionText.RectIn(m_hWnd), m_readerDetected, m_dpi);
}

SIZE CChargeurDlg::ShownPictureSize(int areaId) const
{
    const Picture* picture = areaId == IDC_LOGO             ? &m_logo
                             : areaId == IDC_READER_PICTURE ? &m_readerPicture
                             : areaId == IDC_INDICATOR      ? m_shownIndicator
                                                            : nullptr;
    BITMAP data = {};
    if (picture == nullptr || !picture->scaled ||
        ::GetObjectA(picture->scaled.Get(), sizeof data, &data) != sizeof data)
        return SIZE{0, 0};
    return SIZE{data.bmWidth, data.bmHeight};
}

void CChargeurDlg::PlacePortList()
{
    // The list stands beside the detection text: both must exist.
    if (m_portList.GetSafeHwnd() == nullptr || m_detectionText.GetSafeHwnd() == nullptr)
        return;
    const RECT place = PortListPlace();
    ::MoveWindow(m_portList.GetSafeHwnd(), place.left, place.top, Width(place), Height(place), TRUE);
}

LRESULT CChargeurDlg::OnShowSplash(WPARAM, LPARAM)
{
    // The splash deletes itself once its window is gone, or at once when none is made.
    auto* splash = new CSplashScreenEx();
    if (!splash->Create(m_hWnd, nullptr, kSplashMs, kSplashStyle))
        return 0;
    splash->SetBitmap(IDB_SPLASH, 255, 0, 255);
    splash->Show();
    return 0;
}

bool CChargeurDlg::PreTranslateMessage(MSG& msg)
{
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
        // Only Enter on the focused "Démarrer" starts an update; anywhere else it would
        // close the window.
        if (msg.hwnd == m_startButton.GetSafeHwnd())
            OnStartClicked(0, 0);
        return true;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE)
        return true;
    return CDialog::PreTranslateMessage(msg);
}

bool CChargeurDlg::OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result)
{
    using Entry = MessageEntry<CChargeurDlg>;
    static constexpr Entry kEntries[] = {
        Entry::Message(WM_PAINT, &CChargeurDlg::OnPaint),
        Entry::Message(WM_ERASEBKGND, &CChargeurDlg::OnEraseBackground),
        Entry::ControlColors(&CChargeurDlg::OnCtlColor),
        Entry::Timer(kPortPollTimer, &CChargeurDlg::OnTimer),
        Entry::Timer(kFirstPollTimer, &CChargeurDlg::OnTimer),
        Entry::Command(IDC_START, BN_CLICKED, &CChargeurDlg::OnStartClicked),
        Entry::Command(IDC_PORT_LIST, CBN_DROPDOWN, &CChargeurDlg::OnPortListDropDown),
        Entry::Command(IDC_PORT_LIST, CBN_SELCHANGE, &CChargeurDlg::OnPortListSelChange),
        Entry::Message(WM_HELP, &CChargeurDlg::OnHelp),
        Entry::Message(WM_CLOSE, &CChargeurDlg::OnClose),
        Entry::Message(WM_SHOW_SPLASH, &CChargeurDlg::OnShowSplash),
        Entry::Message(WM_QUERYENDSESSION, &CChargeurDlg::OnQueryEndSession),
        Entry::Notice(WM_DESTROY, &CChargeurDlg::OnDestroy),
        Entry::Message(WM_DPICHANGED, &CChargeurDlg::OnDpiChanged),
        Entry::Message(kGetDpiScaledSize, &CChargeurDlg::OnGetDpiScaledSize),
        Entry::Notice(WM_SIZE, &CChargeurDlg::OnSize),
        Entry::Notice(WM_SYSCOLORCHANGE, &CChargeurDlg::OnColoursChanged),
        Entry::Notice(WM_SETTINGCHANGE, &CChargeurDlg::OnColoursChanged),
    };
    return DispatchMessageMap(this, kEntries, message, w, l, result);
}

LRESULT CChargeurDlg::OnDestroy(WPARAM, LPARAM)
{
    ::KillTimer(m_hWnd, kPortPollTimer);
    ::KillTimer(m_hWnd, kFirstPollTimer);
    return 0;
}

LRESULT CChargeurDlg::OnPaint(WPARAM, LPARAM)
{
    PaintDC dc(m_hWnd);
    if (::IsIconic(m_hWnd)) {
        RECT client = {};
        ::GetClientRect(m_hWnd, &client);
        const int x = (Width(client) - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (Height(client) - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc.Get(), x, y, m_hIcon);
        return 0;
    }
    // Drawn after the paint's own erase, so the gradient never covers them.
    DrawPicture(dc.Get(), m_logo, m_logoRect);
    DrawPicture(dc.Get(), m_readerDetected ? m_detected : m_notDetected, m_indicatorRect);
    DrawPicture(dc.Get(), m_readerPicture, m_pictureRect);
    return 0;
}

void CChargeurDlg::DrawPicture(HDC dc, const Picture& picture, const RECT& area) const
{
    if (picture.scaled)
        DrawTransparentBitmapOn(dc, picture.scaled.Get(), area.left, area.top);
}

void CChargeurDlg::DrawIndicator(const Picture& indicator)
{
    if (indicator.scaled)
        DrawTransparentBitmap(indicator.scaled.Get(), m_hWnd, m_indicatorRect.left, m_indicatorRect.top);
}

LRESULT CChargeurDlg::OnEraseBackground(WPARAM w, LPARAM)
{
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    m_background.Paint(reinterpret_cast<HDC>(w), client, m_separators, m_highContrast);
    return TRUE;
}

HBRUSH CChargeurDlg::OnCtlColor(UINT message, WPARAM w, LPARAM l)
{
    m_ctlBrush = DefaultCtlColor(message, w, l);
    const CString className = WindowClassName(reinterpret_cast<HWND>(l));
    // Texts and the button show the gradient through; in high contrast there is none, and
    // they take the system's colours.
    if (className == "Static" || className == "Button")
        m_ctlBrush = m_highContrast ? TextInSystemColours(reinterpret_cast<HDC>(w))
                                    : TextOverBackground(reinterpret_cast<HDC>(w));
    return m_ctlBrush;
}

LRESULT CChargeurDlg::OnTimer(WPARAM timer, LPARAM)
{
    // The operator is choosing: the list must not change under the pointer.
    if (m_portList.SendMessageA(CB_GETDROPPEDSTATE) != FALSE)
        return 0;
    const bool wasDetected = m_readerDetected;
    const CString selected = SelectedText();
    ::KillTimer(m_hWnd, timer);
    // A choice the operator made by hand is never refreshed away.
    if (m_autoSelected || selected.empty()) {
        const int refreshed = RefreshPortList();
        if (refreshed == -1) {
            CloseWindow();
            return 0;
        }
        if (ports::PollSearchesReader(refreshed == 1, selected.empty(), m_readerDetected,
                                      ListedTexts())) {
            SelectReaderEntry();
            UpdateDetectionDisplay(true);
        }
    }
    ::SetTimer(m_hWnd, kPortPollTimer, kPollInterval, nullptr);
    const bool canStart = CanStart();
    m_startButton.EnableWindow(canStart);
    if (canStart && !wasDetected && m_readerDetected) {
        ::SetFocus(m_hWnd);
        ::SetFocus(m_startButton.GetSafeHwnd());
    }
    return 0;
}

void CChargeurDlg::SelectReaderEntry()
{
    m_readerDetected = false;
    m_autoSelected = false;
    const int reader = ports::ReaderEntryIndex(ListedTexts());
    if (reader < 0)
        return;
    m_portList.SendMessageA(CB_SETCURSEL, static_cast<WPARAM>(reader));
    m_readerDetected = true;
    m_autoSelected = true;
}

int CChargeurDlg::RefreshPortList()
{
    try {
        return RebuildPortListIfChanged();
    } catch (const std::exception&) {
        // Memory ran out while the lists were copied: the window cannot go on listing.
        ShowMessage(LoadResString(IDS_PORT_SEARCH_FAILED), MB_OK, m_hWnd);
        EndDialog(0);
        return -1;
    }
}

int CChargeurDlg::RebuildPortListIfChanged()
{
    const std::vector<CString> shown = ListedTexts();
    std::vector<CString> fresh;
    switch (CollectPortTexts(fresh)) {
    case PortQuery::Listed:
        break;
    case PortQuery::NoLibrary:
        ShowMessage(LoadResString(IDS_NO_PORT_LIBRARY), MB_OK, m_hWnd);
        return -1;
    case PortQuery::NoExport:
        ShowMessage(LoadResString(IDS_NO_PORT_EXPORT), MB_OK, m_hWnd);
        return -1;
    case PortQuery::QueryFailed:
        ShowMessage(LoadResString(IDS_PORT_QUERY_FAILED), MB_OK, m_hWnd);
        EndDialog(0);
        return -1;
    case PortQuery::Unexpected:
        ShowMessage(LoadResString(IDS_PORT_SEARCH_FAILED), MB_OK, m_hWnd);
        EndDialog(0);
        return -1;
    }
    if (!ports::ListChanged(shown, fresh))
        return 0;
    FillPortList(fresh);
    return 1;
}

void CChargeurDlg::FillPortList(const std::vector<CString>& texts)
{
    m_portList.SendMessageA(CB_RESETCONTENT);
    for (const CString& text : texts)
        m_portList.SendMessageA(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<CString> CChargeurDlg::ListedTexts() const
{
    std::vector<CString> texts;
    const LRESULT count = m_portList.SendMessageA(CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = m_portList.SendMessageA(CB_GETLBTEXTLEN, static_cast<WPARAM>(i));
        if (length < 0)
            continue;
        std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
        const LRESULT copied = m_portList.SendMessageA(CB_GETLBTEXT, static_cast<WPARAM>(i),
                                                       reinterpret_cast<LPARAM>(text.data()));
        texts.emplace_back(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
    }
    return texts;
}

bool CChargeurDlg::HasSelection() const { return m_portList.SendMessageA(CB_GETCURSEL) != CB_ERR; }

bool CChargeurDlg::CanStart() const { return m_hasPackage && HasSelection(); }

CString CChargeurDlg::SelectedText() const
{
    const LRESULT index = m_portList.SendMessageA(CB_GETCURSEL);
    if (index == CB_ERR)
        return CString();
    const std::vector<CString> texts = ListedTexts();
    return static_cast<std::size_t>(index) < texts.size() ? texts[static_cast<std::size_t>(index)] : CString();
}

void CChargeurDlg::UpdateDetectionDisplay(bool force)
{
    const RECT textArea = m_detectionText.RectIn(m_hWnd);
    const RECT listArea = m_portList.RectIn(m_hWnd);
    ::InvalidateRect(m_hWnd, &textArea, TRUE);
    ::InvalidateRect(m_hWnd, &listArea, TRUE);
    const Picture* wanted = m_readerDetected ? &m_detected : &m_notDetected;
    if ((force || m_readerDetected) && wanted != m_shownIndicator)
        ::InvalidateRect(m_hWnd, &m_indicatorRect, TRUE);

    if (!m_readerDetected && !force)
        return;
    PlacePortList();
    m_detectionText.SetWindowTextA(
        LoadResString(m_readerDetected ? IDS_READER_DETECTED : IDS_READER_NOT_DETECTED));
    DrawIndicator(*wanted);
    m_shownIndicator = wanted;
    LogTextFit(m_hWnd, m_dpi);
}

LRESULT CChargeurDlg::OnPortListDropDown(WPARAM, LPARAM)
{
    if (RefreshPortList() == -1) {
        CloseWindow();
        return 0;
    }
    const bool detected = ports::DetectedAfterDropDown(ListedTexts(), m_readerDetected);
    if (detected != m_readerDetected) {
        m_readerDetected = detected;
        UpdateDetectionDisplay(true);
    }
    return 0;
}

LRESULT CChargeurDlg::OnPortListSelChange(WPARAM, LPARAM)
{
    m_autoSelected = false;
    m_startButton.EnableWindow(CanStart());
    return 0;
}

LRESULT CChargeurDlg::OnStartClicked(WPARAM, LPARAM)
{
    if (!m_hasPackage)
        return 0;
    ::KillTimer(m_hWnd, kPortPollTimer);
    RunResult result = RUN_SUCCEEDED;
    {
        const SessionHold hold(m_hWnd, IDS_SHUTDOWN_REASON, &m_runInProgress);
        CChargementDlg progress;
        progress.SetPortName(SelectedText());
        // A progress window that could not even be made ran nothing: never a success.
        result = progress.DoModal() == -1 ? RUN_DOWNLOAD_UNDEFINED : progress.GetResult();
    }
    ShowMessage(ResultBoxText(result), MB_OK | ResultBoxIcon(result), m_hWnd);
    ::SetTimer(m_hWnd, kPortPollTimer, kPollAgainAtOnce, nullptr);
    return 0;
}

LRESULT CChargeurDlg::OnQueryEndSession(WPARAM, LPARAM)
{
    return SessionHold::QueryEndSession(m_runInProgress);
}

LRESULT CChargeurDlg::OnHelp(WPARAM, LPARAM)
{
    ShowMessage(AboutBoxText(), MB_OK | MB_ICONINFORMATION, m_hWnd);
    return TRUE;
}

LRESULT CChargeurDlg::OnClose(WPARAM, LPARAM)
{
    CloseWindow();
    return 0;
}

void CChargeurDlg::CloseWindow()
{
    ::KillTimer(m_hWnd, kPortPollTimer);
    EndDialog(IDOK);
}
