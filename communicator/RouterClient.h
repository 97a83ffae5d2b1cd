// Communicator's side of the router protocol over UDP: router discovery, a
// broadcast on broadcastSocket whose answers come into the eight receive slots,
// and request-and-reply exchanges with one router or the local router service on
// requestSocket. None of its calls takes a lock: they share the two sockets and
// the receive slots, so callers run them one at a time. Each leaves no receive
// pending. They throw std::bad_alloc when memory runs out.
#pragma once
#include "CommApi.h"
#include "CommRecords.h"
#include "ReceiveSlot.h"
#include "RouterCodec.h"
#include "UniqueSocket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class RouterClient {
public:
    static constexpr std::size_t kReceiveSlotCount = 8;

    // Throws std::bad_alloc when memory runs out; Ready() tells whether the slots'
    // events exist. Sockets that cannot be made are left empty: the calls that use
    // them report that themselves.
    RouterClient();
    RouterClient(const RouterClient &) = delete;
    RouterClient &operator=(const RouterClient &) = delete;

    bool Ready() const;

    // Sends a request of types 3 to 6 and takes as its reply the first datagram
    // on requestSocket from the destination's address and port (others are
    // dropped): 0 with the reply in `reply`, or why there is none: COMM_ERROR_WAIT_TIMEOUT after
    // three unanswered attempts, the sockets' error when the request could not
    // be sent in any attempt or the last attempt's receive failed (for example
    // WSAECONNRESET after a port-unreachable report).
    CommResult ExchangeRequest(const router::Request &request, const sockaddr_in &destination, ReceiveSlot &reply);
    // Asks the router at this IPv4 address (network order) and port for its
    // devices and appends them: 0 (also for an empty list), COMM_ERROR_WAIT_TIMEOUT, the sockets'
    // error as ExchangeRequest, or COMM_ERROR_RECEIVE_NOT_POSTED. Datagrams from
    // other addresses are dropped.
    CommResult QueryRouterDevices(std::vector<DeviceRecord> *devices, std::uint32_t routerAddress, std::uint32_t port);
    // Broadcasts a discovery request on servicePort and appends the routers that
    // answer (the first answer of each sending address and port, at most 256),
    // then the local router service when it runs; a name already listed
    // (ignoring case) is not listed again. Finds nothing rather than failing.
    void DiscoverRouters(std::vector<RouterRecord> *routers);

    // CommGetConnections and CommCloseConnection: host a dotted IPv4 text (null:
    // 127.0.0.1), port's low 16 bits (0: COMM_ROUTER_PORT).
    CommResult GetConnections(ConnectionRecord *records, std::uint32_t *count, const char *host, std::uint32_t port);
    CommResult CloseConnection(std::uint32_t id1, std::uint32_t id2, const char *host, std::uint32_t port);
    // The add-device and remove-device requests (type 5 or 6) to the router at
    // host (a dotted IPv4 text, never resolved as a name) and port: the router's
    // result, or the failure of the exchange.
    CommResult SendDeviceRequest(router::RequestType type, const DeviceRecord &device, const char *host,
                                 std::uint32_t port);

    // Member order is teardown order, backwards: the sockets go first, then the
    // sockets library, and the receive slots last.
    std::array<ReceiveSlot, kReceiveSlotCount> receiveSlots;
    SocketsLibrary socketsLibrary;
    UniqueSocket broadcastSocket;
    UniqueSocket requestSocket;

private:
    struct ExchangeRules;
    CommResult RunExchange(const router::Request &request, const sockaddr_in &destination, const ExchangeRules &rules,
                           ReceiveSlot &reply);
    // An exchange whose reply carries a result: the router's result, or the failure of the exchange.
    CommResult ExchangeForResult(const router::Request &request, const sockaddr_in &destination);
};
