#include "LinkTestSupport.h"
#include <tlhelp32.h>

DWORD ProcessHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

DWORD ProcessThreadCount() {
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

bool ThreadCountFallsTo(DWORD expected, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (ProcessThreadCount() > expected) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}
