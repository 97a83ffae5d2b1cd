// Owners of Windows Sockets resources: the sockets library itself and one socket.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "UniqueResource.h"
#include <utility>

// One started use of the sockets library; stopped again by the destructor.
class SocketsLibrary {
public:
    SocketsLibrary() = default;
    SocketsLibrary(const SocketsLibrary &) = delete;
    SocketsLibrary &operator=(const SocketsLibrary &) = delete;
    ~SocketsLibrary() { Stop(); }

    // The result of WSAStartup; the library counts as started only on success.
    int Start(WORD version) {
        Stop();
        WSADATA data;
        int result = ::WSAStartup(version, &data);
        started_ = result == 0;
        return result;
    }
    void Stop() {
        if (std::exchange(started_, false)) ::WSACleanup();
    }
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

struct SocketTraits {
    using Native = SOCKET;
    static SOCKET None() { return INVALID_SOCKET; }
    static bool IsValid(SOCKET socket) { return socket != INVALID_SOCKET; }
    static void Close(SOCKET socket) { ::closesocket(socket); }
};

using UniqueSocket = UniqueResource<SocketTraits>;
