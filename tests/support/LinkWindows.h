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
