#include "AddRouterDialog.h"

#include "DataExchange.h"
#include "SelectDialogIds.h"

#include <cctype>
#include <new>
#include <vector>

namespace {

// Whether the field holds something after its leading blanks.
bool HasText(HWND edit) {
    const int length = ::GetWindowTextLengthA(edit);
    if (length <= 0) return false;
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    ::GetWindowTextA(edit, text.data(), length + 1);
    for (const char *at = text.data(); *at; ++at)
        if (!std::isspace(static_cast<unsigned char>(*at))) return true;
    return false;
}

}  // namespace

BEGIN_MESSAGE_MAP(AddRouterDialog, CDialog)
    ON_EN_CHANGE(IDC_ROUTER_HOST, &AddRouterDialog::OnFieldChanged)
    ON_EN_CHANGE(IDC_ROUTER_PORT, &AddRouterDialog::OnFieldChanged)
END_MESSAGE_MAP()

AddRouterDialog::AddRouterDialog(CWnd *parent) : CDialog(IDD_ADD_ROUTER, parent) {}

void AddRouterDialog::DoDataExchange(CDataExchange *dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_ROUTER_HOST, m_host);
    DDX_Text(dx, IDC_ROUTER_PORT, m_port);
    DDV_MinMaxInt(dx, m_port, 0, 0xFFFF);
}

// No exception may unwind through the system's modal loop.
LRESULT AddRouterDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return CDialog::WindowProc(message, wParam, lParam);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

// Runs for every change, also while the fields are first filled.
void AddRouterDialog::OnFieldChanged() {
    const bool complete = HasText(GetDlgItem(IDC_ROUTER_HOST)) && HasText(GetDlgItem(IDC_ROUTER_PORT));
    ::EnableWindow(GetDlgItem(IDOK), complete ? TRUE : FALSE);
}
