// An exchange (the connection list, closing a connection, adding and removing a
// device, a router's device list) sends its request up to three times and keeps
// one receive posted from the first successful send on; a reply to any of the
// sends ends it. The socket's port is the same for the library's life and every
// router asked sees it, so a datagram counts as the reply only when it comes from
// the address and port the request went to (the device list: from the router's
// address); others are dropped and the attempt waits on for the rest of its time.
// A receive that completes with an error (on Windows an ICMP port-unreachable
// report comes back as WSAECONNRESET on the next receive; a datagram larger than
// the buffer as WSAEMSGSIZE) is never read as a reply: the attempt ends
// unanswered, and the next one sends again and posts a new receive.
//
// A discovery broadcasts to the service port up to three times until any answer
// comes and collects the answers until 500 ms pass without a router not listed
// yet. Anyone on the network can answer: one answer is taken per sending address
// and port and at most 256 in all, and neither junk nor a flood of answers from
// known senders stretches the collection.
#include "RouterClient.h"

#include "CopyText.h"
#include "LocalService.h"
#include "MemoryAccess.h"
#include "RouterLists.h"
#include "RouterSocket.h"
#include "ScopeExit.h"
#include "ServicePort.h"

#include <algorithm>

namespace {

constexpr int kExchangeAttempts = 3;
constexpr DWORD kExchangeAttemptWaitMs = 2000;
// Datagrams that are not the reply (another sender, too short) dropped in a row
// without waiting, before the attempt's time is looked at again: a flood of them
// ends with the attempt.
constexpr int kMaxDropsInARow = 64;

constexpr int kDiscoveryAttempts = 3;
constexpr DWORD kDiscoveryAttemptWaitMs = 1000;
constexpr DWORD kQuietWindowMs = 500;
// New senders answering one after another, each within the quiet window of the
// last, would stretch the collection; it stops after this long whatever comes.
constexpr DWORD kCollectionLimitMs = 10000;
constexpr char kLoopbackText[] = "127.0.0.1";  // the connections' default host; the service's fallback address

UniqueSocket MakeOverlappedUdpSocket() {
    return UniqueSocket(::WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED));
}

// The local service as a router: the computer's name, the first IPv4 address
// that name resolves to (127.0.0.1 when it resolves to none) and servicePort.
RouterRecord LocalServiceRecord(const char *computerName, std::uint16_t servicePort) {
    RouterRecord local{};
    CopyText(local.name, computerName);
    in_addr first{};
    const bool resolved = computerName[0] != '\0' && FirstIpv4Address(computerName, &first);
    CopyText(local.address, resolved ? ::inet_ntoa(first) : kLoopbackText);
    local.port = servicePort;
    return local;
}

// The destination of CommGetConnections and CommCloseConnection.
bool ConnectionsDestination(const char *host, std::uint32_t port, sockaddr_in *destination) {
    std::uint16_t lowPort = static_cast<std::uint16_t>(port);
    return DottedDestination(host ? host : kLoopbackText, lowPort ? lowPort : COMM_ROUTER_PORT,
                             destination);
}

}  // namespace

RouterClient::RouterClient() {
    socketsLibrary.Start(MAKEWORD(1, 1));  // a failure shows later as missing sockets
    requestSocket = MakeOverlappedUdpSocket();
    broadcastSocket = MakeOverlappedUdpSocket();
    if (broadcastSocket) {
        BOOL enable = TRUE;
        ::setsockopt(broadcastSocket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&enable),
                     sizeof(enable));
    }
}

bool RouterClient::Ready() const {
    return std::all_of(receiveSlots.begin(), receiveSlots.end(), [](const ReceiveSlot &slot) { return slot.Ready(); });
}

// What a datagram must be to count as the reply.
struct RouterClient::ExchangeRules {
    std::size_t minimumSize = 0;       // shorter ones are dropped as malformed
    std::uint32_t sourceAddress = 0;   // network order: the sender's address
    std::uint16_t sourcePort = 0;      // network order: the sender's port; 0: any port
    bool postFailureEnds = false;      // a receive that cannot be posted ends the exchange with -1
};

CommResult RouterClient::ExchangeRequest(const router::Request &request, const sockaddr_in &destination,
                                         ReceiveSlot &reply) {
    ExchangeRules rules;
    rules.minimumSize = router::MinimumReplySize(static_cast<router::RequestType>(request.bytes[4]));
    rules.sourceAddress = destination.sin_addr.s_addr;
    rules.sourcePort = destination.sin_port;
    return RunExchange(request, destination, rules, reply);
}

