// The handle that Communicator's CommOpen gives to a caller: the transport's own
// handle and the table row whose library serves it. Callers never look inside.
#pragma once
#include "CommApi.h"

struct TransportEntry;

struct CommHandle {
    HCOMM transportHandle;
    TransportEntry *transport;
};
