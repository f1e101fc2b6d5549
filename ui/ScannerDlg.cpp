#include "ui/ScannerDlg.h"

#include <shellapi.h>

#include <algorithm>
#include <string>

#include "resources/resource.h"
#include "scan/BinaryExamination.h"
#include "scan/ProductText.h"
#include "scan/Quarantine.h"
#include "scan/RunRecord.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "ui/PromptDlg.h"
#include "ui/SharedUi.h"
#include "ui/SkinWindow.h"
#include "ui/logic/ButtonLogic.h"
#include "ui/logic/ResultsListLogic.h"

CFont boldUiFont;
bool largeFonts = false;
CWnd* mainDialog = nullptr;

namespace {

const UINT_PTR ScanTimerId = 100;
const UINT kScanTimerInterval = 100;
const int kLargeFontsDpi = 120;

const char kFamilyName[] = "W32/MurkEl";
const char kProductKey[] = "Software\\Ferovan\\Halvex 2000";
const char kProductValue[] = "Installed Folder";
const char kMakerNotice[] = "Ferovan Software offers this tool free of charge to every user.";
const char kProductNotice[] = "This program is a part of Halvex antivirus software.";
const char kDownloadPage[] = "http://www.example.com/halvex";
const char kUtilitiesPage[] = "http://www.example.com/ferovan/tools";
const char kCloseButtonCaption[] = "DialogBoxTitle";
const char kDialogProgramName[] = "Quellor.exe";

// The skin's design size: the children are scaled to 600 x 337, then the
// window is made 600 x 462 and its region cuts it down to the skin.
const int kDesignWidth = 600;
const int kDesignHeight = 337;
const int kWindowWidth = 600;
const int kWindowHeight = 462;
const COLORREF kSkinKeyColour = RGB(255, 0, 255);

}  // namespace

CScannerDlg::CScannerDlg(CWnd* parent)
    : CDialog(IDD_SCANNER_DIALOG, parent),
      m_productInstalled(false),
      m_hIcon(nullptr),
      m_skinSurface(nullptr),
      m_skinPrevious(nullptr)
{
    m_skinSize.cx = 0;
    m_skinSize.cy = 0;
    m_hIcon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
}

CScannerDlg::~CScannerDlg()
{
    // The bitmap leaves the surface before both go (m_skin after this body).
    if (m_skinSurface) {
        if (m_skinPrevious) SelectObject(m_skinSurface, m_skinPrevious);
        DeleteDC(m_skinSurface);
    }
    if (mainDialog == this) mainDialog = nullptr;
}

void CScannerDlg::DoDataExchange(CDataExchange* exchange)
{
    CDialog::DoDataExchange(exchange);
    DDX_Control(exchange, IDC_OK_BUTTON, m_ok);
    DDX_Control(exchange, IDC_CANCEL_BUTTON, m_cancel);
    DDX_Control(exchange, IDC_SCAN, m_scan);
    DDX_Control(exchange, IDC_DOWNLOAD, m_download);
    DDX_Control(exchange, IDC_CLOSE_X, m_close);
    DDX_Control(exchange, IDC_STATUS_FRAME, m_statusFrame);
    DDX_Control(exchange, IDC_STATUS_TEXT, m_status);
    DDX_Control(exchange, IDC_HEADING, m_heading);
    DDX_Control(exchange, IDC_CAPTION_LABEL, m_captionLabel);
    DDX_Control(exchange, IDC_PRODUCT_NOTICE, m_productNotice);
    DDX_Control(exchange, IDC_MAKER_NOTICE, m_makerNotice);
    DDX_Control(exchange, IDC_DESCRIPTION, m_description);
    DDX_Control(exchange, IDC_DLINK, m_downloadLink);
    DDX_Control(exchange, IDC_ULINK, m_utilitiesLink);
    DDX_Control(exchange, IDC_MAKER_LOGO, m_logo);
    DDX_Control(exchange, IDC_LIST_FRAME, m_listFrame);
    DDX_Control(exchange, IDC_RESULTS_LIST, m_results);
}

void CScannerDlg::EnterPhase(DialogPhase phase)
{
    ControlChange changes[kMaxPhaseChanges];
    std::size_t count = ChangesForPhase(phase, m_productInstalled, changes, kMaxPhaseChanges);
    for (std::size_t i = 0; i < count; ++i) {
        HWND control = GetDlgItem(changes[i].controlId);
        if (!control) continue;
        if (changes[i].enabling != KeepEnabling) ::EnableWindow(control, changes[i].enabling == EnableControl);
        if (changes[i].visibility != KeepVisibility) {
            ::ShowWindow(control, changes[i].visibility == ShowControl ? SW_SHOW : SW_HIDE);
        }
    }
}

