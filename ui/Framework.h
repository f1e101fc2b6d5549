// A small dialog framework with the names of the classic one: a window
// object (CWnd) bound to a window handle, modal dialogs built from templates
// (CDialog) with their controls bound by id (DDX_Control), the standard
// controls used here (CButton, CStatic, CListBox) and the application object
// (CWinApp). Only what this program uses.
//
// One static procedure serves every dialog and one every subclassed control;
// each finds its object through a table from window handle to object, and
// owner-draw messages are reflected from the dialog to the control's object so
// a bitmap button draws itself. Nothing here throws: no exception may cross
// the system's window procedures.
#pragma once

#include <windows.h>

#include <string>

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd;

    // The object bound to a window, or null for a window without one.
    static CWnd* FromHandle(HWND window);

    // Binds this object to control `id` of `parent` and routes the control's
    // messages through WindowProc.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    BOOL SubclassWindow(HWND window);
    HWND UnsubclassWindow();

    BOOL ShowWindow(int command);
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    void GetWindowRect(RECT* rect) const;
    void GetClientRect(RECT* rect) const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    BOOL SetWindowPos(HWND after, int x, int y, int width, int height, UINT flags);
    void Invalidate(BOOL erase = TRUE);
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    HWND GetDlgItem(int id) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void SetIcon(HICON icon, BOOL big);
    void ModifyStyle(DWORD remove, DWORD add);
    // Centres the window over its owner, or over the screen without one.
    void CenterWindow();

    // Owner-drawn controls paint themselves when their dialog reflects
    // WM_DRAWITEM to them.
    virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);

protected:
    // Every message of a subclassed window; the default passes it on.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The previous window procedure, for the message being handled.
    LRESULT Default();

    void Attach(HWND window);
    void Detach();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_previousProc;
    UINT m_currentMessage;
    WPARAM m_currentWParam;
    LPARAM m_currentLParam;
};

class CButton : public CWnd {
public:
    // Owner-drawn buttons draw themselves here; the plain one draws nothing.
    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
};

class CStatic : public CWnd {
};

class CListBox : public CWnd {
public:
    int AddString(const char* text);
    int GetCount();
    void ResetContent();
    int SetTopIndex(int index);
    std::string GetText(int index);
    int GetHorizontalExtent();
    void SetHorizontalExtent(int extent);
};

// Binding of a dialog's controls to their member objects.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

void DDX_Control(CDataExchange* exchange, int id, CWnd& control);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Runs the dialog modally; its result, or -1 when it cannot be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

protected:
    // Binds the controls (DoDataExchange); TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* exchange);
    // The dialog's own messages: true when handled, with the procedure's
    // answer in `result`. Commands IDOK and IDCANCEL not handled here go to
    // OnOK and OnCancel.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // The brush for a control-colour query; the default is the system's.
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    HBRUSH DefaultCtlColor(HDC dc, HWND control, UINT kind);

    UINT m_templateId;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    UINT m_currentCtlColorMessage;
};

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // FALSE ends the program as soon as it returns.
    virtual BOOL InitInstance();

    CWnd* m_pMainWnd;
    HINSTANCE m_hInstance;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();

// Embedded controls and the three-dimensional look need no switching on
// with the system's own dialog manager; kept for the start-up sequence.
void AfxEnableControlContainer();
BOOL Enable3dControls();

// Starts the application object: InitInstance, then the end of the program.
int AfxWinMain(HINSTANCE instance);
