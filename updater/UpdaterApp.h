// Flashwell's application object: shows the main dialog and ends when it closes.
#pragma once
#include "WinApp.h"

class UpdaterApp : public CWinApp {
public:
    UpdaterApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