BOOL CScannerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    // The start screen differs when the maker's antivirus product is
    // installed: its notice shows, and its download offers are withdrawn.
    char installedFolder[300];
    m_productInstalled =
        ReadMachineValue(kProductKey, kProductValue, installedFolder, sizeof installedFolder) == 1;
    EnterPhase(PhaseReady);

    mainDialog = this;
    CreateBoldDialogFont(boldUiFont, 15, 700, FALSE, FALSE);

    std::string description = std::string(kProductTitle) + " - Tool to detect and remove all the variants of " +
                              kFamilyName + " Trojan";
    m_description.SetWindowText(description.c_str());
    std::string caption = std::string("for ") + kFamilyName + " Trojan";
    m_captionLabel.SetWindowText(caption.c_str());
    m_makerNotice.SetWindowText(kMakerNotice);
    m_productNotice.SetWindowText(kProductNotice);

    {
        CWindowDC dc(m_hWnd);
        largeFonts = GetDeviceCaps(dc.Get(), LOGPIXELSX) >= kLargeFontsDpi;
    }

    // The dialog opens at the screen origin, where the division rule scales
    // the layout proportionally. Its corner stays there, so it is still
    // centred once initialised.
    ScaleChildWindows(m_hWnd, kDesignWidth, kDesignHeight, FALSE);
    MoveWindow(0, 0, kWindowWidth, kWindowHeight, TRUE);

    m_whiteBrush.Attach(CreateSolidBrush(RGB(255, 255, 255)));
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    ModifyStyle(0, WS_SYSMENU | WS_MINIMIZEBOX);
    LoadSkin();

    CExButton* const buttons[] = {&m_ok, &m_cancel, &m_scan, &m_download, &m_close,
                                  &m_utilitiesLink, &m_downloadLink, &m_logo};
    const int buttonIds[] = {IDC_OK_BUTTON, IDC_CANCEL_BUTTON, IDC_SCAN, IDC_DOWNLOAD, IDC_CLOSE_X,
                             IDC_ULINK, IDC_DLINK, IDC_MAKER_LOGO};
    for (std::size_t i = 0; i < sizeof buttonIds / sizeof buttonIds[0]; ++i) {
        buttons[i]->LoadFromWindowText(buttonIds[i], this);
    }

    SetWindowText(kProductTitle);

    // Every button but the logo points like a link.
    CExButton* const links[] = {&m_scan, &m_close, &m_download, &m_ok, &m_cancel, &m_downloadLink, &m_utilitiesLink};
    for (CExButton* button : links) button->LoadHandCursor();
    return TRUE;
}

void CScannerDlg::OnOK()
{
    // The Enter key does nothing; the OK button closes through the base
    // dialog's OK behaviour.
}

void CScannerDlg::OnCancel()
{
    if (!ScanState.scanRunning) {
        EndDialog(IDCANCEL);
        return;
    }
    AskToStopScan(kProductTitle);
}

void CScannerDlg::OnCloseButton()
{
    if (!ScanState.scanRunning) {
        EndDialog(IDCANCEL);
        return;
    }
    AskToStopScan(kCloseButtonCaption);
}

void CScannerDlg::AskToStopScan(const char* caption)
{
    if (ShowPrompt(kTerminateQuestion, caption, kPromptYesNoQuestion) != IDYES) return;
    EnterPhase(PhaseCancelConfirmed);
    ScanState.cancelRequested = true;
}

void CScannerDlg::OnScan()
{
    ScanState.scanRunning = true;
    EnterPhase(PhaseScanning);
    m_statusFrame.SetWindowText("Scanning");

    std::string heading = std::string("Searching for ") + kFamilyName + " Trojan and its variants";
    m_heading.SetWindowText(heading.c_str());
    m_headingFont.Attach(CreateFontA(15, 0, 0, 0, 700, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial"));
    m_heading.SetFont(m_headingFont.Get());

    ScanState.resultSink = reinterpret_cast<WindowRef>(m_hWnd);
    cleanAction = kActionDelete;
    // Every file the scan removes is kept first, so a wrong detection can
    // be undone with the console scanner (--restore).
    UseDefaultQuarantine();
    ::SetTimer(m_hWnd, ScanTimerId, kScanTimerInterval, nullptr);
}

void CScannerDlg::OnTimerTick()
{
    ::KillTimer(m_hWnd, ScanTimerId);
    ScanState.cancelRequested = false;
    // Every run leaves its record in the log beside the store, so what was
    // removed can be looked up (and undone) afterwards. A log that cannot
    // be written changes nothing here.
    StartDefaultRunRecord(kDialogProgramName);
    RunScanSession();
    StopRunRecord();
    m_status.ShowNow();
    EnterPhase(PhaseFinished);
    m_statusFrame.SetWindowText("");
    ScanState.scanRunning = false;
}

void CScannerDlg::OnShowStatus()
{
    m_status.SetStatus(ScanState.statusText);
}

void CScannerDlg::OnAppendLine()
{
    if (ResultsListNeedsClearing(m_results.GetCount(), ScanState.statisticsPhase)) m_results.ResetContent();
    m_results.AddString(ScanState.lineText);
    int top = ResultsListTopLine(m_results.GetCount());
    if (top >= 0) m_results.SetTopIndex(top);
    UpdateListExtent();
}

void CScannerDlg::UpdateListExtent()
{
    int widest = 0;
    {
        // The list's own font is not selected: the platform's default
        // measures the lines.
        CWindowDC dc(m_results.m_hWnd);
        int count = m_results.GetCount();
        for (int i = 0; i < count; ++i) {
            std::string line = m_results.GetText(i);
            SIZE size = {0, 0};
            GetTextExtentPoint32A(dc.Get(), line.c_str(), static_cast<int>(line.size()), &size);
            widest = std::max(widest, static_cast<int>(size.cx));
        }
    }
    int current = m_results.GetHorizontalExtent();
    int extent = ResultsListExtent(current, widest);
    if (extent != current) m_results.SetHorizontalExtent(extent);
}

int CScannerDlg::ReadMachineValue(const char* subkey, const char* valueName, char* buffer, DWORD size)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD type = 0;
    DWORD needed = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &needed) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return 0;
    }
    DWORD length = size;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length) !=
        ERROR_SUCCESS) {
        RegCloseKey(key);
        return 0;
    }
    RegCloseKey(key);
    return 1;
}

