// A thread of this library that keeps the library loaded while it runs and
// signals an "ended" event as its very last touch of its owner's memory: Wirrow's
// WorkerPool and NotifyWorker threads. (CWinThread serves Flashwell's update worker,
// platform/Thread.h ImageTool's sessions, the tests and stand-ins.)
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

// Longest wait of Start for its thread to begin. A start that runs while another thread holds the
// loader lock returns after it; the thread then begins once the lock is free.
constexpr DWORD kThreadBeginWaitMs = 10000;

class PinnedThread {
public:
    PinnedThread() = default;
    ~PinnedThread() = default;
    PinnedThread(const PinnedThread &) = delete;
    PinnedThread &operator=(const PinnedThread &) = delete;

    // 0 or the platform's error code; nothing is left behind on failure. Returns once the thread
    // has begun to run (or after kThreadBeginWaitMs): a thread begins only after the platform's
    // per-thread attach, under the loader lock, so a stop that runs under that lock (a host's
    // FreeLibrary right after the start) would otherwise wait for an end that cannot come.
    DWORD Start(std::function<void()> body) {
        const DWORD error = Launch(std::move(body));
        if (error == ERROR_SUCCESS) WaitBegan();
        return error;
    }
    // Start in two halves, so that several threads begin at the same time: Launch returns at once,
    // and WaitBegan must follow before anything can stop the thread under the loader lock.
    DWORD Launch(std::function<void()> body);
    void WaitBegan() const;
    // True when the body has returned (or the thread never started) within timeoutMs.
    bool WaitEnded(DWORD timeoutMs) const;
    bool Started() const { return static_cast<bool>(ended_); }
    // Set once the body has returned; for waits on the end together with other objects.
    HANDLE EndedEvent() const { return ended_.Get(); }
    bool IsCurrent() const { return ended_ && ::GetCurrentThreadId() == id_; }
    // The thread's id while started, for messages posted to it; 0 otherwise.
    DWORD Id() const { return id_; }
    // Lets go of the ended event; only after WaitEnded has reported the end.
    void Reset() {
        ended_.Reset();
        began_.Reset();
        id_ = 0;
    }

private:
    static DWORD WINAPI Entry(void *launch);
    UniqueHandle ended_;
    UniqueHandle began_;  // set by the thread before its body; lives as long as ended_
    DWORD id_ = 0;
};

}  // namespace wirrow
