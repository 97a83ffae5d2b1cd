// CWnd: a C++ object bound to one window. Binding subclasses the window: its
// messages run through the object's message map (MessageMap.h) and WindowProc,
// and whatever the map does not handle goes on to the window's own procedure
// (Default). The binding ends by itself when the window is destroyed; an object
// that dies first restores the window's procedure, and destroys the window only
// if the object created it (CToolTipCtrl::Create).
#pragma once
#include "MessageMap.h"
#include <string>

class CDataExchange;

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object bound to a window by this framework, or null.
    static CWnd *FromHandlePermanent(HWND hwnd);

    // Binds an existing window (PreSubclassWindow runs first); FALSE if already bound.
    BOOL SubclassWindow(HWND hwnd);
    BOOL SubclassDlgItem(UINT id, CWnd *parent);
    // Ends the binding and gives the window its own procedure back.
    HWND UnsubclassWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    // Paints what is invalid now, without waiting for the message loop.
    void UpdateWindow();
    void SetWindowText(const std::string &text);
    std::string GetWindowText() const;
    HWND GetDlgItem(int id) const;
    void GetClientRect(RECT *rect) const;
    BOOL IsIconic() const;
    DWORD GetStyle() const;
    BOOL ModifyStyle(DWORD remove, DWORD add);
    HICON SetIcon(HICON icon, BOOL bigIcon);
    HMENU GetSystemMenu(BOOL revert) const;
    int MessageBox(const char *text, const char *caption = nullptr, UINT type = MB_OK);

    // Exchanges data between the object's fields and its controls (DoDataExchange);
    // FALSE when a check failed (the user has been told and the failing control focused).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Sees every message of a modal dialog loop that is meant for this window or one of
    // its child windows before it is dispatched; TRUE takes the message.
    virtual BOOL PreTranslateMessage(MSG *msg);

    // Reflection: a parent offers a control's notification back to the control's object.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

protected:
    virtual void PreSubclassWindow();
    virtual void DoDataExchange(CDataExchange *dx);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Map lookup: reflected notifications, commands, then other messages.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
    // Called after the window is gone and the binding has ended.
    virtual void PostNcDestroy();
    // The window's own processing of the message being handled.
    LRESULT Default();

    // Default handlers that derived handlers call for what they leave alone.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    void OnDestroy();
    HCURSOR OnQueryDragIcon();

    // Binds a window this object has just created; the destructor destroys it.
    BOOL AttachCreated(HWND hwnd);

    DECLARE_MESSAGE_MAP()

private:
    static LRESULT CALLBACK BoundWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void EndBinding();

    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    WNDPROC m_ownProc = nullptr;
    CurrentMessage m_current{};
    bool m_createdHere = false;
};
