// Protocol routers played on loopback, for tests and demos: each with its own
// name, address text (127.0.0.x), port, device list and connection list,
// answering discovery, device-list, connection-list, close-connection,
// add-device and remove-device requests, sending notifications, and misbehaving
// on request. It can also play the local router service's named event.
//
// One thread serves every socket. Discovery arrives on a socket bound to the any
// address and the service port (broadcasts reach only such sockets); it answers
// for every router, and it also serves the router whose port is the service
// port. Every other router has a socket of its own on its port. A router is
// known by its port: Wine binds every UDP socket on a 127.0.0.x address to the
// any address, so requests to 127.0.0.2 and 127.0.0.1 reach the same socket and
// every answer leaves from 127.0.0.1.
#pragma once
#include "RouterWire.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include "UniqueSocket.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace routersim {

enum class FaultKind : std::uint8_t {
    None,
    Silent,        // no answer
    Late,          // the answer goes out `value` ms late
    Truncate,      // the answer is cut to `value` bytes
    Oversize,      // the answer is padded beyond 1518 bytes
    TextsOutside,  // every text offset of a list points outside the datagram
    Foreign,       // the answer comes from another address (127.0.0.254)
    Flood,         // the answer goes out `value` times, a discovery answer each time under a name of its own
};

struct RouterFault {
    FaultKind kind = FaultKind::None;
    std::uint8_t requestType = 0;  // the request type it applies to; 0: every type
    std::uint32_t value = 0;
    std::uint32_t times = 0;  // answers it spoils; 0: until another fault is set
};

// One request as a router received it.
struct ReceivedRequest {
    std::uint16_t router;  // the port of the socket it arrived on
    std::string from;    // the sender, "a.b.c.d:port"
    ParsedRequest request;
    Datagram bytes;
    std::chrono::steady_clock::time_point at;  // when it arrived
};

constexpr std::uint16_t kNoticePorts[] = {26215, 26216};
constexpr char kServiceEventName[] = "Global\\VantrelVexaService";
// Answers "from another address" leave from a socket bound here (under Wine:
// 127.0.0.1 on another port).
constexpr char kForeignAddress[] = "127.0.0.254";

class SimulatedRouters {
public:
    explicit SimulatedRouters(std::uint16_t servicePort = 26214);
    ~SimulatedRouters();
    SimulatedRouters(const SimulatedRouters &) = delete;
    SimulatedRouters &operator=(const SimulatedRouters &) = delete;

    // Binds the discovery socket and starts serving: 0 or the error.
    DWORD Start();
    void Stop();
    std::uint16_t ServicePort() const { return servicePort_; }

    // A router on `port` (0: the service port) that answers discovery with its
    // name, port and address text. 10048 when a router has the port already.
    DWORD AddRouter(std::uint16_t port, const std::string &name, const std::string &address = "127.0.0.1");
    bool RemoveRouter(std::uint16_t port);
    bool SetAdvertisedAddress(std::uint16_t port, const std::string &text);
    bool SetDiscoverable(std::uint16_t port, bool answers);
    bool SetDevices(std::uint16_t port, std::vector<DeviceRecord> devices);
    std::vector<DeviceRecord> Devices(std::uint16_t port) const;
    bool SetConnections(std::uint16_t port, std::vector<ConnectionRecord> connections);
    std::vector<ConnectionRecord> Connections(std::uint16_t port) const;
    bool SetFault(std::uint16_t port, const RouterFault &fault);
    // A fixed result for close, add and remove (0: handle them normally).
    bool SetResult(std::uint16_t port, std::uint32_t result);
    // A forger: while set, every request to the router is answered at once from
    // another socket (under Wine: 127.0.0.1 on another port) with result 0 or an
    // empty list, before the router answers as it would.
    bool SetForged(std::uint16_t port, bool forged);

    // A notification (7 or 9) of `size` bytes from the router's socket (the
    // discovery socket for port 0) to 127.0.0.1 on 26215 and 26216.
    DWORD SendNotice(std::uint16_t port, std::uint8_t code, std::size_t size = kNoticeSize);

    // The local router service: creates the named event and holds it, signalled
    // or not, until released.
    DWORD HoldServiceEvent(bool signalled);
    void ReleaseServiceEvent();

    std::vector<ReceivedRequest> Requests() const;
    // Waits until at least `count` requests arrived in all: false on the timeout.
    bool WaitForRequests(std::size_t count, DWORD timeoutMs) const;

private:
    struct Router;
    struct Delayed;
    Router *Find(std::uint16_t port) const;  // the caller holds mutex_
    void Serve();
    struct Listener;
    void Drain(Listener &listener);
    void Answer(std::uint16_t port, bool discovery, const sockaddr_in &from, const std::uint8_t *bytes,
                std::size_t size);
    void Reply(Router &router, SOCKET socket, std::uint8_t type, Datagram reply, const sockaddr_in &to);
    DWORD NextDueMs();
    void SendDue();

    const std::uint16_t servicePort_;
    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::vector<std::unique_ptr<Router>> routers_;
    // The sockets: the discovery socket first, then one per router not on the
    // service port. Removed routers' sockets stay open until Stop (the serving
    // thread may be reading them at that moment).
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::vector<Delayed> delayed_;
    std::vector<ReceivedRequest> requests_;
    UniqueHandle stop_;
    UniqueHandle changed_;  // the set of sockets changed
    UniqueSocket foreign_;
    UniqueHandle serviceEvent_;
    Thread thread_;
    bool socketsStarted_ = false;
};

}  // namespace routersim
