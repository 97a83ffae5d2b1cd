// The program entry of a dialog program built on this framework: runs the one
// global CWinApp object.
#include "WinApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    CWinApp *app = AfxGetApp();
    if (!app) return 1;
    app->m_hInstance = instance;
    app->m_nCmdShow = showCommand;
    app->InitInstance();
    return app->ExitInstance();
}
