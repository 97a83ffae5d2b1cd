#include "ReceiveSlot.h"

static_assert(sizeof(sockaddr_in) == 16, "the source address is an IPv4 socket address");

ReceiveSlot::ReceiveSlot() : storage(new char[kBufferSize]()), event(MakeEvent(true, false)) {
    buffer.len = kBufferSize;
    buffer.buf = storage.get();
    overlapped.hEvent = event.Get();
}
