// The program's own question and notice box: a light-blue dialog with a
// picture, the message and one or two bitmap buttons, growing with its text.
#pragma once

#include <string>

#include "ui/BitmapButton.h"
#include "ui/Framework.h"
#include "ui/GdiObjects.h"

class CPromptDlg : public CDialog {
public:
    explicit CPromptDlg(CWnd* parent = nullptr);

    CStatic m_icon;
    NCExButton m_yes;
    NCExButton m_ok;
    NCExButton m_no;
    NCExButton m_okAlone;
    NCExButton m_cancel;
    CStatic m_text;
    int m_iconBitmapId;
    int m_okOnly;
    int m_okCancel;
    int m_yesNo;
    std::string m_message;
    std::string m_caption;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;

private:
    void LayOut();
    void PaintPicture();

    CBrush m_backgroundBrush;
};

// Shows the box modally with message-box flags (MB_OKCANCEL, MB_YESNO and
// the icon styles) and returns the answer: IDOK, IDCANCEL, IDYES or IDNO,
// or -1 when the dialog cannot be made. A null or empty caption shows the
// program's title.
int ShowPrompt(const char* text, const char* caption, unsigned flags);
