// CPaintDC: the device context of one WM_PAINT, from BeginPaint to EndPaint.
#pragma once
#include "Wnd.h"

class CPaintDC {
public:
    explicit CPaintDC(CWnd *window) : m_window(window->m_hWnd) { m_hDC = ::BeginPaint(m_window, &m_ps); }
    CPaintDC(const CPaintDC &) = delete;
    CPaintDC &operator=(const CPaintDC &) = delete;
    ~CPaintDC() { ::EndPaint(m_window, &m_ps); }
    HDC GetSafeHdc() const { return m_hDC; }

    PAINTSTRUCT m_ps{};
    HDC m_hDC = nullptr;

private:
    HWND m_window;
};
