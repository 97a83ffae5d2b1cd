#include "SimulatedRouters.h"

#include "UniqueSocket.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

namespace routersim {

namespace {

constexpr std::size_t kReplyCapacity = 1518;
constexpr std::size_t kOversize = 2000;
constexpr int kMaxReadsPerWake = 256;

std::string Describe(const sockaddr_in &address) {
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(::ntohs(address.sin_port));
}

bool SameText(const char *a, const char *b) { return ::lstrcmpiA(a, b) == 0; }

void SendTo(SOCKET socket, const Datagram &bytes, const sockaddr_in &to) {
    ::sendto(socket, reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<const sockaddr *>(&to), sizeof(to));
}

// What a forger answers in a router's place: success, or an empty list.
Datagram ForgedAnswer(std::uint8_t type) {
    if (type == 1) return BuildDeviceListReply({}, kReplyCapacity);
    if (type == 3) return BuildConnectionListReply({}, kReplyCapacity);
    return BuildResultReply(0);
}

}  // namespace

struct SimulatedRouters::Router {
    std::uint16_t port = 0;
    std::string name;
    std::string address;
    bool discoverable = true;
    std::vector<DeviceRecord> devices;
    std::vector<ConnectionRecord> connections;
    RouterFault fault;
    std::uint32_t result = 0;
    bool forged = false;
    SOCKET socket = INVALID_SOCKET;  // the listener's socket it answers from
};

struct SimulatedRouters::Listener {
    std::uint16_t port = 0;
    bool discovery = false;
    bool active = true;  // false once its router was removed
    UniqueSocket socket;
    UniqueHandle event;  // FD_READ of the socket
};

struct SimulatedRouters::Delayed {
    std::chrono::steady_clock::time_point due;
    SOCKET socket;
    sockaddr_in to;
    Datagram bytes;
};

namespace {

// A non-blocking UDP socket bound to address:port, sharing the port. When
// `event` is given, arrivals set it.
DWORD BindSocket(const char *address, std::uint16_t port, UniqueSocket *socket, UniqueHandle *event) {
    UniqueSocket made(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!made) return ::WSAGetLastError();
    BOOL on = TRUE;
    ::setsockopt(made.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&on), sizeof(on));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(port);
    if (::inet_pton(AF_INET, address, &local.sin_addr) != 1) return WSAEINVAL;
    if (::bind(made.Get(), reinterpret_cast<const sockaddr *>(&local), sizeof(local)) != 0) return ::WSAGetLastError();
    if (event) {
        UniqueHandle arrival(::WSACreateEvent());
        if (!arrival) return ::WSAGetLastError();
        if (::WSAEventSelect(made.Get(), arrival.Get(), FD_READ) != 0) return ::WSAGetLastError();
        *event = std::move(arrival);
    }
    *socket = std::move(made);
    return 0;
}

}  // namespace

SimulatedRouters::SimulatedRouters(std::uint16_t servicePort) : servicePort_(servicePort) {}

SimulatedRouters::~SimulatedRouters() { Stop(); }

DWORD SimulatedRouters::Start() {
    WSADATA data;
    if (!socketsStarted_) {
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return ::WSAGetLastError();
        socketsStarted_ = true;
    }
    stop_ = MakeEvent(true, false);
    changed_ = MakeEvent(false, false);
    if (!stop_ || !changed_) return ::GetLastError();
    auto discovery = std::make_unique<Listener>();
    discovery->port = servicePort_;
    discovery->discovery = true;
    DWORD bound = BindSocket("0.0.0.0", servicePort_, &discovery->socket, &discovery->event);
    if (bound != 0) return bound;
    bound = BindSocket(kForeignAddress, 0, &foreign_, nullptr);
    if (bound != 0) return bound;
    listeners_.push_back(std::move(discovery));
    if (!thread_.Start([this] { Serve(); })) return ::GetLastError();
    return 0;
}

void SimulatedRouters::Stop() {
    if (thread_.Running()) {
        ::SetEvent(stop_.Get());
        thread_.Join();
    }
    thread_.Reset();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        routers_.clear();
        listeners_.clear();
        delayed_.clear();
    }
    foreign_.Reset();
    ReleaseServiceEvent();
    if (socketsStarted_) {
        ::WSACleanup();
        socketsStarted_ = false;
    }
}

SimulatedRouters::Router *SimulatedRouters::Find(std::uint16_t port) const {
    for (const auto &router : routers_)
        if (router->port == port) return router.get();
    return nullptr;
}

DWORD SimulatedRouters::AddRouter(std::uint16_t port, const std::string &name, const std::string &address) {
    if (listeners_.empty()) return WSANOTINITIALISED;
    auto router = std::make_unique<Router>();
    router->port = port ? port : servicePort_;
    router->name = name;
    router->address = address;
    std::unique_ptr<Listener> listener;
    if (router->port != servicePort_) {
        listener = std::make_unique<Listener>();
        listener->port = router->port;
        // Bound to its address (under Wine: to the any address).
        DWORD bound = BindSocket(address.c_str(), router->port, &listener->socket, &listener->event);
        if (bound != 0) return bound;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Find(router->port)) return WSAEADDRINUSE;
        router->socket = listener ? listener->socket.Get() : listeners_.front()->socket.Get();
        routers_.push_back(std::move(router));
        if (listener) listeners_.push_back(std::move(listener));
    }
    ::SetEvent(changed_.Get());
    return 0;
}

