// A Win32 mutex and a scoped hold of it. Holds wait without bound, as the locks
// it guards are only ever held for short list operations.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>

class Mutex {
public:
    Mutex() : handle_(::CreateMutexA(nullptr, FALSE, nullptr)) {}
    Mutex(Mutex &&) = default;
    Mutex &operator=(Mutex &&) = default;
    // False when the mutex could not be made (the last error tells why); holds of it then guard nothing.
    explicit operator bool() const { return static_cast<bool>(handle_); }

private:
    friend class MutexLock;
    UniqueHandle handle_;
};

class MutexLock {
public:
    explicit MutexLock(Mutex &mutex) : held_(mutex.handle_.Get()) {
        // An abandoned mutex is still owned by us now.
        DWORD waited = held_ ? ::WaitForSingleObject(held_, INFINITE) : WAIT_FAILED;
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) held_ = nullptr;
    }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;
    ~MutexLock() {
        if (held_) ::ReleaseMutex(held_);
    }

private:
    HANDLE held_;
};
