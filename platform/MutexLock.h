// Scoped hold of a Win32 mutex or semaphore (count 1). Waits without bound, as
// the locks it guards are only ever held for short list operations.
#pragma once
#include <windows.h>

class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) : mutex_(mutex) {
        // An abandoned mutex is still owned by us now.
        DWORD waited = mutex_ ? ::WaitForSingleObject(mutex_, INFINITE) : WAIT_FAILED;
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) mutex_ = nullptr;
    }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;
    ~MutexLock() {
        if (mutex_) ::ReleaseMutex(mutex_);
    }

private:
    HANDLE mutex_;
};
