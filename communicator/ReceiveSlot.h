// The buffers of one overlapped UDP receive, used by router discovery. A slot
// never moves: a pending receive refers to its fields by address.
#pragma once
#include "UniqueHandle.h"

#include <winsock2.h>
#include <windows.h>

#include <memory>

struct ReceiveSlot {
    static constexpr ULONG kBufferSize = 1518;  // one Ethernet frame

    // Allocates the buffer (throws std::bad_alloc) and creates the event of the
    // overlapped block; Ready() tells whether the event exists.
    ReceiveSlot();
    ReceiveSlot(const ReceiveSlot &) = delete;
    ReceiveSlot &operator=(const ReceiveSlot &) = delete;

    bool Ready() const { return static_cast<bool>(event); }

    INT fromLength = sizeof(sockaddr_in);
    sockaddr_in from{};
    DWORD flags = 0;
    DWORD received = 0;
    WSABUF buffer{};
    WSAOVERLAPPED overlapped{};

private:
    std::unique_ptr<char[]> storage;
    UniqueHandle event;
};
