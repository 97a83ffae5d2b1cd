// Test support: the number of threads of this process, for checks that stopped
// links and connections leave none behind.
#pragma once
#include "UniqueHandle.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

// The ids of this process's threads, the calling one included.
inline std::vector<DWORD> ProcessThreadIds() {
    std::vector<DWORD> ids;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    return ids;
}

inline DWORD ProcessThreadCount() { return static_cast<DWORD>(ProcessThreadIds().size()); }

// A worker signals its end before its thread has left (the thread still has to take the loader lock
// to go), so a stopped link's threads leave the count shortly after the stop returns. Waits, at most
// timeoutMs, until no more than `expected` threads run, the calling one included. The wait is on the
// threads themselves: it wakes each time one of them ends and counts again.
inline bool ThreadCountFallsTo(DWORD expected, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        std::vector<UniqueHandle> running;
        const DWORD self = ::GetCurrentThreadId();
        for (DWORD id : ProcessThreadIds()) {
            if (id == self) continue;
            UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
            // A thread that cannot be opened any more, or has ended, no longer runs.
            if (thread && ::WaitForSingleObject(thread.Get(), 0) == WAIT_TIMEOUT) running.push_back(std::move(thread));
        }
        if (running.size() + 1 <= expected) return true;
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        std::vector<HANDLE> waits;
        for (const UniqueHandle &thread : running) {
            if (waits.size() == MAXIMUM_WAIT_OBJECTS) break;
            waits.push_back(thread.Get());
        }
        if (::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeoutMs - elapsed) ==
            WAIT_FAILED)
            return false;
    }
}
