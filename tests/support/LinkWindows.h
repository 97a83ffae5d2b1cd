// Test support: the hidden windows through which Wirrow's open handles hear of removals.
#pragma once
#include <windows.h>

#include <cstring>
#include <vector>

inline BOOL CALLBACK CollectLinkWindow(HWND window, LPARAM found) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char name[16] = {};
    ::GetClassNameA(window, name, sizeof(name));
    if (owner == ::GetCurrentProcessId() && std::strcmp(name, "WIRROW") == 0)
        reinterpret_cast<std::vector<HWND> *>(found)->push_back(window);
    return TRUE;
}

// The top-level windows of this process of Wirrow's window class, "WIRROW".
inline std::vector<HWND> LinkWindows() {
    std::vector<HWND> found;
    ::EnumWindows(&CollectLinkWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The window of a handle: the one whose extra bytes hold the handle's address. CommOpen returns
// before the window is made, so it is waited for (bounded); null when none came in time.
inline HWND WaitLinkWindow(const void *handle, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        for (HWND window : LinkWindows())
            if (::GetWindowLongPtrA(window, 0) == reinterpret_cast<LONG_PTR>(handle)) return window;
        if (::GetTickCount() - start >= timeoutMs) return nullptr;
        ::Sleep(5);
    }
}

// A window asked to close by another thread goes on its own thread, a moment later: waits (bounded)
// until this process has no "WIRROW" window left.
inline bool LinkWindowsGone(DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    while (!LinkWindows().empty()) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}
