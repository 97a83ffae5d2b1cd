// Router discovery: a broadcast on broadcastSocket to servicePort, up to three
// times until any answer comes, the answers collected with the eight receive
// slots until 500 ms pass without a router not listed yet, then the local
// router service. Anyone on the network can answer: one answer is taken per
// sending address and port and at most 256 in all, and neither junk nor a
// flood of answers from known senders stretches the collection.
#include "CommunicatorState.h"
#include "CopyText.h"
#include "LocalService.h"
#include "RouterLists.h"
#include "RouterSocket.h"
#include "ServicePort.h"

#include <cstring>

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kAttemptWaitMs = 1000;
constexpr DWORD kQuietWindowMs = 500;
// New senders answering one after another, each within the quiet window of the
// last, would stretch the collection; it stops after this long whatever comes.
constexpr DWORD kCollectionLimitMs = 10000;
constexpr char kLoopbackText[] = "127.0.0.1";

// The local service as a router: the computer's name, the first IPv4 address
// that name resolves to (127.0.0.1 when it resolves to none) and servicePort.
RouterRecord LocalServiceRecord(const char *computerName, std::uint16_t servicePort) {
    RouterRecord local{};
    CopyText(local.name, computerName);
    const char *address = kLoopbackText;
    const hostent *host = computerName[0] ? ::gethostbyname(computerName) : nullptr;
    if (host != nullptr && host->h_addrtype == AF_INET && host->h_length == sizeof(in_addr) &&
        host->h_addr_list[0] != nullptr) {
        in_addr first;
        std::memcpy(&first, host->h_addr_list[0], sizeof(first));
        address = ::inet_ntoa(first);
    }
    CopyText(local.address, address);
    local.port = servicePort;
    return local;
}

// Every receive still pending on the slots is cancelled on every way out.
class CancelOnExit {
public:
    explicit CancelOnExit(std::array<ReceiveSlot, CommunicatorState::kReceiveSlotCount> &slots) : slots_(slots) {}
    CancelOnExit(const CancelOnExit &) = delete;
    CancelOnExit &operator=(const CancelOnExit &) = delete;
    ~CancelOnExit() {
        for (ReceiveSlot &slot : slots_) slot.Cancel();
    }

private:
    std::array<ReceiveSlot, CommunicatorState::kReceiveSlotCount> &slots_;
};

}  // namespace

void CommunicatorState::DiscoverRouters(std::vector<RouterRecord> *routers) {
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
        CancelOnExit cancel(receiveSlots);
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
        for (int attempt = 0; attempt < kAttempts && !answered; ++attempt) {
            if (SendDatagram(socket, request, destination) != 0) continue;
            if (!posted) {
                for (ReceiveSlot &slot : receiveSlots) slot.Post(socket);
                posted = true;
            }
            answered = waitAny(kAttemptWaitMs);
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
