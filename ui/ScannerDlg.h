// The program's main window: a caption-less dialog that says what the tool
// is for, offers SCAN and DOWNLOAD, runs the scan session from a timer tick,
// shows its status and result lines, lets the user stop it, and closes the
// program.
#pragma once

#include "ui/BitmapButton.h"
#include "ui/Framework.h"
#include "ui/GdiObjects.h"
#include "ui/StatusLine.h"
#include "ui/logic/DialogPhases.h"

class CScannerDlg : public CDialog {
public:
    explicit CScannerDlg(CWnd* parent = nullptr);
    ~CScannerDlg() override;

    // Reads a value under HKEY_LOCAL_MACHINE into `buffer` (never more than
    // `size` bytes); 1 when it could be read, else 0.
    int ReadMachineValue(const char* subkey, const char* valueName, char* buffer, DWORD size);
    // Widens the results list's horizontal scrolling to its widest line.
    void UpdateListExtent();
    // Makes `font` from the dialog's font with another height, weight,
    // underline and italic; 1.
    int CreateBoldDialogFont(CFont& font, int height, int weight, BOOL underline, BOOL italic);

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;

private:
    void EnterPhase(DialogPhase phase);
    void OnScan();
    void OnCloseButton();
    void AskToStopScan(const char* caption);
    void OnTimerTick();
    void OnShowStatus();
    void OnAppendLine();
    void LoadSkin();
    void PaintSkin();
    void OpenPage(const char* address);

    bool m_productInstalled;
    HICON m_hIcon;
    CBrush m_whiteBrush;
    CFont m_headingFont;

    // The skin: its bitmap, selected into a memory surface for every paint,
    // and the window region cut from it until the window takes it over.
    CBitmap m_skin;
    CRgn m_region;
    HDC m_skinSurface;
    HGDIOBJ m_skinPrevious;
    SIZE m_skinSize;

    CExButton m_ok;
    CExButton m_cancel;
    CExButton m_scan;
    CExButton m_download;
    CExButton m_close;
    CButton m_statusFrame;
    CStatusLine m_status;
    CStatic m_heading;
    CCaptionLabel m_captionLabel;
    CStatic m_productNotice;
    CStatic m_makerNotice;
    CStatic m_description;
    CExButton m_downloadLink;
    CExButton m_utilitiesLink;
    CExButton m_logo;
    CButton m_listFrame;
    CListBox m_results;
};
