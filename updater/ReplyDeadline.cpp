#include "ReplyDeadline.h"
#include <utility>

void ReplyDeadline::TimerCloser::operator()(TP_TIMER *timer) const {
    ::SetThreadpoolTimer(timer, nullptr, 0, 0);
    ::WaitForThreadpoolTimerCallbacks(timer, TRUE);
    ::CloseThreadpoolTimer(timer);
}

ReplyDeadline::ReplyDeadline(std::function<void()> expire)
    : expire_(std::move(expire)), timer_(::CreateThreadpoolTimer(&ReplyDeadline::OnTimer, this, nullptr)) {}

ReplyDeadline::~ReplyDeadline() { timer_.reset(); }

void ReplyDeadline::Arm(DWORD milliseconds) {
    SectionHold hold(lock_);
    armed_ = true;
    expired_ = false;
    deadline_ = ::GetTickCount64() + milliseconds;
    // A timer set for later than this deadline is brought forward; one set earlier finds the
    // deadline moved on when it fires and sets itself again.
    if (timer_ && (scheduledFor_ == 0 || scheduledFor_ > deadline_)) ScheduleLocked(deadline_);
}

bool ReplyDeadline::Disarm() {
    SectionHold hold(lock_);
    armed_ = false;
    return expired_;
}

void CALLBACK ReplyDeadline::OnTimer(PTP_CALLBACK_INSTANCE, void *context, PTP_TIMER) {
    static_cast<ReplyDeadline *>(context)->Fire();
}

void ReplyDeadline::Fire() {
    {
        SectionHold hold(lock_);
        scheduledFor_ = 0;
        if (!armed_) return;
        if (::GetTickCount64() < deadline_) {
            ScheduleLocked(deadline_);
            return;
        }
        armed_ = false;
        expired_ = true;
    }
    expire_();
}

void ReplyDeadline::ScheduleLocked(ULONGLONG dueTick) {
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG waitMs = dueTick > now ? dueTick - now : 0;
    // A negative due time is relative, in 100-nanosecond units.
    ULARGE_INTEGER relative;
    relative.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(waitMs * 10000));
    FILETIME due;
    due.dwLowDateTime = relative.LowPart;
    due.dwHighDateTime = relative.HighPart;
    ::SetThreadpoolTimer(timer_.get(), &due, 0, 0);
    scheduledFor_ = dueTick;
}
