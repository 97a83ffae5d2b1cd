// CWinApp: the one application object of a dialog program. Define one global
// instance of a class derived from it; the framework's WinMain (AppEntry.cpp)
// fills in the instance handle and show command, runs InitInstance (which shows
// the program's modal dialog) and ends the program with ExitInstance's result.
// There is no message loop after InitInstance: this framework serves dialog
// programs only, whatever InitInstance returns.
#pragma once
#include "MessageMap.h"
#include <string>

class CWnd;

// The standard help command.
constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
public:
    // `appName` titles message boxes; null: the program's file name.
    explicit CWinApp(const char *appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // Names the registry key under which the framework would keep the program's
    // settings: HKEY_CURRENT_USER\Software\<company>\<application name>. Nothing is
    // stored there by the framework itself.
    void SetRegistryKey(const char *company);
    const std::string &RegistryKey() const { return m_registryKey; }

    // Help command: the programs ship no help file, so there is nothing to show.
    void OnHelp();

    HINSTANCE m_hInstance = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    const char *m_pszAppName = nullptr;
    // The program's main window while it exists; null otherwise.
    CWnd *m_pMainWnd = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    std::string m_appName;
    std::string m_registryKey;
};

// The program's application object, or null (for example inside a library).
CWinApp *AfxGetApp();

// The module that this copy of the framework is linked into (a program or a library).
HINSTANCE AfxGetInstanceHandle();

// The module whose resources (dialog templates, strings, icons) the framework
// loads on the calling thread: the one a CModuleResourceScope of this thread made
// current, else AfxGetInstanceHandle().
HINSTANCE AfxGetResourceHandle();

// Makes a module's resources current on the calling thread while it lives, and
// what was current before again when it dies: a library's export that shows the
// library's own dialogs holds one for the length of the call, so that templates
// are found in the library and not in the program that called it. Scopes nest.
class CModuleResourceScope {
public:
    explicit CModuleResourceScope(HINSTANCE module);
    CModuleResourceScope(const CModuleResourceScope &) = delete;
    CModuleResourceScope &operator=(const CModuleResourceScope &) = delete;
    ~CModuleResourceScope();

private:
    HINSTANCE m_previous;
};

// Hosting of ActiveX controls. No dialog here contains one, so there is nothing
// to enable; the call is kept so that programs state the intent.
void AfxEnableControlContainer();
