#include "RouterSocket.h"

#include <cstring>

namespace {

// More than a router protocol exchange can leave behind; a flood is cut here.
constexpr int kMaxDroppedDatagrams = 64;

bool Readable(SOCKET socket) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) == 1;
}

}  // namespace

DWORD SendDatagram(SOCKET socket, const router::Request &request, const sockaddr_in &destination) {
    int sent = ::sendto(socket, reinterpret_cast<const char *>(request.bytes), static_cast<int>(request.size), 0,
                        reinterpret_cast<const sockaddr *>(&destination), sizeof(destination));
    if (sent == static_cast<int>(request.size)) return 0;
    int failure = sent == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return failure != 0 ? static_cast<DWORD>(failure) : static_cast<DWORD>(WSAEMSGSIZE);
}

void DropQueuedDatagrams(SOCKET socket) {
    char scratch[router::kDatagramCapacity];
    for (int dropped = 0; dropped < kMaxDroppedDatagrams && Readable(socket); ++dropped) {
        sockaddr_in from{};
        int fromLength = sizeof(from);
        ::recvfrom(socket, scratch, sizeof(scratch), 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    }
}

bool DottedDestination(const char *host, std::uint32_t port, sockaddr_in *destination) {
    if (host == nullptr) return false;
    unsigned long address = ::inet_addr(host);
    // inet_addr gives INADDR_NONE both for text that is not an address and for
    // 255.255.255.255, which is no router's address either; 0.0.0.0 names no
    // host (some systems would deliver it to the local computer).
    if (address == INADDR_NONE || address == INADDR_ANY) return false;
    *destination = sockaddr_in{};
    destination->sin_family = AF_INET;
    destination->sin_addr.s_addr = address;
    destination->sin_port = ::htons(static_cast<u_short>(port));
    return true;
}

bool FirstIpv4Address(const char *name, in_addr *address) {
    const hostent *host = ::gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != sizeof(in_addr) ||
        host->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(address, host->h_addr_list[0], sizeof(*address));
    return true;
}
