// Owners of Windows Sockets resources: the sockets library itself and one socket.
#pragma once
#include <winsock2.h>
#include <windows.h>

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

class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
    UniqueSocket(const UniqueSocket &) = delete;
    UniqueSocket &operator=(const UniqueSocket &) = delete;
    UniqueSocket(UniqueSocket &&other) noexcept : socket_(other.Release()) {}
    UniqueSocket &operator=(UniqueSocket &&other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueSocket() { Reset(); }

    SOCKET Get() const { return socket_; }
    explicit operator bool() const { return socket_ != INVALID_SOCKET; }
    SOCKET Release() { return std::exchange(socket_, INVALID_SOCKET); }
    void Reset(SOCKET socket = INVALID_SOCKET) {
        SOCKET old = std::exchange(socket_, socket);
        if (old != INVALID_SOCKET) ::closesocket(old);
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};
