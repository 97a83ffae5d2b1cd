// The handle that Communicator's CommOpen gives to a caller: the transport's own
// handle and the transport whose library serves it. Callers never look inside.
#pragma once
#include "CommApi.h"

#include <windows.h>

#include <atomic>

struct Transport;

struct CommHandle {
    HCOMM transportHandle;
    Transport *transport;
    // The calls running on the record, counted under the handle table's lock held shared, and
    // while its close waits for them to leave, that close's event (set by the last one out; written
    // under the lock held exclusive).
    std::atomic<uint32_t> callsInside{0};
    HANDLE callsLeft = nullptr;
};
