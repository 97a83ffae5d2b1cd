// Data exchange between a window's fields and its controls, run by
// CWnd::UpdateData from the window's DoDataExchange. Loading (saveAndValidate
// FALSE) writes the fields into the controls; saving reads the controls back and
// runs the checks. The first failed check tells the user, focuses the control and
// makes every later step of the same exchange do nothing.
#pragma once
#include <windows.h>
#include <string>

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd *window, BOOL saveAndValidate);

    BOOL m_bSaveAndValidate;
    CWnd *m_pDlgWnd;

    // The control an exchange step works on; checks that follow refer to it.
    HWND PrepareCtrl(int id);
    // Marks the exchange failed and focuses the last prepared control.
    void Fail();
    bool Failed() const { return m_failed; }

private:
    HWND m_lastControl = nullptr;
    bool m_failed = false;
};

void DDX_Text(CDataExchange *dx, int id, std::string &value);
// Decimal integer; text that is not a whole number fails the exchange.
void DDX_Text(CDataExchange *dx, int id, int &value);
// Binds the control (once) to a wrapper object.
void DDX_Control(CDataExchange *dx, int id, CWnd &control);
// Fails when saving a value outside minimum..maximum.
void DDV_MinMaxInt(CDataExchange *dx, int value, int minimum, int maximum);
