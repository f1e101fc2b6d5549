#include "ui/PromptDlg.h"

#include "resources/resource.h"
#include "scan/ProductText.h"
#include "ui/SharedUi.h"
#include "ui/logic/PromptLogic.h"

namespace {

LayoutRect OuterRect(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return LayoutRect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void Place(HWND window, const LayoutRect& rect)
{
    MoveWindow(window, rect.x, rect.y, rect.width, rect.height, TRUE);
}

PromptMode ModeOf(const CPromptDlg& dialog)
{
    if (dialog.m_okCancel) return PromptOkCancel;
    if (dialog.m_yesNo) return PromptYesNo;
    return PromptOkOnly;
}

}  // namespace

CPromptDlg::CPromptDlg(CWnd* parent)
    : CDialog(IDD_PROMPT_DIALOG, parent),
      m_iconBitmapId(IDB_PROMPT_WARNING),
      m_okOnly(0),
      m_okCancel(0),
      m_yesNo(0),
      m_caption(kProductTitle)
{
}

void CPromptDlg::DoDataExchange(CDataExchange* exchange)
{
    CDialog::DoDataExchange(exchange);
    DDX_Control(exchange, IDC_PROMPT_PICTURE, m_icon);
    DDX_Control(exchange, IDC_PROMPT_YES, m_yes);
    DDX_Control(exchange, IDC_PROMPT_OK, m_ok);
    DDX_Control(exchange, IDC_PROMPT_NO, m_no);
    DDX_Control(exchange, IDC_PROMPT_OK_ALONE, m_okAlone);
    DDX_Control(exchange, IDC_PROMPT_CANCEL, m_cancel);
    DDX_Control(exchange, IDC_PROMPT_MESSAGE, m_text);
}

BOOL CPromptDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_backgroundBrush.Attach(CreateSolidBrush(kBodyLightBlue));
    LayOut();
    m_text.SetWindowText(m_message.c_str());
    SetWindowText(m_caption.empty() ? kProductTitle : m_caption.c_str());
    if (mainDialog && mainDialog->m_hWnd) {
        RECT owner, own;
        mainDialog->GetWindowRect(&owner);
        GetWindowRect(&own);
        int width = own.right - own.left, height = own.bottom - own.top;
        SetWindowPos(nullptr, owner.left + (owner.right - owner.left - width) / 2,
                     owner.top + (owner.bottom - owner.top - height) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
}

// Grows the box with the message: the box goes to the screen origin, so the
// controls' window rectangles are measured from its outer corner, and each
// new position is applied as a position in the client area.
void CPromptDlg::LayOut()
{
    PromptLayoutInput input;
    input.messageLength = m_message.size();
    input.largeFonts = largeFonts;
    input.dialog = OuterRect(m_hWnd);

    PromptGrowth growth = PromptGrowthForLength(input.messageLength);
    MoveWindow(0, 0, input.dialog.width + growth.widen, input.dialog.height + growth.grow - growth.quarter, TRUE);

    input.message = OuterRect(m_text.m_hWnd);
    input.picture = OuterRect(m_icon.m_hWnd);
    NCExButton* const buttons[kPromptButtonCount] = {&m_okAlone, &m_ok, &m_cancel, &m_yes, &m_no};
    for (int i = 0; i < kPromptButtonCount; ++i) input.buttons[i] = OuterRect(buttons[i]->m_hWnd);
    PromptLayout layout = LayOutPrompt(input);

    Place(m_text.m_hWnd, layout.message);
    for (int i = 0; i < kPromptButtonCount; ++i) Place(buttons[i]->m_hWnd, layout.buttons[i]);

    PromptMode mode = ModeOf(*this);
    m_okAlone.ShowWindow(mode == PromptOkOnly ? SW_SHOW : SW_HIDE);
    m_ok.ShowWindow(mode == PromptOkCancel ? SW_SHOW : SW_HIDE);
    m_cancel.ShowWindow(mode == PromptOkCancel ? SW_SHOW : SW_HIDE);
    m_yes.ShowWindow(mode == PromptYesNo ? SW_SHOW : SW_HIDE);
    m_no.ShowWindow(mode == PromptYesNo ? SW_SHOW : SW_HIDE);

    NCExButton* const loadOrder[] = {&m_ok, &m_okAlone, &m_cancel, &m_yes, &m_no};
    for (NCExButton* button : loadOrder) button->LoadFromWindowText(0, this);

    if (layout.movePicture) {
        m_icon.SetWindowPos(nullptr, layout.picture.x, layout.picture.y, 0, 0,
                            SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CPromptDlg::OnOK()
{
    EndDialog(PromptResultForCommand(IDC_PROMPT_OK, ModeOf(*this)));
}

void CPromptDlg::OnCancel()
{
    EndDialog(PromptResultForCommand(IDC_PROMPT_CANCEL, ModeOf(*this)));
}

void CPromptDlg::PaintPicture()
{
    CPaintDC paint(m_hWnd);
    CBitmap picture(static_cast<HBITMAP>(
        LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_iconBitmapId), IMAGE_BITMAP, 0, 0, 0)));
    if (picture.IsEmpty()) return;
    RECT area;
    m_icon.GetClientRect(&area);
    CWindowDC target(m_icon.m_hWnd);
    CMemoryDC memory(target.Get());
    CSelectedObject selected(memory.Get(), picture.Get());
    if (selected.Selected()) {
        BitBlt(target.Get(), 0, 0, area.right - area.left, area.bottom - area.top, memory.Get(), 0, 0, SRCCOPY);
    }
}

HBRUSH CPromptDlg::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    HBRUSH base = DefaultCtlColor(dc, control, kind);
    SetBkMode(dc, TRANSPARENT);
    if (kind == CTLCOLOR_DLG || kind == CTLCOLOR_STATIC) return m_backgroundBrush.Get();
    return base;
}

bool CPromptDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    result = TRUE;
    if (message == WM_PAINT) {
        PaintPicture();
        return true;
    }
    if (message == WM_COMMAND) {
        int command = LOWORD(wParam);
        if (command == IDC_PROMPT_YES || command == IDC_PROMPT_NO) {
            EndDialog(PromptResultForCommand(command, ModeOf(*this)));
            return true;
        }
        if (command == IDC_PROMPT_OK_ALONE) {
            OnOK();
            return true;
        }
    }
    return false;
}

int ShowPrompt(const char* text, const char* caption, unsigned flags)
{
    CPromptDlg prompt;
    prompt.m_message = text ? text : "";
    prompt.m_caption = caption ? caption : "";
    switch (PromptModeForFlags(flags)) {
    case PromptOkCancel: prompt.m_okCancel = 1; break;
    case PromptYesNo: prompt.m_yesNo = 1; break;
    case PromptOkOnly: prompt.m_okOnly = 1; break;
    }
    prompt.m_iconBitmapId = PromptPictureForFlags(flags);
    return static_cast<int>(prompt.DoModal());
}
