// The device's write direction, shared by the ReadWorker (answers and repeats) and
// the SendWorker (a data packet's header and payload): one writer at a time. Taken
// through a WriteLockHold, which waits within a time and ends on the link's stop,
// and lets go on every path out of the scope that took it.
#pragma once
#include "Condition.h"
#include "CriticalSection.h"
#include "LinkStop.h"

namespace wirrow {

class WriteLock {
public:
    WriteLock() = default;
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;

    // Ends the waits of a stop (after the stop has been raised).
    void WakeWaiters() {
        SectionHold hold(section_);
        released_.WakeAll();
    }

private:
    friend class WriteLockHold;
    Waited Acquire(const LinkStop &stop, DWORD timeoutMs) {
        SectionHold hold(section_);
        const Waited waited = released_.Wait(section_, &stop, timeoutMs, [this] { return !held_; });
        if (waited == Waited::Ready) held_ = true;
        return waited;
    }
    void Release() {
        SectionHold hold(section_);
        held_ = false;
        released_.WakeAll();
    }

    CriticalSection section_;
    Condition released_;
    bool held_ = false;
};

class WriteLockHold {
public:
    WriteLockHold(WriteLock &lock, const LinkStop &stop, DWORD timeoutMs)
        : lock_(lock), waited_(lock.Acquire(stop, timeoutMs)) {}
    ~WriteLockHold() {
        if (Held()) lock_.Release();
    }
    WriteLockHold(const WriteLockHold &) = delete;
    WriteLockHold &operator=(const WriteLockHold &) = delete;

    bool Held() const { return waited_ == Waited::Ready; }
    // Why it is not held: Waited::Stopped or Waited::TimedOut.
    Waited Outcome() const { return waited_; }

private:
    WriteLock &lock_;
    const Waited waited_;
};

}  // namespace wirrow
