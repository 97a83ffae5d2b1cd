// The library-wide state of Communicator: the router client, the handle table, and the router
// and device store, which reach the routers through the client. One per process, built when
// the library is attached and torn down when it is detached (LibraryEntry.cpp).
#pragma once
#include "DeviceStore.h"
#include "HandleTable.h"
#include "RouterClient.h"
#include "RouterStore.h"

class CommunicatorState {
public:
    // Throws std::bad_alloc when memory runs out; Ready() tells whether the
    // transport mutex and the receive slots' events exist.
    explicit CommunicatorState(const TransportTable &table = kTransportTable)
        : handles_(table), routers_(client_), devices_(client_) {}
    CommunicatorState(const CommunicatorState &) = delete;
    CommunicatorState &operator=(const CommunicatorState &) = delete;

    bool Ready() const { return handles_.Ready() && client_.Ready(); }

    RouterClient &Client() { return client_; }
    HandleTable &Handles() { return handles_; }
    RouterStore &Routers() { return routers_; }
    DeviceStore &Devices() { return devices_; }

private:
    // Member order is teardown order, backwards: the handle table goes first (the
    // handles still open, then the transports), the router client last (its
    // sockets, the sockets library, the receive slots).
    RouterClient client_;
    HandleTable handles_;
    RouterStore routers_;
    DeviceStore devices_;
};
