#include "CommunicatorState.h"

#include <algorithm>

namespace {

UniqueSocket MakeOverlappedUdpSocket() {
    return UniqueSocket(::WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED));
}

}  // namespace

CommunicatorState::CommunicatorState(const TransportTable &table) : handles_(table) {
    socketsLibrary.Start(MAKEWORD(1, 1));  // a failure shows later as missing sockets
    requestSocket = MakeOverlappedUdpSocket();
    broadcastSocket = MakeOverlappedUdpSocket();
    if (broadcastSocket) {
        BOOL enable = TRUE;
        ::setsockopt(broadcastSocket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&enable),
                     sizeof(enable));
    }
}

bool CommunicatorState::Ready() const {
    return handles_.Ready() &&
           std::all_of(receiveSlots.begin(), receiveSlots.end(), [](const ReceiveSlot &slot) { return slot.Ready(); });
}