CommResult RouterClient::RunExchange(const router::Request &request, const sockaddr_in &destination,
                                     const ExchangeRules &rules, ReceiveSlot &reply) {
    if (!requestSocket) return WSAENOTSOCK;
    if (!reply.Ready()) return COMM_ERROR_INVALID_HANDLE;
    const SOCKET socket = requestSocket.Get();
    DropQueuedDatagrams(socket);

    auto isReply = [&] {
        return reply.Size() >= rules.minimumSize && reply.from.sin_addr.s_addr == rules.sourceAddress &&
               (rules.sourcePort == 0 || reply.from.sin_port == rules.sourcePort);
    };
    // Posts until the receive is pending, a reply is there, or posting fails;
    // datagrams that are not the reply are dropped on the way. Idle after a run
    // of them: the caller posts again while the attempt has time left.
    auto post = [&]() -> ReceiveSlot::State {
        for (int drops = 0; drops < kMaxDropsInARow; ++drops) {
            ReceiveSlot::State state = reply.Post(socket);
            if (state != ReceiveSlot::State::Completed || isReply()) return state;
        }
        return ReceiveSlot::State::Idle;
    };

    CommResult sendFailure = 0;
    bool sent = false;
    CommResult lastWait = COMM_ERROR_WAIT_TIMEOUT;
    for (int attempt = 0; attempt < kExchangeAttempts; ++attempt) {
        CommResult sendResult = SendDatagram(socket, request, destination);
        if (sendResult != 0) {
            sendFailure = sendResult;
            // A reply to an earlier send may still come; with nothing posted
            // there is nothing to wait for.
            if (reply.state != ReceiveSlot::State::Pending) continue;
        } else {
            sent = true;
        }
        const DWORD attemptStart = ::GetTickCount();
        for (;;) {
            if (reply.state != ReceiveSlot::State::Pending) {
                ReceiveSlot::State state = post();
                if (state == ReceiveSlot::State::Completed) return COMM_SUCCESS;
                if (state == ReceiveSlot::State::Failed) {
                    if (rules.postFailureEnds) return COMM_ERROR_RECEIVE_NOT_POSTED;
                    lastWait = reply.error;
                    break;
                }
            }
            const DWORD spent = ::GetTickCount() - attemptStart;
            lastWait = COMM_ERROR_WAIT_TIMEOUT;
            if (spent >= kExchangeAttemptWaitMs) break;
            DWORD waited = ::WaitForSingleObject(reply.Event(), kExchangeAttemptWaitMs - spent);
            if (waited == WAIT_TIMEOUT) break;
            if (waited != WAIT_OBJECT_0) {
                reply.Cancel();
                return waited;
            }
            ReceiveSlot::State state = reply.Collect();
            if (state == ReceiveSlot::State::Pending) break;
            if (state == ReceiveSlot::State::Failed) {
                lastWait = reply.error;
                break;
            }
            if (isReply()) return COMM_SUCCESS;
            // Not the reply: dropped; the receive is posted again and the wait goes on.
        }
    }
    reply.Cancel();
    if (!sent) return sendFailure;
    return lastWait != 0 ? lastWait : COMM_ERROR_WAIT_TIMEOUT;
}

CommResult RouterClient::QueryRouterDevices(std::vector<DeviceRecord> *devices, std::uint32_t routerAddress,
                                            std::uint32_t port) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = routerAddress;
    destination.sin_port = ::htons(static_cast<u_short>(port));
    ExchangeRules rules;
    rules.sourceAddress = routerAddress;
    rules.postFailureEnds = true;
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result = RunExchange(router::EncodePlainRequest(router::kDeviceListRequest), destination, rules, reply);
    if (result != COMM_SUCCESS) return result;
    router::AppendDeviceList(reply.Data(), reply.Size(), devices);
    return COMM_SUCCESS;
}

