#include "UpdaterApp.h"
#include "UpdaterDialog.h"
#include <commctrl.h>

BEGIN_MESSAGE_MAP(UpdaterApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

UpdaterApp::UpdaterApp() : CWinApp("Flashwell") {}

// The one application object.
UpdaterApp theApp;

BOOL UpdaterApp::InitInstance() {
    ::InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey("Kelvrin digital video");

    UpdaterDialog dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    // No message loop follows: the program ends with its dialog.
    return FALSE;
}
