#include "WinApp.h"
#include "MessageBox.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
CWinApp *theApplication = nullptr;
// Null: this module's own resources.
thread_local HINSTANCE currentResources = nullptr;
}  // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char *appName) {
    if (appName) m_appName = appName;
    theApplication = this;
    if (m_appName.empty()) m_appName = AfxApplicationName();
    m_pszAppName = m_appName.c_str();
}

CWinApp::~CWinApp() {
    if (theApplication == this) theApplication = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const char *company) {
    m_registryKey = std::string("Software\\") + (company ? company : "") + "\\" + m_appName;
}

void CWinApp::OnHelp() {}

CWinApp *AfxGetApp() { return theApplication; }

HINSTANCE AfxGetInstanceHandle() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HINSTANCE AfxGetResourceHandle() { return currentResources ? currentResources : AfxGetInstanceHandle(); }

CModuleResourceScope::CModuleResourceScope(HINSTANCE module) : m_previous(currentResources) {
    currentResources = module;
}

CModuleResourceScope::~CModuleResourceScope() { currentResources = m_previous; }

void AfxEnableControlContainer() {}
