#include "ui/Framework.h"

#include <map>
#include <vector>

namespace {

// Every window bound to an object of ours. One thread owns all windows.
std::map<HWND, CWnd*>& BoundWindows()
{
    static std::map<HWND, CWnd*> windows;
    return windows;
}

CWinApp* currentApp = nullptr;

}  // namespace

// ---------------------------------------------------------------- CWnd

CWnd::CWnd()
    : m_hWnd(nullptr), m_previousProc(nullptr), m_currentMessage(0), m_currentWParam(0), m_currentLParam(0)
{
}

CWnd::~CWnd()
{
    if (m_previousProc) UnsubclassWindow();
    Detach();
}

CWnd* CWnd::FromHandle(HWND window)
{
    auto found = BoundWindows().find(window);
    return found == BoundWindows().end() ? nullptr : found->second;
}

void CWnd::Attach(HWND window)
{
    m_hWnd = window;
    if (window) BoundWindows()[window] = this;
}

void CWnd::Detach()
{
    if (m_hWnd) {
        auto found = BoundWindows().find(m_hWnd);
        if (found != BoundWindows().end() && found->second == this) BoundWindows().erase(found);
    }
    m_hWnd = nullptr;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    if (!parent || !parent->m_hWnd) return FALSE;
    HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return control ? SubclassWindow(control) : FALSE;
}

BOOL CWnd::SubclassWindow(HWND window)
{
    if (m_hWnd || !window || FromHandle(window)) return FALSE;
    Attach(window);
    m_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (!m_previousProc) {
        Detach();
        return FALSE;
    }
    return TRUE;
}

HWND CWnd::UnsubclassWindow()
{
    HWND window = m_hWnd;
    if (window && m_previousProc && IsWindow(window)) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    }
    m_previousProc = nullptr;
    Detach();
    return window;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object = FromHandle(window);
    if (!object || !object->m_previousProc) return DefWindowProcA(window, message, wParam, lParam);
    UINT savedMessage = object->m_currentMessage;
    WPARAM savedWParam = object->m_currentWParam;
    LPARAM savedLParam = object->m_currentLParam;
    object->m_currentMessage = message;
    object->m_currentWParam = wParam;
    object->m_currentLParam = lParam;
    LRESULT result;
    if (message == WM_NCDESTROY) {
        // The window is going: hand it back before the last message.
        WNDPROC previous = object->m_previousProc;
        object->UnsubclassWindow();
        result = CallWindowProcA(previous, window, message, wParam, lParam);
        return result;
    }
    result = object->WindowProc(message, wParam, lParam);
    object->m_currentMessage = savedMessage;
    object->m_currentWParam = savedWParam;
    object->m_currentLParam = savedLParam;
    return result;
}

LRESULT CWnd::WindowProc(UINT, WPARAM, LPARAM)
{
    return Default();
}

LRESULT CWnd::Default()
{
    if (!m_previousProc) return 0;
    return CallWindowProcA(m_previousProc, m_hWnd, m_currentMessage, m_currentWParam, m_currentLParam);
}

void CWnd::DrawItem(LPDRAWITEMSTRUCT)
{
}