CommResult RouterClient::GetConnections(ConnectionRecord *records, std::uint32_t *count, const char *host,
                                        std::uint32_t port) {
    if (!CanWriteMemory(count, sizeof(*count))) return COMM_E_POINTER;
    sockaddr_in destination{};
    if (!ConnectionsDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result = ExchangeRequest(router::EncodePlainRequest(router::kConnectionListRequest), destination, reply);
    if (result != COMM_SUCCESS) return result;
    std::size_t found = router::ConnectionListEntryCount(reply.Data(), reply.Size());
    if (static_cast<std::int32_t>(*count) < static_cast<std::int32_t>(found)) return COMM_ERROR_MORE_DATA;
    if (found > 0 && !CanWriteMemory(records, found * sizeof(ConnectionRecord))) return COMM_E_POINTER;
    for (std::size_t index = 0; index < found; ++index) {
        records[index] = router::DecodeConnectionListEntry(reply.Data(), reply.Size(), index);
    }
    *count = static_cast<std::uint32_t>(found);
    return COMM_SUCCESS;
}

CommResult RouterClient::CloseConnection(std::uint32_t id1, std::uint32_t id2, const char *host, std::uint32_t port) {
    sockaddr_in destination{};
    if (!ConnectionsDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    return ExchangeForResult(router::EncodeCloseConnectionRequest(id1, id2), destination);
}

CommResult RouterClient::SendDeviceRequest(router::RequestType type, const DeviceRecord &device, const char *host,
                                           std::uint32_t port) {
    sockaddr_in destination{};
    if (!DottedDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    return ExchangeForResult(router::EncodeDeviceRequest(type, device), destination);
}

CommResult RouterClient::ExchangeForResult(const router::Request &request, const sockaddr_in &destination) {
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result = ExchangeRequest(request, destination, reply);
    if (result != COMM_SUCCESS) return result;
    std::uint32_t answer = 0;
    router::DecodeResultReply(reply.Data(), reply.Size(), &answer);  // the exchange checked the size
    return answer;
}

void RouterClient::DiscoverRouters(std::vector<RouterRecord> *routers) {
    char computerName[COMM_TEXT_FIELD_SIZE] = "";
    DWORD nameLength = sizeof(computerName);
    if (!::GetComputerNameA(computerName, &nameLength)) computerName[0] = '\0';
    const std::uint16_t servicePort = ReadServicePort();

    routerlist::DiscoveryAnswers answers;
    if (broadcastSocket) {
        const SOCKET socket = broadcastSocket.Get();
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_addr.s_addr = INADDR_BROADCAST;
        destination.sin_port = ::htons(servicePort);
        const router::Request request = router::EncodePlainRequest(router::kDiscoveryRequest);
        // Every receive still pending on the slots is cancelled on every way out.
        ScopeExit cancelPending([this] {
            for (ReceiveSlot &slot : receiveSlots) slot.Cancel();
        });
        DropQueuedDatagrams(socket);  // late answers to an earlier discovery

        // Waits until a slot has something to take (a datagram, or a failure such
        // as an oversized datagram): false on the timeout.
        auto waitAny = [&](DWORD timeoutMs) {
            HANDLE events[kReceiveSlotCount];
            DWORD count = 0;
            for (ReceiveSlot &slot : receiveSlots) {
                if (slot.state != ReceiveSlot::State::Pending) return true;
                events[count++] = slot.Event();
            }
            DWORD waited = ::WaitForMultipleObjects(count, events, FALSE, timeoutMs);
            return waited < WAIT_OBJECT_0 + count;
        };
        // Takes what the slots hold and posts each again, after a failure too,
        // so that no datagram disables a slot. True when a router not listed yet
        // answered.
        auto collect = [&] {
            bool news = false;
            for (ReceiveSlot &slot : receiveSlots) {
                const ReceiveSlot::State state = slot.Collect();
                if (state == ReceiveSlot::State::Pending) continue;
                RouterRecord answer;
                if (state == ReceiveSlot::State::Completed &&
                    router::DecodeDiscoveryReply(slot.Data(), slot.Size(), &answer) &&
                    answers.Take(slot.from.sin_addr.s_addr, slot.from.sin_port, answer))
                    news = true;
                slot.Post(socket);
            }
            return news;
        };

        bool answered = false;
        bool posted = false;
        for (int attempt = 0; attempt < kDiscoveryAttempts && !answered; ++attempt) {
            if (SendDatagram(socket, request, destination) != 0) continue;
            if (!posted) {
                for (ReceiveSlot &slot : receiveSlots) slot.Post(socket);
                posted = true;
            }
            answered = waitAny(kDiscoveryAttemptWaitMs);
        }

        const DWORD collectionStart = ::GetTickCount();
        DWORD lastNews = collectionStart;
        while (answered) {
            if (collect()) lastNews = ::GetTickCount();
            const DWORD now = ::GetTickCount();
            if (now - collectionStart >= kCollectionLimitMs || now - lastNews >= kQuietWindowMs) break;
            answered = waitAny(kQuietWindowMs - (now - lastNews));
        }
    }

    std::vector<RouterRecord> found = answers.Routers();
    if (LocalServiceRunning()) found.push_back(LocalServiceRecord(computerName, servicePort));
    routerlist::AppendUnlistedNames(routers, found);
}
