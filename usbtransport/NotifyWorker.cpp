#include "NotifyWorker.h"
#include "RemovalWatch.h"
#include <utility>

namespace wirrow {

// How long a request waits for a previous thread that has decided to end to be gone.
constexpr DWORD kPreviousWorkerEndWaitMs = 3000;

NotifyWorker &TheNotifyWorker() {
    static NotifyWorker worker;
    return worker;
}

bool NotifyWorker::Request(RemovalWatch *watch) {
    SectionHold hold(lock_);
    if (!running_) {
        if (thread_.Started()) {
            // The previous thread has let go of everything and is on its way out.
            if (!thread_.WaitEnded(kPreviousWorkerEndWaitMs)) return false;
            thread_.Reset();
        }
        shuttingDown_ = false;
        DWORD started = ERROR_NOT_ENOUGH_MEMORY;
        // Not waited for: nothing waits for this thread's end before it has served the watch
        // requested now (Shutdown waits only once no window is left, a teardown hands a watch still
        // to be made over to it), so a start under a held loader lock cannot block a stop.
        try {
            started = thread_.Launch([this] { Run(); });
        } catch (...) {
        }
        if (started != ERROR_SUCCESS) return false;
        running_ = true;
    }
    watch->next_ = nullptr;
    RemovalWatch **tail = &requested_;
    while (*tail) tail = &(*tail)->next_;
    *tail = watch;
    ++windows_;
    Wake();
    return true;
}

void NotifyWorker::LetGoOf(RemovalWatch *watch) {
    watch->next_ = letGo_;
    letGo_ = watch;
}

void NotifyWorker::Shutdown(DWORD timeoutMs) {
    {
        SectionHold hold(lock_);
        if (!thread_.Started()) return;
        shuttingDown_ = true;
        if (running_) Wake();
        // A link that did not let go in time keeps its window, and the worker with it.
        if (windows_ != 0) return;
    }
    if (!thread_.WaitEnded(timeoutMs)) return;
    SectionHold hold(lock_);
    if (!running_) thread_.Reset();
}

// Under lock_. A thread that has no message queue yet finds the request when it starts looking.
void NotifyWorker::Wake() {
    if (thread_.Id()) ::PostThreadMessageA(thread_.Id(), WM_NULL, 0, 0);
}

void NotifyWorker::Run() {
    MSG message;
    // Makes the thread's message queue, which Wake posts to.
    ::PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    RemovalWatch::RegisterWindowClass();
    for (;;) {
        MakeRequestedWindows();
        // Messages sent from other threads (the platform's removal reports, a test's reports) are
        // handled inside PeekMessage itself, posted ones by the dispatch: settle after both.
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
            SettleLetGo();
        }
        SettleLetGo();
        bool idle;
        {
            SectionHold hold(lock_);
            if (requested_) continue;
            idle = windows_ == 0;
            if (idle && shuttingDown_) {
                running_ = false;
                return;
            }
        }
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(0, nullptr, idle ? kNotifyWorkerIdleMs : INFINITE,
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_FAILED) ::WaitMessage();
        SettleLetGo();
        if (woke != WAIT_TIMEOUT) continue;
        SectionHold hold(lock_);
        if (!requested_ && windows_ == 0) {
            running_ = false;
            return;
        }
    }
}

void NotifyWorker::MakeRequestedWindows() {
    RemovalWatch *watch;
    {
        SectionHold hold(lock_);
        watch = std::exchange(requested_, nullptr);
    }
    while (watch) {
        RemovalWatch *next = std::exchange(watch->next_, nullptr);
        watch->MakeWindow();
        SettleLetGo();
        watch = next;
    }
}

// Back from the message or request in which these watches let go: nothing of theirs runs any more.
void NotifyWorker::SettleLetGo() {
    while (RemovalWatch *watch = letGo_) {
        letGo_ = std::exchange(watch->next_, nullptr);
        {
            SectionHold hold(lock_);
            --windows_;
        }
        watch->Settle();  // from here on the watch may be freed (a watch handed over is freed by Settle)
    }
}

}  // namespace wirrow
