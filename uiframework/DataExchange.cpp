#include "DataExchange.h"
#include "MessageBox.h"
#include "Wnd.h"
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string ControlText(HWND control) {
    int length = ::GetWindowTextLengthA(control);
    if (length <= 0) return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    int copied = ::GetWindowTextA(control, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

// A whole decimal number with optional sign and surrounding blanks.
bool ParseInt(const std::string &text, int &value) {
    const char *start = text.c_str();
    char *end = nullptr;
    errno = 0;
    long parsed = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

CDataExchange::CDataExchange(CWnd *window, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(window) {}

HWND CDataExchange::PrepareCtrl(int id) {
    m_lastControl = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(id) : nullptr;
    return m_lastControl;
}

void CDataExchange::Fail() {
    m_failed = true;
    if (m_lastControl) {
        ::SetFocus(m_lastControl);
        ::SendMessageA(m_lastControl, EM_SETSEL, 0, -1);
    }
}

void DDX_Text(CDataExchange *dx, int id, std::string &value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (!control) return;
    if (dx->m_bSaveAndValidate)
        value = ControlText(control);
    else
        ::SetWindowTextA(control, value.c_str());
}

void DDX_Text(CDataExchange *dx, int id, int &value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (!control) return;
    if (!dx->m_bSaveAndValidate) {
        ::SetWindowTextA(control, std::to_string(value).c_str());
        return;
    }
    int parsed = 0;
    if (!ParseInt(ControlText(control), parsed)) {
        AfxMessageBox("Enter a whole number.", MB_OK | MB_ICONEXCLAMATION);
        dx->Fail();
        return;
    }
    value = parsed;
}

void DDX_Control(CDataExchange *dx, int id, CWnd &control) {
    if (dx->Failed() || control.m_hWnd) return;
    control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd);
}

void DDV_MinMaxInt(CDataExchange *dx, int value, int minimum, int maximum) {
    if (dx->Failed() || !dx->m_bSaveAndValidate) return;
    if (value >= minimum && value <= maximum) return;
    char text[96];
    std::snprintf(text, sizeof(text), "Enter a whole number from %d to %d.", minimum, maximum);
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    dx->Fail();
}