BOOL CWnd::ShowWindow(int command)
{
    return ::ShowWindow(m_hWnd, command);
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const
{
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}

void CWnd::SetWindowText(const char* text)
{
    ::SetWindowTextA(m_hWnd, text);
}

std::string CWnd::GetWindowText() const
{
    int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0) return std::string();
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = ::GetWindowTextA(m_hWnd, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

void CWnd::GetWindowRect(RECT* rect) const
{
    ::GetWindowRect(m_hWnd, rect);
}

void CWnd::GetClientRect(RECT* rect) const
{
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint)
{
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

BOOL CWnd::SetWindowPos(HWND after, int x, int y, int width, int height, UINT flags)
{
    return ::SetWindowPos(m_hWnd, after, x, y, width, height, flags);
}

void CWnd::Invalidate(BOOL erase)
{
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::SetFont(HFONT font, BOOL redraw)
{
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
}

HFONT CWnd::GetFont() const
{
    return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
}

HWND CWnd::GetDlgItem(int id) const
{
    return ::GetDlgItem(m_hWnd, id);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetIcon(HICON icon, BOOL big)
{
    SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void CWnd::ModifyStyle(DWORD remove, DWORD add)
{
    LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
    SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>((static_cast<DWORD>(style) & ~remove) | add));
}

void CWnd::CenterWindow()
{
    RECT own, area;
    ::GetWindowRect(m_hWnd, &own);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        SetRect(&area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    int width = own.right - own.left, height = own.bottom - own.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT)
{
}

// ---------------------------------------------------------------- CListBox

int CListBox::AddString(const char* text)
{
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

int CListBox::GetCount()
{
    return static_cast<int>(SendMessage(LB_GETCOUNT));
}

void CListBox::ResetContent()
{
    SendMessage(LB_RESETCONTENT);
}

int CListBox::SetTopIndex(int index)
{
    return static_cast<int>(SendMessage(LB_SETTOPINDEX, static_cast<WPARAM>(index)));
}

std::string CListBox::GetText(int index)
{
    LRESULT length = SendMessage(LB_GETTEXTLEN, static_cast<WPARAM>(index));
    if (length == LB_ERR || length <= 0) return std::string();
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessage(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data());
}

int CListBox::GetHorizontalExtent()
{
    return static_cast<int>(SendMessage(LB_GETHORIZONTALEXTENT));
}

void CListBox::SetHorizontalExtent(int extent)
{
    SendMessage(LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent));
}

// ---------------------------------------------------------------- dialogs

void DDX_Control(CDataExchange* exchange, int id, CWnd& control)
{
    if (control.m_hWnd) return;
    control.SubclassDlgItem(static_cast<UINT>(id), exchange->m_pDlgWnd);
}

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_pParentWnd(parent), m_currentCtlColorMessage(0)
{
}

INT_PTR CDialog::DoModal()
{
    // Without a parent the application's main window owns the dialog and is
    // disabled while it runs.
    HWND owner = nullptr;
    if (m_pParentWnd) owner = m_pParentWnd->m_hWnd;
    else if (AfxGetMainWnd() && AfxGetMainWnd() != this) owner = AfxGetMainWnd()->m_hWnd;
    INT_PTR result = DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), owner,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    Detach();
    return result;
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    CDataExchange exchange(this, FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*)
{
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

HBRUSH CDialog::DefaultCtlColor(HDC dc, HWND control, UINT)
{
    return reinterpret_cast<HBRUSH>(DefWindowProcA(m_hWnd, m_currentCtlColorMessage, reinterpret_cast<WPARAM>(dc),
                                                   reinterpret_cast<LPARAM>(control)));
}

HBRUSH CDialog::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    return DefaultCtlColor(dc, control, kind);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->Attach(window);
        RECT before, after;
        ::GetWindowRect(window, &before);
        BOOL result = dialog->OnInitDialog();
        // A dialog that did not place itself opens centred.
        ::GetWindowRect(window, &after);
        if (before.left == after.left && before.top == after.top) dialog->CenterWindow();
        return result;
    }
    dialog = static_cast<CDialog*>(FromHandle(window));
    if (!dialog) return FALSE;  // messages before WM_INITDIALOG

    INT_PTR result = 0;
    if (dialog->OnMessage(message, wParam, lParam, result)) return result;

    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            dialog->OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            dialog->OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_DRAWITEM: {
        DRAWITEMSTRUCT* drawItem = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        CWnd* control = drawItem ? FromHandle(drawItem->hwndItem) : nullptr;
        if (!control) return FALSE;
        control->DrawItem(drawItem);
        return TRUE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        dialog->m_currentCtlColorMessage = message;
        UINT kind = message - WM_CTLCOLORMSGBOX;
        return reinterpret_cast<INT_PTR>(
            dialog->OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), kind));
    }
    case WM_NCDESTROY:
        dialog->Detach();
        return FALSE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------- application

CWinApp::CWinApp() : m_pMainWnd(nullptr), m_hInstance(nullptr)
{
    currentApp = this;
}

CWinApp::~CWinApp()
{
    if (currentApp == this) currentApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return FALSE;
}

CWinApp* AfxGetApp()
{
    return currentApp;
}

CWnd* AfxGetMainWnd()
{
    return currentApp ? currentApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    return currentApp && currentApp->m_hInstance ? currentApp->m_hInstance : GetModuleHandleA(nullptr);
}

void AfxEnableControlContainer()
{
}

BOOL Enable3dControls()
{
    return TRUE;
}

int AfxWinMain(HINSTANCE instance)
{
    CWinApp* app = AfxGetApp();
    if (!app) return 0;
    app->m_hInstance = instance;
    app->InitInstance();
    return 0;
}
