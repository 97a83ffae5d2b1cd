#include "MessageBox.h"
#include "WinApp.h"
#include "Wnd.h"

std::string AfxApplicationName() {
    if (CWinApp *app = AfxGetApp(); app && app->m_pszAppName) return app->m_pszAppName;
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

int AfxMessageBox(const std::string &text, UINT type) {
    if ((type & MB_ICONMASK) == 0 && (type & MB_TYPEMASK) <= MB_OKCANCEL) type |= MB_ICONEXCLAMATION;
    HWND owner = ::GetActiveWindow();
    if (owner) {
        owner = ::GetAncestor(owner, GA_ROOT);
    } else if (CWinApp *app = AfxGetApp(); app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd &&
                                           ::GetWindowThreadProcessId(app->m_pMainWnd->m_hWnd, nullptr) ==
                                               ::GetCurrentThreadId()) {
        owner = app->m_pMainWnd->m_hWnd;  // the program's main window, if this thread runs it
    }
    return ::MessageBoxA(owner, text.c_str(), AfxApplicationName().c_str(), type);
}

std::string AfxFileOpenErrorText(const std::string &path) { return path + "\nCannot open the file."; }

void AfxReportFileOpenError(const std::string &path) {
    AfxMessageBox(AfxFileOpenErrorText(path), MB_OK | MB_ICONEXCLAMATION);
}
