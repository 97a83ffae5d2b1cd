// The time a board has to answer one update packet. The Comm API's receive has no
// time-out of its own, so a board whose firmware hangs while it writes its flash
// would hold the session for good: once an armed deadline passes, `expire` cuts
// the connection (a disconnect, which ends the send or receive waiting for the
// board). Arming and disarming run for every packet and stay in user space; the
// pool timer behind them fires about once per deadline and sets itself again while
// the board keeps answering.
#pragma once
#include "CriticalSection.h"
#include <windows.h>
#include <functional>
#include <memory>

class ReplyDeadline {
public:
    // `expire` runs on a pool thread, at most once per arming.
    explicit ReplyDeadline(std::function<void()> expire);
    // Cancels the timer and waits for an `expire` that runs.
    ~ReplyDeadline();
    ReplyDeadline(const ReplyDeadline &) = delete;
    ReplyDeadline &operator=(const ReplyDeadline &) = delete;

    // False when the pool timer could not be made: nothing is then cut.
    bool Ready() const { return static_cast<bool>(timer_); }
    void Arm(DWORD milliseconds);
    // Ends the arming; true when the deadline passed first (the connection is cut, or being cut).
    bool Disarm();

private:
    struct TimerCloser {
        void operator()(TP_TIMER *timer) const;
    };
    static void CALLBACK OnTimer(PTP_CALLBACK_INSTANCE, void *context, PTP_TIMER);
    void Fire();
    void ScheduleLocked(ULONGLONG dueTick);

    CriticalSection lock_;
    std::function<void()> expire_;
    bool armed_ = false;
    bool expired_ = false;
    ULONGLONG deadline_ = 0;      // GetTickCount64 value
    ULONGLONG scheduledFor_ = 0;  // when the timer fires next; 0: not set
    // Last, so that it goes first: its closing waits for a callback that still uses the rest.
    std::unique_ptr<TP_TIMER, TimerCloser> timer_;
};
