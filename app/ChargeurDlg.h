// CChargeurDlg: the updater's main window, open for the whole life of the program. It
// shows what the package is for, keeps the COM port list in line with the machine's ports
// and selects the reader's by itself, and on "Démarrer" runs one update in the progress
// window and reports its outcome.
#pragma once
#include <windows.h>

#include <vector>

#include "engine/Background.h"
#include "winfw/Dialog.h"
#include "winfw/Dpi.h"
#include "winfw/Gdi.h"
#include "winfw/Strings.h"

class PngImage;

class CChargeurDlg : public CDialog {
public:
    explicit CChargeurDlg(HWND parent = nullptr);
    ~CChargeurDlg() override;

    // -1 when the window must close (the operator has been told why), 0 when the machine's
    // ports are those listed, 1 when the list was rebuilt.
    int RefreshPortList();
    // Brings the list's position, the detection text and the indicator in line with
    // m_readerDetected; without `force` a reader not detected changes nothing.
    void UpdateDetectionDisplay(bool force);
    // What the window is drawn at: its DPI, and whether in the system's high-contrast colours.
    int Dpi() const { return m_dpi; }
    bool InHighContrast() const { return m_highContrast; }
    // Where the port list stands now, at the window's DPI (client coordinates).
    RECT PortListPlace() const;
    // The size the picture of an area (IDC_LOGO, IDC_INDICATOR, IDC_READER_PICTURE) is
    // drawn at; 0 x 0 when it has none.
    SIZE ShownPictureSize(int areaId) const;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
    bool PreTranslateMessage(MSG& msg) override;
    bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

private:
    // A picture as the window keeps it: the bitmap of the decoded image and its copy scaled
    // into the picture's area. A picture that did not load has neither.
    struct Picture {
        Bitmap bitmap;
        Bitmap scaled;
    };

    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnEraseBackground(WPARAM, LPARAM);
    LRESULT OnTimer(WPARAM, LPARAM);
    LRESULT OnStartClicked(WPARAM, LPARAM);
    LRESULT OnPortListDropDown(WPARAM, LPARAM);
    LRESULT OnPortListSelChange(WPARAM, LPARAM);
    LRESULT OnHelp(WPARAM, LPARAM);
    LRESULT OnQueryEndSession(WPARAM, LPARAM);

    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnShowSplash(WPARAM, LPARAM);
    LRESULT OnDestroy(WPARAM, LPARAM);
    LRESULT OnDpiChanged(WPARAM, LPARAM);
    LRESULT OnGetDpiScaledSize(WPARAM, LPARAM);
    LRESULT OnSize(WPARAM, LPARAM);
    LRESULT OnColoursChanged(WPARAM, LPARAM);
    HBRUSH OnCtlColor(UINT message, WPARAM w, LPARAM l);

    void ShowPackageTexts();
    void CreateFonts();
    void LoadPictures();
    void MakePicture(const PngImage& image, Picture& picture, const RECT& area);
    void ScalePicture(Picture& picture, const RECT& area);
    void PlacePortList();
    void PlaceSeparators();
    void DrawPicture(HDC dc, const Picture& picture, const RECT& area) const;
    void DrawIndicator(const Picture& indicator);
    int RebuildPortListIfChanged();
    void SelectReaderEntry();
    void FillPortList(const std::vector<CString>& texts);
    std::vector<CString> ListedTexts() const;
    CString SelectedText() const;
    bool HasSelection() const;
    bool CanStart() const;
    void CloseWindow();

    HICON m_hIcon;
    BackgroundPainter m_background;
    SeparatorRows m_separators;
    int m_dpi = kDefaultDpi;
    bool m_highContrast = false;
    DialogLayout m_layout;
    Font m_labelFont;      // F1
    Font m_detectionFont;  // F2
    Font m_typeFont;       // F3
    Font m_readMeFont;     // F4
    Font m_noticeFont;     // F5

    CWindow m_startButton;
    CWindow m_portList;
    CWindow m_detectionText;
    CWindow m_logoArea;
    CWindow m_indicatorArea;
    CWindow m_pictureArea;
    CWindow m_stateLabel;
    CWindow m_readMe;
    CWindow m_readerType;
    CWindow m_updateLabel;
    CWindow m_legalNotice;

    Picture m_logo;
    Picture m_detected;
    Picture m_notDetected;
    Picture m_readerPicture;
    RECT m_logoRect = {0, 0, 0, 0};
    RECT m_indicatorRect = {0, 0, 0, 0};
    RECT m_pictureRect = {0, 0, 0, 0};

    bool m_autoSelected = false;
    bool m_runInProgress = false;
    bool m_readerDetected = false;
    // Whether the folder holds a package: without one "Démarrer" stays disabled.
    bool m_hasPackage = false;
    const Picture* m_shownIndicator;
    HBRUSH m_ctlBrush = nullptr;
};
