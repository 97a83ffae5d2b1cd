#include "LinkTestSupport.h"

DWORD ProcessHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

