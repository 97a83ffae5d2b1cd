#include "PipeBoard.h"
#include <cstring>

PipeBoard::PipeBoard(const std::string &instance) : path_(boardsim::BoardInterfacePath(instance)) {
    const std::string pipeName = "wirrow-test-" + instance;
    pipe_.Reset(::CreateNamedPipeA(("\\\\.\\pipe\\" + pipeName).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1 << 20, 1 << 20, 0, nullptr));
    event_ = MakeEvent(true, false);
    connectEvent_ = MakeEvent(true, false);
    ready_ = pipe_ && event_ && connectEvent_ && link_.Create(path_, pipeName) == 0 && Listen();
}

bool PipeBoard::Listen() {
    connect_ = OVERLAPPED{};
    connect_.hEvent = connectEvent_.Get();
    ::ResetEvent(connectEvent_.Get());
    connectPending_ = false;
    connected_ = false;
    if (::ConnectNamedPipe(pipe_.Get(), &connect_) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
        connected_ = true;
        return true;
    }
    connectPending_ = ::GetLastError() == ERROR_IO_PENDING;
    return connectPending_;
}

bool PipeBoard::Relisten() {
    ::DisconnectNamedPipe(pipe_.Get());
    return Listen();
}

bool PipeBoard::AcceptHost(DWORD timeoutMs) {
    if (connected_) return true;
    if (!connectPending_) return false;
    if (::WaitForSingleObject(connectEvent_.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
    connectPending_ = false;
    DWORD ignored = 0;
    connected_ = ::GetOverlappedResult(pipe_.Get(), &connect_, &ignored, FALSE) != FALSE;
    return connected_;
}

bool PipeBoard::Transfer(bool write, void *buffer, DWORD count, DWORD timeoutMs) {
    auto *at = static_cast<uint8_t *>(buffer);
    while (count > 0) {
        OVERLAPPED block{};
        block.hEvent = event_.Get();
        ::ResetEvent(event_.Get());
        BOOL started = write ? ::WriteFile(pipe_.Get(), at, count, nullptr, &block)
                             : ::ReadFile(pipe_.Get(), at, count, nullptr, &block);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
        if (::WaitForSingleObject(event_.Get(), timeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(pipe_.Get(), &block);
            DWORD ignored = 0;
            ::GetOverlappedResult(pipe_.Get(), &block, &ignored, TRUE);
            return false;
        }
        DWORD moved = 0;
        if (!::GetOverlappedResult(pipe_.Get(), &block, &moved, FALSE) || moved == 0) return false;
        at += moved;
        count -= moved;
    }
    return true;
}

bool PipeBoard::ReadExact(void *buffer, DWORD count, DWORD timeoutMs) { return Transfer(false, buffer, count, timeoutMs); }

bool PipeBoard::Write(const void *buffer, DWORD count, DWORD timeoutMs) {
    return Transfer(true, const_cast<void *>(buffer), count, timeoutMs);
}

bool PipeBoard::AnswerConnect(uint8_t attempts, uint8_t packetTimeout, uint8_t replyTimeout, uint8_t flags,
                              uint32_t maxPayload) {
    wirrow::LinkHeader request{};
    if (!ReadHeader(request) || request.letter != 'C') return false;
    wirrow::LinkHeader reply{'s', 'c', 0, 0, {attempts, packetTimeout, replyTimeout, flags}, {}, {}};
    littleEndian = (flags & wirrow::kFlagLittleEndian) != 0;
    wirrow::WriteField(reply.length, maxPayload, littleEndian);
    return WriteHeader(reply);
}

bool PipeBoard::SendPacket(uint8_t channel, uint8_t subchannel, uint32_t sequence,
                           const std::vector<uint8_t> &payload) {
    const uint32_t size = static_cast<uint32_t>(payload.size());
    wirrow::LinkHeader header = Header('A', channel, subchannel, sequence, size);
    return WriteHeader(header) && (payload.empty() || Write(payload.data(), size));
}

bool PipeBoard::ReadPacket(wirrow::LinkHeader &header, std::vector<uint8_t> &payload, DWORD timeoutMs) {
    if (!ReadHeader(header, timeoutMs) || header.letter != 'A') return false;
    payload.resize(Length(header));
    return payload.empty() || ReadExact(payload.data(), static_cast<DWORD>(payload.size()), timeoutMs);
}

bool PipeBoard::ExpectAnswer(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence,
                             DWORD timeoutMs) {
    wirrow::LinkHeader header{};
    if (!ReadHeader(header, timeoutMs)) return false;
    wirrow::LinkHeader expected = Header(letter, channel, subchannel, sequence, 0);
    return std::memcmp(&header, &expected, 16) == 0;
}

bool PipeBoard::QuietFor(DWORD ms) {
    uint8_t byte = 0;
    OVERLAPPED block{};
    block.hEvent = event_.Get();
    ::ResetEvent(event_.Get());
    // A one-byte read that is still pending at the end of the window means nothing came.
    BOOL started = ::ReadFile(pipe_.Get(), &byte, 1, nullptr, &block);
    if (started) return false;
    if (::GetLastError() != ERROR_IO_PENDING) return true;  // the host has gone: quiet too
    bool quiet = ::WaitForSingleObject(event_.Get(), ms) != WAIT_OBJECT_0;
    ::CancelIoEx(pipe_.Get(), &block);
    DWORD moved = 0;
    if (::GetOverlappedResult(pipe_.Get(), &block, &moved, TRUE) && moved > 0) quiet = false;
    return quiet;
}

bool PipeBoard::WaitUnread(DWORD count, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD waiting = 0;
        if (!::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &waiting, nullptr)) return false;
        if (waiting >= count) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(5);
    }
}

void PipeBoard::Hangup() {
    ::DisconnectNamedPipe(pipe_.Get());
    connected_ = false;
}
