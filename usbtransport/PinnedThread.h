// A thread of this library that keeps the library loaded while it runs and
// signals an "ended" event as its very last touch of its owner's memory.
//
// Stops wait on that event, never on the thread handle: a stop can run inside a
// host's FreeLibrary (under the loader lock), and an exiting thread needs the
// loader lock, so a wait for the thread itself would never end there. Each
// thread holds its own reference to this library and leaves through
// FreeLibraryAndExitThread, so its last instructions never run in unmapped code.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <functional>

namespace wirrow {

class PinnedThread {
public:
    PinnedThread() = default;
    ~PinnedThread() = default;
    PinnedThread(const PinnedThread &) = delete;
    PinnedThread &operator=(const PinnedThread &) = delete;

    // 0 or the platform's error code; nothing is left behind on failure.
    DWORD Start(std::function<void()> body);
    // True when the body has returned (or the thread never started) within timeoutMs.
    bool WaitEnded(DWORD timeoutMs) const;
    bool Started() const { return static_cast<bool>(ended_); }
    // Set once the body has returned; for waits on the end together with other objects.
    HANDLE EndedEvent() const { return ended_.Get(); }
    bool IsCurrent() const { return ended_ && ::GetCurrentThreadId() == id_; }
    // Lets go of the ended event; only after WaitEnded has reported the end.
    void Reset() {
        ended_.Reset();
        id_ = 0;
    }

private:
    static DWORD WINAPI Entry(void *launch);
    UniqueHandle ended_;
    DWORD id_ = 0;
};

}  // namespace wirrow
