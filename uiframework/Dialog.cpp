#include "Dialog.h"
#include "WinApp.h"

namespace {

// Offers a message to PreTranslateMessage of the bound windows from its target up
// to the target's top-level window.
bool PreTranslateAlongParents(MSG *msg) {
    for (HWND hwnd = msg->hwnd; hwnd;) {
        if (CWnd *wnd = CWnd::FromHandlePermanent(hwnd); wnd && wnd->PreTranslateMessage(msg)) return true;
        if (!(::GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD)) break;
        hwnd = ::GetParent(hwnd);
    }
    return false;
}

LRESULT CALLBACK ModalMessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && PreTranslateAlongParents(reinterpret_cast<MSG *>(lParam))) return 1;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// One hook per thread however deeply modal dialogs nest, so that each message is
// offered once.
class ModalMessageFilterHold {
public:
    ModalMessageFilterHold() {
        if (holds_++ == 0) hook_ = ::SetWindowsHookExA(WH_MSGFILTER, &ModalMessageFilter, nullptr, ::GetCurrentThreadId());
    }
    ModalMessageFilterHold(const ModalMessageFilterHold &) = delete;
    ModalMessageFilterHold &operator=(const ModalMessageFilterHold &) = delete;
    ~ModalMessageFilterHold() {
        if (--holds_ == 0 && hook_) {
            ::UnhookWindowsHookEx(hook_);
            hook_ = nullptr;
        }
    }

private:
    static thread_local int holds_;
    static thread_local HHOOK hook_;
};
thread_local int ModalMessageFilterHold::holds_ = 0;
thread_local HHOOK ModalMessageFilterHold::hook_ = nullptr;

}  // namespace

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd *parent) : m_pParentWnd(parent), m_templateId(templateId) {}

INT_PTR CDialog::DoModal() {
    if (m_hWnd) return -1;
    ModalMessageFilterHold filter;
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : m_hWndOwner;
    return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_templateId), owner, &CDialog::StartProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::StartProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto *dialog = reinterpret_cast<CDialog *>(lParam);
    if (!dialog->SubclassWindow(hwnd)) {
        ::EndDialog(hwnd, -1);
        return FALSE;
    }
    return dialog->OnInitDialog();
}

void CDialog::EndDialog(int result) {
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
