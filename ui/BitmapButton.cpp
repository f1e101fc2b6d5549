#include "ui/BitmapButton.h"

#include <cstring>

#include "ui/SharedUi.h"
#include "ui/logic/ButtonLogic.h"

namespace {

const int kHelpHandCursor = 106;
// The system's hand cursor (IDC_HAND), present from Windows 2000 on.
const int kSystemHandCursor = 32649;

HBITMAP LoadNamedBitmap(const char* name)
{
    return static_cast<HBITMAP>(LoadImageA(AfxGetInstanceHandle(), name, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

}  // namespace

CStateBitmapButton::CStateBitmapButton() : m_highlighted(0)
{
    SetRectEmpty(&m_bounds);
}

bool CStateBitmapButton::LoadFromWindowText(int controlId, CWnd* parent)
{
    if (!m_hWnd && !SubclassDlgItem(static_cast<UINT>(controlId), parent)) return false;
    std::string text = GetWindowText();
    if (text.empty()) return false;
    LoadStateBitmaps((text + "_FOCUS").c_str(), (text + "_NOTFOCUS").c_str(), (text + "_DISABLE").c_str());
    return true;
}

bool CStateBitmapButton::LoadStateBitmaps(const char* focusName, const char* notFocusName, const char* disableName)
{
    m_bitmapFocus.DeleteObject();
    m_bitmapNotFocus.DeleteObject();
    m_bitmapDisable.DeleteObject();

    m_bitmapFocus.Attach(LoadNamedBitmap(focusName));
    if (m_bitmapFocus.IsEmpty()) return false;
    m_bitmapNotFocus.Attach(LoadNamedBitmap(notFocusName));
    if (m_bitmapNotFocus.IsEmpty()) return false;
    m_bitmapDisable.Attach(LoadNamedBitmap(disableName));
    return FitToBitmap();
}

bool CStateBitmapButton::FitToBitmap()
{
    BITMAP info;
    if (m_bitmapNotFocus.IsEmpty() || !GetObjectA(m_bitmapNotFocus.Get(), sizeof info, &info)) return false;
    if (!SetWindowPos(nullptr, 0, 0, info.bmWidth, info.bmHeight,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE)) {
        return false;
    }
    SetRect(&m_bounds, 0, 0, info.bmWidth, info.bmHeight);
    return true;
}

void CStateBitmapButton::DrawItem(LPDRAWITEMSTRUCT drawItem)
{
    HBITMAP image = nullptr;
    switch (ChooseButtonImage(m_highlighted != 0, (drawItem->itemState & ODS_DISABLED) != 0)) {
    case ImageFocus: image = m_bitmapFocus.Get(); break;
    case ImageDisable: image = m_bitmapDisable.Get(); break;
    case ImageNotFocus: image = m_bitmapNotFocus.Get(); break;
    }
    if (!image) return;
    CMemoryDC memory(drawItem->hDC);
    CSelectedObject selected(memory.Get(), image);
    if (!selected.Selected()) return;
    const RECT& item = drawItem->rcItem;
    BitBlt(drawItem->hDC, item.left, item.top, item.right - item.left, item.bottom - item.top, memory.Get(), 0, 0,
           SRCCOPY);
}

LRESULT CStateBitmapButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    ButtonEvent event;
    switch (message) {
    case WM_SETFOCUS: event = ButtonSetFocus; break;
    case WM_KILLFOCUS: event = ButtonKillFocus; break;
    case WM_MOUSEMOVE: event = ButtonMouseMove; break;
    default: return CButton::WindowProc(message, wParam, lParam);
    }
    int x = static_cast<short>(LOWORD(lParam));
    int y = static_cast<short>(HIWORD(lParam));
    HighlightStep step = NextHighlightStep(event, GetCapture() == m_hWnd,
                                           PointInsideBounds(x, y, m_bounds.right, m_bounds.bottom));
    LRESULT result = 0;
    if (step.defaultFirst) result = Default();
    if (step.takeFocus) ::SetFocus(m_hWnd);
    if (step.highlight >= 0) {
        m_highlighted = step.highlight;
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    if (step.takeCapture) SetCapture(m_hWnd);
    if (step.releaseCapture) ReleaseCapture();
    if (!step.defaultFirst) result = Default();
    return result;
}

CExButton::CExButton()
{
}

void CExButton::LoadHandCursor()
{
    if (m_handCursor.Get()) return;
    char helpProgram[MAX_PATH + 32];
    UINT length = GetWindowsDirectoryA(helpProgram, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::strcat(helpProgram, "\\winhlp32.exe");
        HMODULE help = LoadLibraryA(helpProgram);
        if (help) {
            HCURSOR hand = LoadCursorA(help, MAKEINTRESOURCEA(kHelpHandCursor));
            if (hand) m_handCursor.Attach(CopyIcon(hand));
            FreeLibrary(help);
        }
    }
    // Some systems' help program carries no such cursor; the system's own
    // hand keeps the buttons looking like links there.
    if (!m_handCursor.Get()) {
        HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(kSystemHandCursor));
        if (hand) m_handCursor.Attach(CopyIcon(hand));
    }
}

LRESULT CExButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETCURSOR && m_handCursor.Get()) {
        SetCursor(m_handCursor.Get());
        return TRUE;
    }
    return CStateBitmapButton::WindowProc(message, wParam, lParam);
}

CCaptionLabel::CCaptionLabel() : m_textColor(RGB(255, 255, 255))
{
    SetRectEmpty(&m_labelRect);
}

LRESULT CCaptionLabel::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT) return CStatic::WindowProc(message, wParam, lParam);
    CPaintDC paint(m_hWnd);
    GetClientRect(&m_labelRect);
    m_labelText = GetWindowText();
    SetTextColor(paint.Get(), m_textColor);
    CSelectedObject font(paint.Get(), boldUiFont.Get());
    SetBkColor(paint.Get(), kTitleBlue);
    DrawTextA(paint.Get(), m_labelText.c_str(), -1, &m_labelRect, DT_CENTER | DT_VCENTER);
    return 0;
}
