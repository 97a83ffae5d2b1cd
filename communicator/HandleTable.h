// The handle table: the transports, whose libraries are loaded as the first
// device of their kind is opened, the records of the handles that CommOpen gave
// out and CommClose has not taken back, and the transport handles being closed.
// Every call on a handle finds its record here and is counted on it.
#pragma once
#include "CommApi.h"
#include "CommHandle.h"
#include "Mutex.h"
#include "SrwLock.h"
#include "Transport.h"
#include "UniqueHandle.h"

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

// The order matters: CommOpen searches the table from the last transport down
// and falls back to the first, the network transport.
constexpr std::size_t kTransportCount = 3;
using TransportTable = std::array<Transport::Names, kTransportCount>;
constexpr TransportTable kTransportTable = {{{"TCP", "Netrow.dll"}, {"COM", "Serrow.dll"}, {"USB", "Wirrow.dll"}}};

class HandleTable {
public:
    // Throws std::bad_alloc when memory runs out; Ready() tells whether the
    // transport mutex exists. No library is loaded before the first open.
    explicit HandleTable(const TransportTable &table);
    HandleTable(const HandleTable &) = delete;
    HandleTable &operator=(const HandleTable &) = delete;
    // Closes the handles still open, last opened first, through their transports,
    // then calls CommCleanup of each started library ("USB", "COM", "TCP") and
    // releases it. Runs only where calling into the transports is safe: on a
    // FreeLibrary of Communicator, never at process exit (see LibraryEntry.cpp).
    ~HandleTable();

    bool Ready() const { return static_cast<bool>(transportMutex_); }

    // The Comm API calls whose front does more than swap the handle.
    CommResult Open(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                    uint32_t routerPort);
    // Takes the record off the list (calls from then on get COMM_ERROR_INVALID_HANDLE), closes the transport's handle (which
    // ends a call still waiting in the transport), then waits for the calls already inside to leave
    // before it frees the record; a record they do not leave in time is never freed.
    CommResult Close(HCOMM handle);
    CommResult Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request, void *reply);

    // Every other call on a handle: the transport's function of that call with the open record's
    // transport handle and the caller's other arguments, counted on the record while it runs.
    // COMM_ERROR_INVALID_HANDLE (also as the last error) when the handle is not open.
    template <typename Function, typename... Arguments>
    CommResult Forward(HCOMM handle, Function Transport::*function, Arguments... arguments) {
        CommHandle *record = EnterCall(handle);
        if (!record) return COMM_ERROR_INVALID_HANDLE;
        const CommResult result = (record->transport->*function)(record->transportHandle, arguments...);
        LeaveCall(*record);
        return result;
    }

    // The transports in table order, and the number of open handles.
    const Transport &TransportAt(std::size_t index) const { return *transports_[index]; }
    std::size_t OpenCount();

private:
    // A transport handle that Close has taken from its last record and is closing now, outside
    // the lock. Until that close returns, the transport may still hand the same handle to an
    // open of the same device (its handle is still listed there); such an open waits for the
    // close and opens again.
    struct ClosingHandle {
        const Transport *transport;
        HCOMM transportHandle;
        std::shared_ptr<UniqueHandle> closed;  // set once the transport's close has returned
    };

    // COMM_SUCCESS, or the code of a failure; with *closingWait set, the transport handle is one
    // being closed: nothing was added, and the open waits for that event and tries again.
    CommResult AddRecord(Transport &transport, HCOMM transportHandle, HCOMM *handle,
                         std::shared_ptr<UniqueHandle> *closingWait);
    // Whether an open record wraps this transport handle of this transport. The caller holds lock_.
    bool IsWrapped(const Transport *transport, HCOMM transportHandle) const;
    // Lists the handle as closing; the event to set when its close has returned, or null when it
    // cannot be listed. The caller holds lock_.
    std::shared_ptr<UniqueHandle> MarkClosing(const Transport *transport, HCOMM transportHandle);
    // The open record behind the handle with the call counted on it, found and counted in one
    // shared hold of lock_, which Close holds exclusive to take a record off the list: a close
    // therefore knows every call it has to wait for. Null, with last error COMM_ERROR_INVALID_HANDLE, when the handle is
    // not open.
    CommHandle *EnterCall(HCOMM handle);
    void LeaveCall(CommHandle &record);
    // Waits, within the allowance, for the calls still inside a record that is off the list; true
    // once none is left.
    bool CallsHaveLeft(CommHandle &record);

    // Member order is teardown order, backwards: the lists go first, then the locks.
    Mutex transportMutex_;  // guards the transports and the loading of one
    // Guards records_ and closing_; every call on a handle holds it shared to find its record and
    // count itself on it, a close holds it exclusive to take a record off the list. In user space:
    // the data path touches no kernel object here.
    SrwLock lock_;
    std::vector<std::unique_ptr<Transport>> transports_;
    std::vector<std::unique_ptr<CommHandle>> records_;  // in the order of opening
    std::vector<ClosingHandle> closing_;
};
