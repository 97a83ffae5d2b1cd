// Test support: the number of threads of this process, for checks that stopped
// links and connections leave none behind.
#pragma once
#include "UniqueHandle.h"

#include <windows.h>
#include <tlhelp32.h>

inline DWORD ProcessThreadCount() {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    return count;
}

// A worker signals its end before its thread has left (the thread still has to take the loader lock
// to go), so a stopped link's threads leave the count shortly after the stop returns. Waits, at most
// timeoutMs, until the count is back at `expected` or below.
inline bool ThreadCountFallsTo(DWORD expected, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    while (ProcessThreadCount() > expected) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}
