#include "app/ScannerApp.h"

#include "scan/ProductText.h"
#include "ui/ScannerDlg.h"

CScannerApp theApp;

CScannerApp::CScannerApp()
{
}

CScannerApp::~CScannerApp()
{
}

BOOL CScannerApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControls();

    // A window with the main dialog's title means a copy is already open
    // (its dialog or one of its prompts): end quietly without touching it.
    if (FindWindowA(nullptr, kProductTitle)) return FALSE;

    CScannerDlg* dialog = new CScannerDlg(nullptr);
    m_pMainWnd = dialog;
    dialog->DoModal();
    m_pMainWnd = nullptr;
    delete dialog;
    return FALSE;
}