bool SimulatedRouters::RemoveRouter(std::uint16_t port) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = std::find_if(routers_.begin(), routers_.end(), [&](const auto &r) { return r->port == port; });
        if (found == routers_.end()) return false;
        routers_.erase(found);
        for (auto &listener : listeners_)
            if (!listener->discovery && listener->port == port) listener->active = false;
    }
    ::SetEvent(changed_.Get());
    return true;
}

#define WITH_ROUTER(port, body)                \
    std::lock_guard<std::mutex> lock(mutex_);  \
    Router *router = Find(port);               \
    if (!router) return false;                 \
    body;                                      \
    return true

bool SimulatedRouters::SetAdvertisedAddress(std::uint16_t port, const std::string &text) {
    WITH_ROUTER(port, router->address = text);
}

bool SimulatedRouters::SetDiscoverable(std::uint16_t port, bool answers) {
    WITH_ROUTER(port, router->discoverable = answers);
}

bool SimulatedRouters::SetDevices(std::uint16_t port, std::vector<DeviceRecord> devices) {
    WITH_ROUTER(port, router->devices = std::move(devices));
}

bool SimulatedRouters::SetConnections(std::uint16_t port, std::vector<ConnectionRecord> connections) {
    WITH_ROUTER(port, router->connections = std::move(connections));
}

bool SimulatedRouters::SetFault(std::uint16_t port, const RouterFault &fault) {
    WITH_ROUTER(port, router->fault = fault);
}

bool SimulatedRouters::SetResult(std::uint16_t port, std::uint32_t result) {
    WITH_ROUTER(port, router->result = result);
}

bool SimulatedRouters::SetForged(std::uint16_t port, bool forged) { WITH_ROUTER(port, router->forged = forged); }

#undef WITH_ROUTER

std::vector<DeviceRecord> SimulatedRouters::Devices(std::uint16_t port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Router *router = Find(port);
    return router ? router->devices : std::vector<DeviceRecord>{};
}

std::vector<ConnectionRecord> SimulatedRouters::Connections(std::uint16_t port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Router *router = Find(port);
    return router ? router->connections : std::vector<ConnectionRecord>{};
}

DWORD SimulatedRouters::SendNotice(std::uint16_t port, std::uint8_t code, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (listeners_.empty()) return WSANOTINITIALISED;
    Router *router = port ? Find(port) : nullptr;
    if (port && !router) return ERROR_NOT_FOUND;
    SOCKET from = router ? router->socket : listeners_.front()->socket.Get();
    Datagram notice = BuildNotice(code);
    notice.resize(size);
    DWORD result = 0;
    for (std::uint16_t noticePort : kNoticePorts) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        to.sin_port = ::htons(noticePort);
        if (::sendto(from, reinterpret_cast<const char *>(notice.data()), static_cast<int>(notice.size()), 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof(to)) == SOCKET_ERROR)
            result = ::WSAGetLastError();
    }
    return result;
}

DWORD SimulatedRouters::HoldServiceEvent(bool signalled) {
    ReleaseServiceEvent();
    serviceEvent_.Reset(::CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, kServiceEventName));
    if (!serviceEvent_) return ::GetLastError();
    // An event left by someone else keeps its state; give it ours.
    if (signalled) {
        ::SetEvent(serviceEvent_.Get());
    } else {
        ::ResetEvent(serviceEvent_.Get());
    }
    return 0;
}

void SimulatedRouters::ReleaseServiceEvent() { serviceEvent_.Reset(); }

std::vector<ReceivedRequest> SimulatedRouters::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool SimulatedRouters::WaitForRequests(std::size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return requestArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return requests_.size() >= count; });
}

DWORD SimulatedRouters::NextDueMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delayed_.empty()) return INFINITE;
    auto next = std::min_element(delayed_.begin(), delayed_.end(),
                                 [](const Delayed &a, const Delayed &b) { return a.due < b.due; })
                    ->due;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : static_cast<DWORD>(left);
}

void SimulatedRouters::SendDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    for (auto it = delayed_.begin(); it != delayed_.end();) {
        if (it->due > now) {
            ++it;
            continue;
        }
        SendTo(it->socket, it->bytes, it->to);
        it = delayed_.erase(it);
    }
}

void SimulatedRouters::Serve() {
    for (;;) {
        std::vector<HANDLE> waits = {stop_.Get(), changed_.Get()};
        std::vector<Listener *> served;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const auto &listener : listeners_) {
                if (!listener->active || waits.size() == MAXIMUM_WAIT_OBJECTS) continue;
                waits.push_back(listener->event.Get());
                served.push_back(listener.get());
            }
        }
        DWORD waited =
            ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, NextDueMs());
        if (waited == WAIT_OBJECT_0 || waited == WAIT_FAILED) return;
        if (waited != WAIT_OBJECT_0 + 1) {
            for (Listener *listener : served) Drain(*listener);
        }
        SendDue();
    }
}

