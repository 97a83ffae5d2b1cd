// Owner of one kernel handle (event, mutex, semaphore, file, thread, ...). Both
// null and INVALID_HANDLE_VALUE mean "none": Win32 calls fail with either.
#pragma once
#include "UniqueResource.h"
#include <windows.h>

struct KernelHandleTraits {
    using Native = HANDLE;
    static HANDLE None() { return nullptr; }
    static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;

inline UniqueHandle MakeEvent(bool manualReset, bool initiallySet) {
    return UniqueHandle(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr));
}

inline UniqueHandle MakeSemaphore(LONG initial, LONG maximum) {
    return UniqueHandle(::CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}
