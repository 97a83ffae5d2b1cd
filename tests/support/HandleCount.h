// Test support: the number of open handles of this process, for checks that nothing is left
// behind. Wine's GetProcessHandleCount always reports 0, so the handle values are probed one by one.
#pragma once
#include <windows.h>

#include <cstdint>

inline DWORD CountProcessHandles() {
    DWORD count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}
