// The library's NotifyWorker: one thread of this library on which every open handle's
// removal watch makes, serves and lets go of its hidden "WIRROW" window.
//
// Under Wine a thread's first window costs tens of milliseconds (the thread's own
// connection to the display), a window on a thread that has one a few. So the thread
// stays from one handle to the next: it ends once it has had no window for
// kNotifyWorkerIdleMs, at CommCleanup, or with the process. Until it ends it holds a
// reference to the library, as every thread of the library does.
//
// Watches ask for their window with Request and do not wait for it: the caller goes on
// using its handle while the window is made.
// A watch is settled only once the worker has returned from the message (or the
// request) in which its window went: the removal handler runs inside a window message,
// and the link may be freed as soon as its watch is settled. No allocation: requests
// and watches let go of are linked through the watches themselves.
#pragma once
#include "CriticalSection.h"
#include "PinnedThread.h"
#include <windows.h>

namespace wirrow {

class RemovalWatch;

// How long the worker waits without a window before it ends: long enough for the next update
// of a series (ImageTool's --all, a production line's script), short enough that a host
// counting its threads a few seconds after its last close finds the worker gone.
constexpr DWORD kNotifyWorkerIdleMs = 5000;

class NotifyWorker {
public:
    NotifyWorker() = default;
    NotifyWorker(const NotifyWorker &) = delete;
    NotifyWorker &operator=(const NotifyWorker &) = delete;

    // Queues the watch's window; starts the thread when none runs. False when no thread could be
    // started (or a previous one did not end in time): the watch then gets no window.
    bool Request(RemovalWatch *watch);
    // On the worker, by a watch whose window (or request) has gone: the watch is settled once the
    // worker is back from what it is doing now.
    void LetGoOf(RemovalWatch *watch);
    bool IsCurrent() const { return thread_.IsCurrent(); }

    // The end of CommCleanup: the thread ends once it has no window, and is waited for within the time.
    void Shutdown(DWORD timeoutMs);

private:
    void Run();
    void MakeRequestedWindows();
    void SettleLetGo();
    void Wake();

    CriticalSection lock_;  // over the four below
    RemovalWatch *requested_ = nullptr;  // first of the watches waiting for their window, linked by next_
    unsigned windows_ = 0;  // requested or made, and not yet settled
    bool running_ = false;  // the thread serves requests; false once it has decided to end
    bool shuttingDown_ = false;
    // Only on the worker: watches let go of during the current message or request, linked by next_.
    RemovalWatch *letGo_ = nullptr;
    PinnedThread thread_;
};

NotifyWorker &TheNotifyWorker();

}  // namespace wirrow
