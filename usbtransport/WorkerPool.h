// The library's spare link-worker threads. A connect needs three workers, and under Wine
// a thread's start costs milliseconds (the platform's per-thread attach of every loaded
// library), as much as the connect exchange several times over. So a thread whose link work
// has ended waits here for the next connect's, of any handle, and ends once it has waited
// kPooledThreadIdleMs, at CommCleanup, or with the process. Like every thread of the library
// it holds a reference to it (PinnedThread).
//
// A link's worker is a PooledWorker: Launch hands its body to a waiting thread or starts one.
// Every wait of the link on its workers (begun, ended) is a condition under the pool's lock,
// never a wait on a thread: a waiting or working pooled thread needs no loader lock, so a stop
// under the loader lock (a host's FreeLibrary) still sees the body end.
#pragma once
#include "Condition.h"
#include "CriticalSection.h"
#include "PinnedThread.h"
#include <windows.h>
#include <functional>
#include <list>

namespace wirrow {

// How long a thread whose work has ended waits for the next before it ends: long enough for the
// next update of a series, short enough that a host counting its threads soon after its last
// disconnect finds them gone.
constexpr DWORD kPooledThreadIdleMs = 5000;

// One worker of a link (reader, sender or assembler), run on a thread of the pool.
class PooledWorker {
public:
    PooledWorker() = default;
    PooledWorker(const PooledWorker &) = delete;
    PooledWorker &operator=(const PooledWorker &) = delete;

    // 0 or the platform's error code; returns at once. WaitBegan must follow before anything can
    // stop the worker under the loader lock: a thread started for it begins only after the
    // platform's per-thread attach, which takes that lock.
    DWORD Launch(std::function<void()> body);
    void WaitBegan();
    // True when the body has returned (or was never launched) within timeoutMs; from then on no
    // thread touches the worker or what its body used.
    bool WaitEnded(DWORD timeoutMs);
    // After WaitEnded has reported the end: the worker may be launched again.
    void Reset();

private:
    friend class WorkerPool;
    enum class Phase { Idle, Handed, Running, Ended };
    Phase phase_ = Phase::Idle;  // under the pool's lock
    std::function<void()> body_;
};

class WorkerPool {
public:
    WorkerPool() = default;
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Starts threads, without waiting for them, until `count` wait for work (or are starting): an
    // opened handle's connect then finds its three. Their start (the platform's per-thread attach)
    // then runs beside the rest of the open instead of inside the connect.
    void Prepare(unsigned count);
    // The end of CommCleanup: waiting threads end and are waited for within the time; a thread
    // still serving a link that did not let go in time stays with it, and one that has not begun
    // yet (the loader lock may be held here) ends as soon as it begins.
    void Shutdown(DWORD timeoutMs);

private:
    friend class PooledWorker;
    // One thread of the pool and the worker it serves, if any.
    struct Seat {
        PinnedThread thread;
        PooledWorker *worker = nullptr;
        bool begun = false;    // the thread has begun to serve
        bool leaving = false;  // the thread has stopped waiting and is on its way out
        Condition called;      // a worker was handed to this seat, or the pool shuts down
    };

    DWORD Hand(PooledWorker &worker, std::function<void()> body);
    // Under lock_: a new seat with its thread launched for `worker` (null: none yet). 0 or the
    // platform's error code; nothing is left behind on failure.
    DWORD AddSeat(PooledWorker *worker);
    void Serve(Seat &seat);
    // Under lock_: forgets the seats whose thread has ended.
    void ForgetLeft();

    CriticalSection lock_;  // over everything below and every PooledWorker's phase
    Condition changed_;     // a worker began or ended, a seat left
    std::list<Seat> seats_;
    bool shuttingDown_ = false;  // from a Shutdown to the next Hand or Prepare
};

WorkerPool &TheWorkerPool();

}  // namespace wirrow
