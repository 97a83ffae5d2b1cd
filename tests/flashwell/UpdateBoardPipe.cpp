#include "UpdateBoardPipe.h"
#include <cstring>

namespace flashwelltest {

UpdateBoardPipe::UpdateBoardPipe(const std::string &instance)
    : instance_(instance), pipeName_("flashwell-test-board-" + instance + "-" + std::to_string(::GetCurrentProcessId())) {
    pipe_.Reset(::CreateNamedPipeA(("\\\\.\\pipe\\" + pipeName_).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    ioEvent_ = MakeEvent(true, false);
    ready_ = pipe_ && ioEvent_ && boardsim::RegisterBoardInterface(instance_) == 0 &&
             link_.Create(Path(), pipeName_) == 0;
}

UpdateBoardPipe::~UpdateBoardPipe() {
    link_.Remove();
    boardsim::RemoveBoardInterface(instance_);
}

std::string UpdateBoardPipe::Path() const { return boardsim::BoardInterfacePath(instance_); }

bool UpdateBoardPipe::AwaitClient(DWORD timeoutMs) {
    if (connected_) return true;
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.Get();
    ::ResetEvent(ioEvent_.Get());
    if (::ConnectNamedPipe(pipe_.Get(), &overlapped)) {
        connected_ = true;
        return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        connected_ = true;
        return true;
    }
    if (error != ERROR_IO_PENDING) return false;
    if (::WaitForSingleObject(ioEvent_.Get(), timeoutMs) != WAIT_OBJECT_0) {
        ::CancelIo(pipe_.Get());
        DWORD ignored = 0;
        ::GetOverlappedResult(pipe_.Get(), &overlapped, &ignored, TRUE);
        return false;
    }
    DWORD ignored = 0;
    connected_ = ::GetOverlappedResult(pipe_.Get(), &overlapped, &ignored, FALSE) != FALSE;
    return connected_;
}

bool UpdateBoardPipe::ReadExactly(void *data, DWORD length, DWORD timeoutMs) {
    auto *at = static_cast<uint8_t *>(data);
    DWORD start = ::GetTickCount();
    while (length > 0) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent_.Get();
        ::ResetEvent(ioEvent_.Get());
        DWORD read = 0;
        if (!::ReadFile(pipe_.Get(), at, length, &read, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) return false;
            if (::WaitForSingleObject(ioEvent_.Get(), timeoutMs - elapsed) != WAIT_OBJECT_0) {
                ::CancelIo(pipe_.Get());
                ::GetOverlappedResult(pipe_.Get(), &overlapped, &read, TRUE);
                return false;
            }
            if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &read, FALSE)) return false;
        }
        if (read == 0) return false;
        at += read;
        length -= read;
    }
    return true;
}

bool UpdateBoardPipe::AwaitRequest(BoardRequest &request, DWORD timeoutMs) {
    if (!AwaitClient(timeoutMs)) return false;
    uint8_t head[5];
    if (!ReadExactly(head, sizeof(head), timeoutMs)) return false;
    uint32_t length = 0;
    std::memcpy(&length, head + 1, 4);
    request.kind = head[0];
    request.payload.assign(length, 0);
    return length == 0 || ReadExactly(request.payload.data(), length, timeoutMs);
}

bool UpdateBoardPipe::Answer(uint32_t result, const std::vector<uint8_t> &extra) {
    std::vector<uint8_t> record(4 + extra.size());
    std::memcpy(record.data(), &result, 4);
    if (!extra.empty()) std::memcpy(record.data() + 4, extra.data(), extra.size());
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.Get();
    ::ResetEvent(ioEvent_.Get());
    DWORD written = 0;
    if (!::WriteFile(pipe_.Get(), record.data(), static_cast<DWORD>(record.size()), &written, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) return false;
        if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &written, TRUE)) return false;
    }
    return written == record.size();
}

bool UpdateBoardPipe::AwaitClosed(DWORD timeoutMs) {
    if (!connected_) return true;
    uint8_t byte = 0;
    // A read that fails (not by time-out) means the other end has gone.
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.Get();
    ::ResetEvent(ioEvent_.Get());
    DWORD read = 0;
    bool closed = false;
    if (!::ReadFile(pipe_.Get(), &byte, 1, &read, &overlapped)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            if (::WaitForSingleObject(ioEvent_.Get(), timeoutMs) == WAIT_OBJECT_0) {
                closed = !::GetOverlappedResult(pipe_.Get(), &overlapped, &read, FALSE);
            } else {
                ::CancelIo(pipe_.Get());
                ::GetOverlappedResult(pipe_.Get(), &overlapped, &read, TRUE);
            }
        } else {
            closed = true;
        }
    }
    if (!closed) return false;
    ::DisconnectNamedPipe(pipe_.Get());
    connected_ = false;
    return true;
}

}  // namespace flashwelltest
