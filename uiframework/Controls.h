// Thin wrappers of the standard and common controls, bound to controls of a
// dialog with DDX_Control (or SubclassDlgItem). Each call is one control message.
#pragma once
#include "Wnd.h"
#include <string>

class CStatic : public CWnd {
    DECLARE_DYNAMIC(CStatic)
};

class CButton : public CWnd {
    DECLARE_DYNAMIC(CButton)
};

class CEdit : public CWnd {
    DECLARE_DYNAMIC(CEdit)
public:
    void SetSel(int start, int end);
};

class CProgressCtrl : public CWnd {
    DECLARE_DYNAMIC(CProgressCtrl)
public:
    void SetRange(short lower, short upper);
    int SetPos(int position);  // returns the previous position
    int GetPos() const;
};

// A tooltip window. The object creates it and destroys it when it dies (unless
// the platform has already destroyed it with its owner).
class CToolTipCtrl : public CWnd {
    DECLARE_DYNAMIC(CToolTipCtrl)
public:
    BOOL Create(CWnd *owner, DWORD style = 0);
    // A tool: `rect` of `window`'s client area, shown with `text`.
    BOOL AddTool(CWnd *window, const std::string &text, const RECT &rect, UINT_PTR toolId);
    // Hands a mouse message meant for a tool's window to the tooltip.
    void RelayEvent(MSG *msg);
};

class CComboBox : public CWnd {
    DECLARE_DYNAMIC(CComboBox)
public:
    // Sorted in when the control sorts; InsertString(-1, ...) appends without sorting.
    int AddString(const std::string &text);
    int InsertString(int index, const std::string &text);
    int DeleteString(int index);
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    std::string GetLBText(int index) const;
    // Searches ignore case; -1 starts at the first entry.
    int FindString(int startAfter, const std::string &prefix) const;
    int FindStringExact(int startAfter, const std::string &text) const;
    DWORD_PTR GetItemData(int index) const;
    int SetItemData(int index, DWORD_PTR data);
};

class CListBox : public CWnd {
    DECLARE_DYNAMIC(CListBox)
public:
    // Sorted in when the control sorts; InsertString(-1, ...) appends without sorting.
    int AddString(const std::string &text);
    int InsertString(int index, const std::string &text);
    int DeleteString(int index);
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    std::string GetText(int index) const;
    // Searches ignore case; -1 starts at the first entry.
    int FindString(int startAfter, const std::string &prefix) const;
    int FindStringExact(int startAfter, const std::string &text) const;
};