int CScannerDlg::CreateBoldDialogFont(CFont& font, int height, int weight, BOOL underline, BOOL italic)
{
    LOGFONTA description;
    HFONT dialogFont = GetFont();
    if (!dialogFont) dialogFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    GetObjectA(dialogFont, sizeof description, &description);
    description.lfHeight = height;
    description.lfWeight = weight;
    description.lfUnderline = static_cast<BYTE>(underline);
    description.lfItalic = static_cast<BYTE>(italic);
    font.Attach(CreateFontIndirectA(&description));
    return 1;
}

void CScannerDlg::LoadSkin()
{
    m_skin.Attach(static_cast<HBITMAP>(
        LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS)));
    if (m_skin.IsEmpty()) return;  // no shape and no skin: a plain rectangle
    m_region.Attach(BuildWindowRegion(m_skin.Get(), kSkinKeyColour, 1));
    // Once the window has taken the region, it is the window's to release.
    if (!m_region.IsEmpty() && SetWindowRgn(m_hWnd, m_region.Get(), TRUE)) m_region.Detach();
    BITMAP info;
    if (GetObjectA(m_skin.Get(), sizeof info, &info)) {
        m_skinSize.cx = info.bmWidth;
        m_skinSize.cy = info.bmHeight;
    }
    m_skinSurface = CreateCompatibleDC(nullptr);
    if (m_skinSurface) m_skinPrevious = SelectObject(m_skinSurface, m_skin.Get());
}

void CScannerDlg::PaintSkin()
{
    CPaintDC paint(m_hWnd);
    if (!m_skinSurface || !m_skinPrevious) return;
    BitBlt(paint.Get(), 0, 0, m_skinSize.cx, m_skinSize.cy, m_skinSurface, 0, 0, SRCCOPY);
}

void CScannerDlg::OpenPage(const char* address)
{
    ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

HBRUSH CScannerDlg::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    HBRUSH base = DefaultCtlColor(dc, control, kind);
    SetBkMode(dc, TRANSPARENT);
    if (control == m_captionLabel.m_hWnd) return base;
    if (kind == CTLCOLOR_DLG || kind == CTLCOLOR_STATIC) return m_whiteBrush.Get();
    return base;
}

bool CScannerDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    result = TRUE;
    switch (message) {
    // The engine's two messages are WM_ENABLE and WM_SETREDRAW. The platform
    // sends WM_ENABLE too whenever a modal prompt disables or enables the
    // dialog; the status line is then just set again from statusText.
    case ShowStatusMessage:
        OnShowStatus();
        return true;
    case AppendLineMessage:
        OnAppendLine();
        return true;
    case WM_TIMER:
        OnTimerTick();
        return true;
    case WM_PAINT:
        PaintSkin();
        return true;
    case WM_LBUTTONDOWN:
        // The caption-less window moves with the mouse as if its title bar
        // had been pressed.
        PostMessageA(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(LOWORD(lParam), HIWORD(lParam)));
        return false;
    case WM_COMMAND:
        // The second click of a double-click must not do the command again.
        if (!CommandActs(HIWORD(wParam), lParam != 0)) return true;
        switch (LOWORD(wParam)) {
        case IDC_SCAN: OnScan(); return true;
        case IDC_CLOSE_X: OnCloseButton(); return true;
        case IDC_DOWNLOAD:
        case IDC_DLINK: OpenPage(kDownloadPage); return true;
        case IDC_ULINK: OpenPage(kUtilitiesPage); return true;
        case IDC_OK_BUTTON: CDialog::OnOK(); return true;
        default: return false;
        }
    default:
        return false;
    }
}
