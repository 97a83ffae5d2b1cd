// The library-wide state of Communicator: the sockets and receive slots of router
// discovery, the transport table and the list of open handles. One per process,
// built when the library is attached and torn down when it is detached.
#pragma once
#include "CommApi.h"
#include "CommHandle.h"
#include "CommRecords.h"
#include "ReceiveSlot.h"
#include "RouterCodec.h"
#include "SrwLock.h"
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
    // transport mutex and the slots' events exist. Sockets that cannot be made are left
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
    // Takes the record off the list (calls from then on get COMM_ERROR_INVALID_HANDLE), closes the
    // transport's handle (which ends a call still waiting in the transport), then waits for the calls
    // already inside to leave before it frees the record; a record they do not leave in time is never
    // freed.
    CommResult Close(HCOMM handle);
    CommResult Connect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request, void *reply);

    // Every other call on a handle: call(record) on the open record behind it, counted on the record
    // while it runs. COMM_ERROR_INVALID_HANDLE (also as the last error) when the handle is not open.
    template <typename Call> CommResult OnRecord(HCOMM handle, Call call) {
        CommHandle *record = EnterCall(handle);
        if (!record) return COMM_ERROR_INVALID_HANDLE;
        const CommResult result = call(*record);
        LeaveCall(*record);
        return result;
    }

    // The router protocol over UDP (RouterExchange.cpp, RouterDiscovery.cpp).
    // None takes a lock: they share the two sockets and the receive slots, so
    // callers run them one at a time. Each leaves no receive pending. They throw
    // std::bad_alloc when memory runs out.

    // Sends a request of types 3 to 6 and takes as its reply the first datagram
    // on requestSocket from the destination's address and port (others are
    // dropped): 0 with the reply in `reply`, or why there is none:
    // COMM_ERROR_WAIT_TIMEOUT after three unanswered attempts, the sockets' error
    // when the request could not be sent in any attempt or the last attempt's
    // receive failed (for example WSAECONNRESET after a port-unreachable report).
    CommResult ExchangeRequest(const router::Request &request, const sockaddr_in &destination, ReceiveSlot &reply);
    // Asks the router at this IPv4 address (network order) and port for its
    // devices and appends them: 0 (also for an empty list), COMM_ERROR_WAIT_TIMEOUT,
    // the sockets' error as ExchangeRequest, or COMM_ERROR_RECEIVE_NOT_POSTED. Datagrams from
    // other addresses are dropped.
    CommResult QueryRouterDevices(std::vector<DeviceRecord> *devices, std::uint32_t routerAddress, std::uint32_t port);
    // Broadcasts a discovery request on servicePort and appends the routers that
    // answer (the first answer of each sending address and port, at most 256),
    // then the local router service when it runs; a name already listed
    // (ignoring case) is not listed again. Finds nothing rather than failing.
    void DiscoverRouters(std::vector<RouterRecord> *routers);

    // CommGetConnections and CommCloseConnection: host a dotted IPv4 text (null:
    // 127.0.0.1), port's low 16 bits (0: the default service port).
    CommResult GetConnections(ConnectionRecord *records, std::uint32_t *count, const char *host, std::uint32_t port);
    CommResult CloseConnection(std::uint32_t id1, std::uint32_t id2, const char *host, std::uint32_t port);
    // The add-device and remove-device requests (type 5 or 6) to the router at
    // host (a dotted IPv4 text, never resolved as a name) and port: the router's
    // result, or the failure of the exchange.
    CommResult SendDeviceRequest(router::RequestType type, const DeviceRecord &device, const char *host,
                                 std::uint32_t port);

    // The router and device store in the registry (RouterStore.cpp,
    // DeviceStore.cpp), behind the six exports of the same names. Every call
    // reads the store afresh through its own CHivekey; the device calls with a
    // router given (HasRouter) use the router protocol above instead. They throw
    // std::bad_alloc when memory runs out.
    CommResult AddRouter(const char *host, std::uint32_t port);
    CommResult RemoveRouter(const char *host);
    // The routers discovered on the network, then the stored ones not among
    // them (same address ignoring case and same port), under the count rule.
    CommResult GetRouters(RouterRecord *records, std::uint32_t *count);
    CommResult AddDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort);
    CommResult RemoveDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort);
    CommResult GetDevices(DeviceRecord *records, std::uint32_t *count, const char *routerHost,
                          std::uint32_t routerPort);

    // Member order is teardown order, backwards: the list of handles goes first,
    // then the transport table, the locks, the sockets, the sockets library, and
    // the receive slots last.
    std::array<ReceiveSlot, kReceiveSlotCount> receiveSlots;
    SocketsLibrary socketsLibrary;
    UniqueSocket broadcastSocket;
    UniqueSocket requestSocket;
    UniqueHandle transportMutex;  // guards transports and the loading of a row
    // Guards connections and closing; every call on a handle holds it shared to find its record
    // and count itself on it, a close holds it exclusive to take a record off the list. In user
    // space: the data path touches no kernel object here.
    SrwLock connectionLock;
    std::vector<std::unique_ptr<TransportEntry>> transports;
    std::vector<std::unique_ptr<CommHandle>> connections;  // in the order of opening

private:
    struct ExchangeRules;
    CommResult RunExchange(const router::Request &request, const sockaddr_in &destination, const ExchangeRules &rules,
                           ReceiveSlot &reply);
    // A transport handle that Close has taken from its last record and is closing now, outside
    // the lock. Until that close returns, the transport may still hand the same handle to an
    // open of the same device (its handle is still listed there); such an open waits for the
    // close and opens again.
    struct ClosingHandle {
        const TransportEntry *row;
        HCOMM transportHandle;
        std::shared_ptr<UniqueHandle> closed;  // set once the transport's close has returned
    };
    std::vector<ClosingHandle> closing;  // guarded by connectionLock

    // COMM_SUCCESS, or the code of a failure; with *closingWait set, the transport handle is one
    // being closed: nothing was added, and the open waits for that event and tries again.
    CommResult AddConnection(TransportEntry &row, HCOMM transportHandle, HCOMM *handle,
                             std::shared_ptr<UniqueHandle> *closingWait);
    // Whether an open record wraps this transport handle of this row. The caller
    // holds connectionLock.
    bool IsWrapped(const TransportEntry *row, HCOMM transportHandle) const;
    // Lists the handle as closing; the event to set when its close has returned, or null when it
    // cannot be listed. The caller holds connectionLock.
    std::shared_ptr<UniqueHandle> MarkClosing(const TransportEntry *row, HCOMM transportHandle);
    // The open record behind the handle with the call counted on it, found and counted in one
    // shared hold of connectionLock, which Close holds exclusive to take a record off the list: a
    // close therefore knows every call it has to wait for. Null, with last error ERROR_INVALID_HANDLE,
    // when the handle is not open.
    CommHandle *EnterCall(HCOMM handle);
    void LeaveCall(CommHandle &record);
    // Waits, within the allowance, for the calls still inside a record that is off the list; true
    // once none is left.
    bool CallsHaveLeft(CommHandle &record);
};
