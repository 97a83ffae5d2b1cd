// CDialog: a modal dialog from a dialog template resource of the module that
// links the framework. DoModal runs the platform's modal loop (DialogBoxParam);
// the dialog object is bound to the dialog window from WM_INITDIALOG until the
// window is destroyed. During the loop, PreTranslateMessage of the bound windows
// sees each message first (through a message-filter hook of the calling thread).
//
// Commands IDOK and IDCANCEL (Enter, Escape, the close box) run OnOK and OnCancel.
#pragma once
#include "Wnd.h"

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT templateId, CWnd *parent = nullptr);

    // IDOK, IDCANCEL or what EndDialog was given; -1 when the dialog could not be made.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    // Fills the controls from the fields (UpdateData(FALSE)); TRUE lets the platform
    // set the focus.
    virtual BOOL OnInitDialog();
    // Reads and checks the fields (UpdateData(TRUE)); ends with IDOK only if that passed.
    virtual void OnOK();
    virtual void OnCancel();

    // Owner of the dialog window; may be set until DoModal.
    CWnd *m_pParentWnd;
    // The owner when m_pParentWnd is null: a window that no object of this module is
    // bound to (one of the program that called a library's dialog).
    HWND m_hWndOwner = nullptr;

protected:
    UINT m_templateId;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK StartProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};
