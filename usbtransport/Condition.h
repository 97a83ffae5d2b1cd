// A condition variable for the hand-offs between a link's threads. Waits sleep in
// user space (no kernel object: under Wine no round trip to the server), on the
// critical section that guards what they wait for, and end when what they wait
// for is true, when the link's stop is raised (which wins when both hold) or when
// the time is up.
#pragma once
#include "CriticalSection.h"
#include "LinkStop.h"
#include <windows.h>

namespace wirrow {

enum class Waited { Ready, Stopped, TimedOut };

class Condition {
public:
    Condition() { ::InitializeConditionVariable(&variable_); }
    Condition(const Condition &) = delete;
    Condition &operator=(const Condition &) = delete;

    // The caller holds `section` and has changed what waiters look at, or raised the stop.
    void WakeAll() { ::WakeAllConditionVariable(&variable_); }

    // The caller holds `section`. `stop` may be null (a wait that no stop ends).
    template <typename Ready>
    Waited Wait(CriticalSection &section, const LinkStop *stop, DWORD timeoutMs, Ready ready) {
        const ULONGLONG start = ::GetTickCount64();
        for (;;) {
            if (stop && stop->Raised()) return Waited::Stopped;
            if (ready()) return Waited::Ready;
            DWORD remaining = INFINITE;
            if (timeoutMs != INFINITE) {
                const ULONGLONG elapsed = ::GetTickCount64() - start;
                if (elapsed >= timeoutMs) return Waited::TimedOut;
                remaining = static_cast<DWORD>(timeoutMs - elapsed);
            }
            ::SleepConditionVariableCS(&variable_, section.Native(), remaining);
        }
    }

private:
    CONDITION_VARIABLE variable_;
};

}  // namespace wirrow
