#include "Wnd.h"
#include "DataExchange.h"
#include "MessageBox.h"
#include "WinApp.h"
#include <cstdio>
#include <vector>

namespace {

// Each module that links the framework (the program, a library) keeps its own
// bindings under its own property name, so two copies in one process never take
// each other's objects.
const char *BindingProperty() {
    static const std::string name = [] {
        char text[48];
        std::snprintf(text, sizeof(text), "uiframework.CWnd.%p", static_cast<void *>(AfxGetInstanceHandle()));
        return std::string(text);
    }();
    return name.c_str();
}

}  // namespace

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (!m_hWnd) return;
    if (m_createdHere) {
        // WM_NCDESTROY ends the binding on the way.
        ::DestroyWindow(m_hWnd);
    }
    if (m_hWnd) EndBinding();
}

CWnd *CWnd::FromHandlePermanent(HWND hwnd) {
    if (!hwnd) return nullptr;
    return static_cast<CWnd *>(::GetPropA(hwnd, BindingProperty()));
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (m_hWnd || !hwnd || !::IsWindow(hwnd) || FromHandlePermanent(hwnd)) return FALSE;
    if (!::SetPropA(hwnd, BindingProperty(), this)) return FALSE;
    m_hWnd = hwnd;
    PreSubclassWindow();
    m_ownProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::BoundWindowProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd *parent) {
    if (!parent || !parent->m_hWnd) return FALSE;
    return SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

BOOL CWnd::AttachCreated(HWND hwnd) {
    if (!SubclassWindow(hwnd)) return FALSE;
    m_createdHere = true;
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hwnd = m_hWnd;
    if (hwnd) EndBinding();
    return hwnd;
}

void CWnd::EndBinding() {
    if (m_ownProc) ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_ownProc));
    ::RemovePropA(m_hWnd, BindingProperty());
    m_hWnd = nullptr;
    m_ownProc = nullptr;
    m_createdHere = false;
}

LRESULT CALLBACK CWnd::BoundWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd *wnd = FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    CurrentMessage outer = wnd->m_current;
    wnd->m_current = {message, wParam, lParam};
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    wnd->m_current = outer;
    if (message == WM_NCDESTROY && wnd->m_hWnd == hwnd) {
        wnd->EndBinding();
        wnd->PostNcDestroy();  // may delete the object
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (OnWndMsg(message, wParam, lParam, &result)) return result;
    return Default();
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    if (message == WM_COMMAND) {
        HWND control = reinterpret_cast<HWND>(lParam);
        CWnd *child = FromHandlePermanent(control);
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, result)) return TRUE;
        UINT id = LOWORD(wParam);
        UINT code = HIWORD(wParam);
        if (const AFX_MSGMAP_ENTRY *entry = FindMessageEntry(WM_COMMAND, code, id)) {
            entry->handler(this, wParam, lParam, *result);
            return TRUE;
        }
        // Plain commands nobody here handles go to the application's command map.
        if (code == 0 || code == 1) {
            if (CWinApp *app = AfxGetApp(); app && app->OnCmdMsg(id, code)) {
                *result = 0;
                return TRUE;
            }
        }
        return FALSE;
    }
    if (const AFX_MSGMAP_ENTRY *entry = FindMessageEntry(message, 0, 0)) {
        entry->handler(this, wParam, lParam, *result);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM, LRESULT *result) {
    if (message != WM_COMMAND) return FALSE;
    const AFX_MSGMAP_ENTRY *entry = FindMessageEntry(AFX_WM_REFLECT_BASE + WM_COMMAND, HIWORD(wParam), 0);
    if (!entry) return FALSE;
    entry->handler(this, wParam, 0, *result);
    return TRUE;
}

LRESULT CWnd::Default() {
    if (!m_hWnd) return 0;
    if (!m_ownProc) return ::DefWindowProcA(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
    return ::CallWindowProcA(m_ownProc, m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::PreSubclassWindow() {}
void CWnd::DoDataExchange(CDataExchange *) {}
void CWnd::PostNcDestroy() {}
BOOL CWnd::PreTranslateMessage(MSG *) { return FALSE; }

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnDestroy() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
void CWnd::SetWindowText(const std::string &text) { ::SetWindowTextA(m_hWnd, text.c_str()); }

std::string CWnd::GetWindowText() const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0) return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    int copied = ::GetWindowTextA(m_hWnd, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

HWND CWnd::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

void CWnd::GetClientRect(RECT *rect) const {
    if (!::GetClientRect(m_hWnd, rect)) *rect = RECT{};
}

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add) {
    DWORD style = GetStyle();
    DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(changed));
    return TRUE;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

HMENU CWnd::GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }

int CWnd::MessageBox(const char *text, const char *caption, UINT type) {
    std::string title = caption ? std::string(caption) : AfxApplicationName();
    return ::MessageBoxA(m_hWnd, text, title.c_str(), type);
}
