// Test support: threads calling on a handle while this thread closes it, round after round. Each
// round opens a handle, waits until every caller has made a call on it, closes it under their
// calls, and lets each caller make one more call, which begins after the close has returned.
#pragma once
#include "CommApi.h"
#include "CriticalSection.h"
#include "Thread.h"
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

// A library's calls: caller n sends, receives, reads an option or disconnects, by n modulo 4.
struct RacingCalls {
    PFN_CommSendData send;
    PFN_CommReceiveData receive;
    PFN_CommGetOption getOption;
    PFN_CommDisconnect disconnect;
    PFN_CommClose close;

    CommResult Call(HCOMM handle, int caller) const {
        uint8_t buffer[16];
        uint32_t length = sizeof(buffer);
        if (caller % 4 == 0) return send(handle, "x", 1, 'B', 1);
        if (caller % 4 == 1) return receive(handle, buffer, &length, nullptr, nullptr);
        return caller % 4 == 2 ? getOption(handle, COMM_OPT_MAX_PAYLOAD, &length) : disconnect(handle);
    }
};

struct CloseRaceCounts {
    std::atomic<int> afterClose{0};        // calls that began after the close had returned
    std::atomic<int> notSixAfterClose{0};  // ... and were not refused with COMM_ERROR_INVALID_HANDLE
    // Results other than 0, COMM_ERROR_INVALID_HANDLE and COMM_ERROR_DEVICE_NOT_CONNECTED.
    std::atomic<int> unexpected{0};
};

// open gives each round's handle; a null one ends the run.
inline void RunCloseRace(int rounds, int callers, const RacingCalls &calls, const std::function<HCOMM()> &open,
                         CloseRaceCounts &counts) {
    CriticalSection section;  // guards the round, its handle, and the calling and finished tallies
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    HCOMM handle = nullptr;
    int round = 0, calling = 0, finished = 0;
    std::atomic<bool> closed{false};
    auto await = [&](auto ready) {  // under section
        while (!ready())
            if (!::SleepConditionVariableCS(&changed, section.Native(), 10000)) {
                std::fputs("close race: a call hangs; its thread still uses this frame\n", stderr);
                std::abort();
            }
    };
    auto count = [&](int &tally) {
        SectionHold hold(section);
        ++tally;
        ::WakeAllConditionVariable(&changed);
    };
    std::vector<Thread> threads(callers);
    for (int caller = 0; caller < callers; ++caller)
        threads[caller].Start([&, caller] {
            for (int seen = 0;;) {
                HCOMM mine = nullptr;
                {
                    SectionHold hold(section);
                    await([&] { return round > seen; });
                    seen = round;
                    if (!(mine = handle)) return;
                }
                for (bool first = true, after = false; !after; first = false) {
                    after = closed;
                    const CommResult result = calls.Call(mine, caller);
                    if (result != 0 && result != 6 && result != 1167) ++counts.unexpected;
                    counts.afterClose += after;
                    counts.notSixAfterClose += after && result != 6;
                    if (first) count(calling);
                    ::SwitchToThread();  // more callers than processors: the closing thread gets its turn
                }
                count(finished);
            }
        });
    for (int done = 0; done <= rounds; ++done) {
        const HCOMM next = done < rounds ? open() : nullptr;
        {
            SectionHold hold(section);
            handle = next;
            calling = finished = 0;
            closed = false;
            ++round;
            ::WakeAllConditionVariable(&changed);
            if (next) await([&] { return calling == callers; });
        }
        if (!next) break;
        calls.close(next);
        closed = true;
        SectionHold hold(section);
        await([&] { return finished == callers; });
    }
    for (Thread &thread : threads) thread.Join(10000);
}
