// The buffers of one overlapped UDP receive: the eight slots of router discovery
// and the one receive of each request-and-reply exchange. A slot never moves: a
// pending receive refers to its fields by address.
#pragma once
#include "UniqueHandle.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct ReceiveSlot {
    static constexpr ULONG kBufferSize = 1518;  // one Ethernet frame

    enum class State {
        Idle,       // nothing posted
        Pending,    // posted, not yet complete
        Completed,  // a datagram is in the buffer: `received` bytes from `from`
        Failed,     // the receive ended with `error` (a port-unreachable report, a datagram too large)
    };

    // Allocates the buffer (throws std::bad_alloc) and creates the event of the
    // overlapped block; Ready() tells whether the event exists.
    ReceiveSlot();
    ReceiveSlot(const ReceiveSlot &) = delete;
    ReceiveSlot &operator=(const ReceiveSlot &) = delete;
    // A receive still pending is cancelled before the buffer goes.
    ~ReceiveSlot();

    bool Ready() const { return static_cast<bool>(event); }
    HANDLE Event() const { return event.Get(); }

    // Posts one overlapped receive of a datagram. The state it returns: Completed
    // when a datagram was there at once, Pending, or Failed.
    State Post(SOCKET socket);
    // After the event was signalled: the outcome of a pending receive (still
    // Pending when it has not completed after all). Other states stay.
    State Collect();
    // Cancels a pending receive and waits until the system has let go of the
    // buffer. Every state but Pending is left as it is.
    void Cancel();

    const std::uint8_t *Data() const { return reinterpret_cast<const std::uint8_t *>(buffer.buf); }
    std::size_t Size() const { return received; }

    INT fromLength = sizeof(sockaddr_in);
    sockaddr_in from{};
    DWORD flags = 0;
    DWORD received = 0;
    WSABUF buffer{};
    WSAOVERLAPPED overlapped{};
    State state = State::Idle;
    DWORD error = 0;

private:
    std::unique_ptr<char[]> storage;
    UniqueHandle event;
    SOCKET socket_ = INVALID_SOCKET;  // the socket of the last Post
};
