#include "WorkerPool.h"
#include <utility>

namespace wirrow {

WorkerPool &TheWorkerPool() {
    static WorkerPool pool;
    return pool;
}

DWORD PooledWorker::Launch(std::function<void()> body) { return TheWorkerPool().Hand(*this, std::move(body)); }

void PooledWorker::WaitBegan() {
    WorkerPool &pool = TheWorkerPool();
    SectionHold hold(pool.lock_);
    pool.changed_.Wait(pool.lock_, nullptr, kThreadBeginWaitMs, [this] { return phase_ != Phase::Handed; });
}

bool PooledWorker::WaitEnded(DWORD timeoutMs) {
    WorkerPool &pool = TheWorkerPool();
    SectionHold hold(pool.lock_);
    return pool.changed_.Wait(pool.lock_, nullptr, timeoutMs, [this] {
        return phase_ == Phase::Idle || phase_ == Phase::Ended;
    }) == Waited::Ready;
}

void PooledWorker::Reset() {
    SectionHold hold(TheWorkerPool().lock_);
    phase_ = Phase::Idle;
}

DWORD WorkerPool::Hand(PooledWorker &worker, std::function<void()> body) {
    SectionHold hold(lock_);
    ForgetLeft();
    shuttingDown_ = false;
    worker.body_ = std::move(body);
    worker.phase_ = PooledWorker::Phase::Handed;
    for (Seat &seat : seats_) {
        if (seat.worker || seat.leaving) continue;
        seat.worker = &worker;
        seat.called.WakeAll();
        return ERROR_SUCCESS;
    }
    const DWORD error = AddSeat(&worker);
    if (error) {
        worker.body_ = nullptr;
        worker.phase_ = PooledWorker::Phase::Idle;
    }
    return error;
}

void WorkerPool::Prepare(unsigned count) {
    SectionHold hold(lock_);
    ForgetLeft();
    shuttingDown_ = false;
    unsigned waiting = 0;
    for (const Seat &seat : seats_)
        if (!seat.worker && !seat.leaving) ++waiting;
    // A thread that cannot be started now is started by the connect, which reports the failure.
    while (waiting < count && AddSeat(nullptr) == ERROR_SUCCESS) ++waiting;
}

DWORD WorkerPool::AddSeat(PooledWorker *worker) {
    try {
        seats_.emplace_back();
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    Seat &seat = seats_.back();
    seat.worker = worker;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    try {
        // The thread takes lock_ once it has begun, after the caller's hold has ended.
        error = seat.thread.Launch([this, &seat] { Serve(seat); });
    } catch (...) {
    }
    if (error) seats_.pop_back();
    return error;
}

void WorkerPool::Serve(Seat &seat) {
    for (;;) {
        PooledWorker *worker;
        std::function<void()> body;
        {
            SectionHold hold(lock_);
            seat.begun = true;
            seat.called.Wait(lock_, nullptr, kPooledThreadIdleMs, [&] { return seat.worker || shuttingDown_; });
            if (!seat.worker) {
                // Waited long enough, or the library is cleaned up: the thread ends.
                seat.leaving = true;
                changed_.WakeAll();
                return;
            }
            worker = seat.worker;
            body = std::move(worker->body_);
            worker->phase_ = PooledWorker::Phase::Running;
            changed_.WakeAll();
        }
        try {
            body();
        } catch (...) {
            // Nothing may leave a thread of the library; the link sees the end as usual.
        }
        body = nullptr;  // what the body holds goes before the link may
        SectionHold hold(lock_);
        worker->phase_ = PooledWorker::Phase::Ended;
        seat.worker = nullptr;
        changed_.WakeAll();
    }
}

void WorkerPool::ForgetLeft() {
    for (auto seat = seats_.begin(); seat != seats_.end();) {
        // The ended event is set after Serve has returned: the seat is no longer touched.
        if (seat->leaving && seat->thread.WaitEnded(0)) {
            seat->thread.Reset();
            seat = seats_.erase(seat);
        } else {
            ++seat;
        }
    }
}

void WorkerPool::Shutdown(DWORD timeoutMs) {
    const ULONGLONG start = ::GetTickCount64();
    SectionHold hold(lock_);
    shuttingDown_ = true;
    for (Seat &seat : seats_) seat.called.WakeAll();
    // A thread not begun yet may need the loader lock to begin, which this call may hold: it is not
    // waited for, and leaves as soon as it begins.
    changed_.Wait(lock_, nullptr, timeoutMs, [this] {
        for (const Seat &seat : seats_)
            if (seat.begun && !seat.leaving && !seat.worker) return false;
        return true;
    });
    // A leaving thread needs neither lock_ nor the loader lock to set its ended event.
    for (Seat &seat : seats_) {
        if (!seat.leaving) continue;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        seat.thread.WaitEnded(elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed));
    }
    ForgetLeft();
}

}  // namespace wirrow
