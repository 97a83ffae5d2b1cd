#include "ReceiveSlot.h"

static_assert(sizeof(sockaddr_in) == 16, "the source address is an IPv4 socket address");

ReceiveSlot::ReceiveSlot() : storage(new char[kBufferSize]()), event(MakeEvent(true, false)) {
    buffer.len = kBufferSize;
    buffer.buf = storage.get();
    overlapped.hEvent = event.Get();
}

ReceiveSlot::~ReceiveSlot() { Cancel(); }

ReceiveSlot::State ReceiveSlot::Post(SOCKET socket) {
    Cancel();
    socket_ = socket;
    fromLength = sizeof(from);
    from = sockaddr_in{};
    flags = 0;
    received = 0;
    error = 0;
    overlapped = WSAOVERLAPPED{};
    overlapped.hEvent = event.Get();
    ::ResetEvent(event.Get());
    if (::WSARecvFrom(socket, &buffer, 1, &received, &flags, reinterpret_cast<sockaddr *>(&from), &fromLength,
                      &overlapped, nullptr) == 0) {
        state = State::Completed;
    } else {
        int failure = ::WSAGetLastError();
        if (failure == WSA_IO_PENDING) {
            state = State::Pending;
        } else {
            state = State::Failed;
            error = static_cast<DWORD>(failure);
        }
    }
    return state;
}

ReceiveSlot::State ReceiveSlot::Collect() {
    if (state != State::Pending) return state;
    DWORD bytes = 0;
    DWORD resultFlags = 0;
    if (::WSAGetOverlappedResult(socket_, &overlapped, &bytes, FALSE, &resultFlags)) {
        received = bytes;
        state = State::Completed;
    } else {
        int failure = ::WSAGetLastError();
        if (failure != WSA_IO_INCOMPLETE) {
            state = State::Failed;
            error = static_cast<DWORD>(failure);
        }
    }
    return state;
}

void ReceiveSlot::Cancel() {
    if (state != State::Pending) return;
    ::CancelIoEx(reinterpret_cast<HANDLE>(socket_), &overlapped);
    // The cancelled receive (or one that completed just before) must have let go
    // of the buffer before it is reused or freed.
    DWORD bytes = 0;
    DWORD resultFlags = 0;
    ::WSAGetOverlappedResult(socket_, &overlapped, &bytes, TRUE, &resultFlags);
    state = State::Idle;
}
