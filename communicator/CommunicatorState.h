// The library-wide state of Communicator: the sockets and receive slots of router
// discovery, the transport table and the list of open handles. One per process,
// built when the library is attached and torn down when it is detached.
#pragma once
#include "CommApi.h"
#include "CommHandle.h"
#include "ReceiveSlot.h"
#include "TransportEntry.h"
#include "UniqueHandle.h"
#include "UniqueSocket.h"

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

struct TransportRow {
    const char *name;
    const char *libraryName;
};

// The table order matters: CommOpen searches it from the last row down and falls
// back to the first, the network transport.
constexpr std::size_t kTransportRowCount = 3;
using TransportTable = std::array<TransportRow, kTransportRowCount>;
constexpr TransportTable kTransportTable = {{{"TCP", "Netrow.dll"}, {"COM", "Serrow.dll"}, {"USB", "Wirrow.dll"}}};

class CommunicatorState {
public:
    static constexpr std::size_t kReceiveSlotCount = 8;

    // Throws std::bad_alloc when memory runs out; Ready() tells whether the
    // mutexes and the slots' events exist. Sockets that cannot be made are left
    // empty: the router operations that use them report that themselves.
    explicit CommunicatorState(const TransportTable &table = kTransportTable);
    CommunicatorState(const CommunicatorState &) = delete;
    CommunicatorState &operator=(const CommunicatorState &) = delete;

    // Closes the handles still open, last opened first, through their transports,
    // then calls CommCleanup of each started library ("USB", "COM", "TCP") and
    // releases it. Runs only where calling into the transports is safe: on a
    // FreeLibrary of Communicator, never at process exit (see LibraryEntry.cpp).
    virtual ~CommunicatorState();

    bool Ready() const;

    // The Comm API calls whose front does more than swap the handle.
    CommResult Open(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                    uint32_t routerPort);
    CommResult Close(HCOMM handle);
    CommResult Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request, void *reply);

    // Member order is teardown order, backwards: the list of handles goes first,
    // then the transport table, the mutexes, the sockets, the sockets library, and
    // the receive slots last.
    std::array<ReceiveSlot, kReceiveSlotCount> receiveSlots;
    SocketsLibrary socketsLibrary;
    UniqueSocket broadcastSocket;
    UniqueSocket requestSocket;
    UniqueHandle transportMutex;   // guards transports and the loading of a row
    UniqueHandle connectionMutex;  // guards connections
    std::vector<std::unique_ptr<TransportEntry>> transports;
    std::vector<std::unique_ptr<CommHandle>> connections;  // in the order of opening

private:
    // A transport handle that Close has taken from its last record and is closing now, outside
    // the mutex. Until that close returns, the transport may still hand the same handle to an
    // open of the same device (its handle is still listed there); such an open waits for the
    // close and opens again.
    struct ClosingHandle {
        const TransportEntry *row;
        HCOMM transportHandle;
        std::shared_ptr<UniqueHandle> closed;  // set once the transport's close has returned
    };
    std::vector<ClosingHandle> closing;  // guarded by connectionMutex

    // COMM_SUCCESS, or the code of a failure; with *closingWait set, the transport handle is one
    // being closed: nothing was added, and the open waits for that event and tries again.
    CommResult AddConnection(TransportEntry &row, HCOMM transportHandle, HCOMM *handle,
                             std::shared_ptr<UniqueHandle> *closingWait);
    // Whether an open record wraps this transport handle of this row. The caller
    // holds connectionMutex.
    bool IsWrapped(const TransportEntry *row, HCOMM transportHandle) const;
    // Lists the handle as closing; the event to set when its close has returned, or null when it
    // cannot be listed. The caller holds connectionMutex.
    std::shared_ptr<UniqueHandle> MarkClosing(const TransportEntry *row, HCOMM transportHandle);
};
