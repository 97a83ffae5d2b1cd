// Router discovery: a broadcast on broadcastSocket to servicePort, up to three
// times until any answer comes, the answers collected with the eight receive
// slots until 500 ms pass without a new one, then the local router service.
#include "CommunicatorState.h"
#include "LocalService.h"
#include "RouterSocket.h"
#include "ServicePort.h"

#include <mbstring.h>

#include <cstring>

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kAttemptWaitMs = 1000;
constexpr DWORD kQuietWindowMs = 500;
// Routers that keep answering (or a flood of datagrams) would stretch the
// collection without end; it stops after this long whatever comes.
constexpr DWORD kCollectionLimitMs = 10000;
constexpr char kLoopbackText[] = "127.0.0.1";

void CopyText(char *field, const char *text) {
    std::size_t length = ::strnlen(text, router::kMaxTextLength);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

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

// Names compare as the ANSI code page's multibyte text, ignoring case.
bool NameListed(const std::vector<RouterRecord> &routers, const char *name) {
    for (const RouterRecord &listed : routers) {
        if (::_mbsicmp(reinterpret_cast<const unsigned char *>(listed.name),
                       reinterpret_cast<const unsigned char *>(name)) == 0)
            return true;
    }
    return false;
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

    std::vector<RouterRecord> found;
    if (broadcastSocket) {
        const SOCKET socket = broadcastSocket.Get();
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_addr.s_addr = INADDR_BROADCAST;
        destination.sin_port = ::htons(servicePort);
        const router::Request request = router::EncodePlainRequest(router::kDiscoveryRequest);
        CancelOnExit cancel(receiveSlots);
        DropQueuedDatagrams(socket);  // late answers to an earlier discovery

        // The events of the slots that can still deliver: a slot whose receive
        // failed takes no further part (its event would stay signalled).
        auto waitAny = [&](DWORD timeoutMs) {
            HANDLE events[kReceiveSlotCount];
            DWORD count = 0;
            for (ReceiveSlot &slot : receiveSlots) {
                if (slot.state == ReceiveSlot::State::Pending || slot.state == ReceiveSlot::State::Completed)
                    events[count++] = slot.Event();
            }
            if (count == 0) return false;
            DWORD waited = ::WaitForMultipleObjects(count, events, FALSE, timeoutMs);
            return waited < WAIT_OBJECT_0 + count;
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
        while (answered) {
            for (ReceiveSlot &slot : receiveSlots) {
                if (slot.Collect() != ReceiveSlot::State::Completed) continue;
                RouterRecord answer;
                if (router::DecodeDiscoveryReply(slot.Data(), slot.Size(), &answer)) found.push_back(answer);
                slot.Post(socket);
            }
            if (::GetTickCount() - collectionStart >= kCollectionLimitMs) break;
            answered = waitAny(kQuietWindowMs);
        }
    }

    if (LocalServiceRunning()) found.push_back(LocalServiceRecord(computerName, servicePort));

    for (const RouterRecord &router : found) {
        if (!NameListed(*routers, router.name)) routers->push_back(router);
    }
}
