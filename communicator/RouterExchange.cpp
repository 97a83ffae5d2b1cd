// Request-and-reply exchanges with one router or the local router service on
// requestSocket: the connection list, closing a connection, adding and removing
// a device, and a router's device list.
//
// An exchange sends its request up to three times and keeps one receive posted
// from the first successful send on; a reply to any of the sends ends it. The
// socket's port is the same for the library's life and every router asked sees
// it, so a datagram counts as the reply only when it comes from the address and
// port the request went to (the device list: from the router's address); others
// are dropped and the attempt waits on for the rest of its time. A receive that
// completes with an error (on Windows an ICMP port-unreachable report comes back
// as WSAECONNRESET on the next receive; a datagram larger than the buffer as
// WSAEMSGSIZE) is never read as a reply: the attempt ends unanswered, and the
// next one sends again and posts a new receive.
#include "CommunicatorState.h"
#include "MemoryAccess.h"
#include "RouterSocket.h"
#include "ServicePort.h"

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kAttemptWaitMs = 2000;
// Datagrams that are not the reply (another sender, too short) dropped in a row
// without waiting, before the attempt's time is looked at again: a flood of them
// ends with the attempt.
constexpr int kMaxDropsInARow = 64;
constexpr char kDefaultConnectionsHost[] = "127.0.0.1";

}  // namespace

// What a datagram must be to count as the reply.
struct CommunicatorState::ExchangeRules {
    std::size_t minimumSize = 0;       // shorter ones are dropped as malformed
    std::uint32_t sourceAddress = 0;   // network order: the sender's address
    std::uint16_t sourcePort = 0;      // network order: the sender's port; 0: any port
    bool postFailureEnds = false;      // a receive that cannot be posted ends the exchange with -1
};

CommResult CommunicatorState::ExchangeRequest(const router::Request &request, const sockaddr_in &destination,
                                              ReceiveSlot &reply) {
    ExchangeRules rules;
    rules.minimumSize = router::MinimumReplySize(static_cast<router::RequestType>(request.bytes[4]));
    rules.sourceAddress = destination.sin_addr.s_addr;
    rules.sourcePort = destination.sin_port;
    return RunExchange(request, destination, rules, reply);
}

CommResult CommunicatorState::RunExchange(const router::Request &request, const sockaddr_in &destination,
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
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
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
            if (spent >= kAttemptWaitMs) break;
            DWORD waited = ::WaitForSingleObject(reply.Event(), kAttemptWaitMs - spent);
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

CommResult CommunicatorState::QueryRouterDevices(std::vector<DeviceRecord> *devices, std::uint32_t routerAddress,
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

namespace {

// The destination of CommGetConnections and CommCloseConnection.
bool ConnectionsDestination(const char *host, std::uint32_t port, sockaddr_in *destination) {
    std::uint16_t lowPort = static_cast<std::uint16_t>(port);
    return DottedDestination(host ? host : kDefaultConnectionsHost, lowPort ? lowPort : COMM_ROUTER_PORT,
                             destination);
}

}  // namespace

CommResult CommunicatorState::GetConnections(ConnectionRecord *records, std::uint32_t *count, const char *host,
                                             std::uint32_t port) {
    if (!CanWriteMemory(count, sizeof(*count))) return COMM_E_POINTER;
    sockaddr_in destination{};
    if (!ConnectionsDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result =
        ExchangeRequest(router::EncodePlainRequest(router::kConnectionListRequest), destination, reply);
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

CommResult CommunicatorState::CloseConnection(std::uint32_t id1, std::uint32_t id2, const char *host,
                                              std::uint32_t port) {
    sockaddr_in destination{};
    if (!ConnectionsDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result = ExchangeRequest(router::EncodeCloseConnectionRequest(id1, id2), destination, reply);
    if (result != COMM_SUCCESS) return result;
    std::uint32_t answer = 0;
    router::DecodeResultReply(reply.Data(), reply.Size(), &answer);  // the exchange checked the size
    return answer;
}

CommResult CommunicatorState::SendDeviceRequest(router::RequestType type, const DeviceRecord &device, const char *host,
                                                std::uint32_t port) {
    sockaddr_in destination{};
    if (!DottedDestination(host, port, &destination)) return COMM_ERROR_INVALID_ADDRESS;
    ReceiveSlot reply;
    if (!reply.Ready()) return ::GetLastError();
    CommResult result = ExchangeRequest(router::EncodeDeviceRequest(type, device), destination, reply);
    if (result != COMM_SUCCESS) return result;
    std::uint32_t answer = 0;
    router::DecodeResultReply(reply.Data(), reply.Size(), &answer);
    return answer;
}
