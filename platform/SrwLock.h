// Owner of one slim reader/writer lock, and scoped holds of it. Used where many threads
// look something up at once (shared holds) and a few change it (exclusive holds), each
// held only for a few field updates and never across a wait: like a critical section, an
// uncontended hold never leaves the process (under Wine, never reaches the server), and
// lookups do not queue behind one another.
#pragma once
#include <windows.h>

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock &) = delete;
    SrwLock &operator=(const SrwLock &) = delete;
    SRWLOCK *Native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class SharedHold {
public:
    explicit SharedHold(SrwLock &lock) : lock_(lock) { ::AcquireSRWLockShared(lock_.Native()); }
    ~SharedHold() { ::ReleaseSRWLockShared(lock_.Native()); }
    SharedHold(const SharedHold &) = delete;
    SharedHold &operator=(const SharedHold &) = delete;

private:
    SrwLock &lock_;
};

class ExclusiveHold {
public:
    explicit ExclusiveHold(SrwLock &lock) : lock_(lock) { ::AcquireSRWLockExclusive(lock_.Native()); }
    ~ExclusiveHold() { ::ReleaseSRWLockExclusive(lock_.Native()); }
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;

private:
    SrwLock &lock_;
};