void SimulatedRouters::Drain(Listener &listener) {
    // Reset first: a datagram that arrives after the last read sets it again.
    ::WSAResetEvent(listener.event.Get());
    std::uint8_t buffer[4096];
    for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
        sockaddr_in from{};
        int fromLength = sizeof(from);
        int got = ::recvfrom(listener.socket.Get(), reinterpret_cast<char *>(buffer), sizeof(buffer), 0,
                             reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (got == SOCKET_ERROR) {
            // A port-unreachable report for an earlier answer: read on.
            if (::WSAGetLastError() == WSAECONNRESET) continue;
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!listener.active) return;
        Answer(listener.port, listener.discovery, from, buffer, static_cast<std::size_t>(got));
    }
}

// Runs with mutex_ held.
void SimulatedRouters::Answer(std::uint16_t port, bool discovery, const sockaddr_in &from, const std::uint8_t *bytes,
                              std::size_t size) {
    ReceivedRequest received;
    received.router = port;
    received.from = Describe(from);
    received.bytes.assign(bytes, bytes + size);
    received.at = std::chrono::steady_clock::now();
    if (!ParseRequest(bytes, size, &received.request)) return;
    const ParsedRequest request = received.request;
    requests_.push_back(std::move(received));
    requestArrived_.notify_all();

    Router *router = Find(port);
    if (request.type == 2) {
        // A broadcast is answered by every discoverable router; one asked
        // directly answers alone.
        for (const auto &each : routers_) {
            if (discovery ? each->discoverable : each.get() == router)
                Reply(*each, each->socket, 2, BuildDiscoveryReply(each->port, each->name, each->address), from);
        }
        return;
    }
    if (!router) return;
    if (router->forged) SendTo(foreign_.Get(), ForgedAnswer(request.type), from);
    switch (request.type) {
    case 1: Reply(*router, router->socket, 1, BuildDeviceListReply(router->devices, kReplyCapacity), from); break;
    case 3:
        Reply(*router, router->socket, 3, BuildConnectionListReply(router->connections, kReplyCapacity), from);
        break;
    case 4: {
        std::uint32_t result = router->result;
        if (result == 0) {
            auto found = std::find_if(router->connections.begin(), router->connections.end(),
                                      [&](const ConnectionRecord &c) { return c.id1 == request.id1 && c.id2 == request.id2; });
            if (found == router->connections.end()) {
                result = ERROR_NOT_FOUND;
            } else {
                router->connections.erase(found);
            }
        }
        Reply(*router, router->socket, 4, BuildResultReply(result), from);
        break;
    }
    case 5:
    case 6: {
        std::uint32_t result = router->result;
        auto found = std::find_if(router->devices.begin(), router->devices.end(), [&](const DeviceRecord &d) {
            return d.port == request.device.port && SameText(d.address, request.device.address);
        });
        if (result == 0 && request.type == 5) {
            if (found != router->devices.end()) {
                result = ERROR_ALREADY_EXISTS;
            } else {
                router->devices.push_back(request.device);
            }
        } else if (result == 0) {
            if (found == router->devices.end()) {
                result = ERROR_FILE_NOT_FOUND;
            } else {
                router->devices.erase(found);
            }
        }
        Reply(*router, router->socket, request.type, BuildResultReply(result), from);
        break;
    }
    default: break;  // not a request a router knows: no answer
    }
}

// Runs with mutex_ held: sends an answer, spoiled as the router's fault says.
void SimulatedRouters::Reply(Router &router, SOCKET socket, std::uint8_t type, Datagram reply, const sockaddr_in &to) {
    RouterFault &fault = router.fault;
    FaultKind kind = FaultKind::None;
    if (fault.kind != FaultKind::None && (fault.requestType == 0 || fault.requestType == type)) {
        kind = fault.kind;
        if (fault.times != 0 && --fault.times == 0) fault.kind = FaultKind::None;
    }
    switch (kind) {
    case FaultKind::Silent: return;
    case FaultKind::Truncate: reply.resize(std::min<std::size_t>(reply.size(), fault.value)); break;
    case FaultKind::Oversize: reply.resize(kOversize, 0x5A); break;
    case FaultKind::TextsOutside: PointTextsOutside(&reply, type); break;
    case FaultKind::Foreign: socket = foreign_.Get(); break;
    case FaultKind::Flood:
        for (std::uint32_t copy = 1; copy < fault.value; ++copy) {
            SendTo(socket,
                   type == 2 ? BuildDiscoveryReply(router.port, router.name + "-" + std::to_string(copy), router.address)
                             : reply,
                   to);
        }
        break;
    case FaultKind::Late:
        delayed_.push_back(Delayed{std::chrono::steady_clock::now() + std::chrono::milliseconds(fault.value), socket,
                                   to, std::move(reply)});
        ::SetEvent(changed_.Get());  // the serving thread recomputes its wait
        return;
    default: break;
    }
    SendTo(socket, reply, to);
}

}  // namespace routersim
