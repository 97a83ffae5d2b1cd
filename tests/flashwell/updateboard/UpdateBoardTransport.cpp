// A transport library for tests, loaded by Communicator under the name Wirrow.dll:
// it opens the board's device path and relays every call as a record (see
// UpdateBoardWire.h), so that a test plays the board over the update protocol.
// Calls take turns on the pipe; a disconnect from another thread first ends a call
// that waits for the board, as a real transport's disconnect ends its transfers.
#include "CommApi.h"
#include "CriticalSection.h"
#include "UniqueHandle.h"
#include "UpdateBoardWire.h"
#include <windows.h>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

void Append(std::vector<uint8_t> &bytes, const void *data, size_t length) {
    const auto *at = static_cast<const uint8_t *>(data);
    bytes.insert(bytes.end(), at, at + length);
}

// One opened device path. Calls hold Turn() while they talk to the board.
class BoardLink {
public:
    bool Open(const char *address) {
        pipe_.Reset(::CreateFileA(address, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
        return static_cast<bool>(pipe_);
    }
    CriticalSection &Turn() { return turn_; }
    // Ends the transfer a call waits in; the disconnect takes its turn after it.
    void Abort() { ::SetEvent(abort_.Get()); }
    void AbortDone() { ::ResetEvent(abort_.Get()); }

    bool ReadAll(void *data, DWORD length) { return Transfer(false, data, length); }
    bool Request(uint8_t kind, const std::vector<uint8_t> &payload) {
        std::vector<uint8_t> record{kind};
        const uint32_t length = static_cast<uint32_t>(payload.size());
        Append(record, &length, 4);
        record.insert(record.end(), payload.begin(), payload.end());
        return Transfer(true, record.data(), static_cast<DWORD>(record.size()));
    }
    // The board's result, or ERROR_DEVICE_NOT_CONNECTED when the test has gone or a disconnect came.
    uint32_t Result() {
        uint32_t result = 0;
        return ReadAll(&result, 4) ? result : COMM_ERROR_DEVICE_NOT_CONNECTED;
    }

    // The link parameters of the last accepted connect: set under Turn(), read without it (a
    // session asks for them after its connect, never while a call waits for the board).
    void SetParameters(uint32_t maxPayload, uint32_t hostOrder) {
        maxPayload_ = maxPayload;
        hostOrder_ = hostOrder;
    }
    uint32_t MaxPayload() const { return maxPayload_; }
    uint32_t HostOrder() const { return hostOrder_; }

private:
    // Whole transfers on the overlapped pipe; false when the pipe failed or a disconnect came.
    bool Transfer(bool write, void *data, DWORD length) {
        auto *at = static_cast<uint8_t *>(data);
        while (length > 0) {
            OVERLAPPED block{};
            block.hEvent = ioEvent_.Get();
            ::ResetEvent(block.hEvent);
            const BOOL started = write ? ::WriteFile(pipe_.Get(), at, length, nullptr, &block)
                                       : ::ReadFile(pipe_.Get(), at, length, nullptr, &block);
            if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
            const HANDLE waits[2] = {ioEvent_.Get(), abort_.Get()};
            const bool aborted = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0;
            if (aborted) ::CancelIoEx(pipe_.Get(), &block);
            DWORD moved = 0;
            if (!::GetOverlappedResult(pipe_.Get(), &block, &moved, TRUE) || moved == 0 || aborted) return false;
            at += moved;
            length -= moved;
        }
        return true;
    }

    UniqueHandle pipe_;
    UniqueHandle ioEvent_ = MakeEvent(true, false);
    UniqueHandle abort_ = MakeEvent(true, false);  // set by a disconnect: the waiting call gives up
    CriticalSection turn_;                          // one call at a time on the pipe
    uint32_t maxPayload_ = 0;
    uint32_t hostOrder_ = 1;
};

BoardLink *LinkOf(HCOMM handle) { return static_cast<BoardLink *>(handle); }

}  // namespace

extern "C" {

CommResult COMM_CALL CommStartup(void) { return COMM_SUCCESS; }
CommResult COMM_CALL CommCleanup(void) { return COMM_SUCCESS; }

CommResult COMM_CALL CommOpen(const char *address, uint32_t, HCOMM *handle, const char *, uint32_t) {
    if (!address || !handle) return COMM_ERROR_INVALID_PARAMETER;
    std::unique_ptr<BoardLink> link(new (std::nothrow) BoardLink);
    if (!link) return COMM_ERROR_NOT_ENOUGH_MEMORY;
    if (!link->Open(address)) return ::GetLastError();
    std::vector<uint8_t> payload;
    Append(payload, address, std::strlen(address));
    uint32_t result = link->Request(updateboard::Open, payload) ? link->Result() : COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result != COMM_SUCCESS) return result;
    *handle = link.release();
    return COMM_SUCCESS;
}

CommResult COMM_CALL CommClose(HCOMM handle) {
    BoardLink *link = LinkOf(handle);
    if (!link) return COMM_ERROR_INVALID_HANDLE;
    delete link;  // closes the pipe
    return COMM_SUCCESS;
}

CommResult COMM_CALL CommConnect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *, void *) {
    BoardLink *link = LinkOf(handle);
    if (!link || !subchannel) return COMM_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    Append(payload, &channel, 4);
    Append(payload, subchannel, 1);
    SectionHold turn(link->Turn());
    if (!link->Request(updateboard::Connect, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = link->Result();
    uint32_t parameters[2] = {};
    if (!link->ReadAll(parameters, sizeof(parameters))) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result == COMM_SUCCESS) link->SetParameters(parameters[0], parameters[1]);
    return result;
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    BoardLink *link = LinkOf(handle);
    if (!link) return COMM_ERROR_INVALID_HANDLE;
    link->Abort();
    SectionHold turn(link->Turn());
    link->AbortDone();
    if (!link->Request(updateboard::Disconnect, {})) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return link->Result();
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    BoardLink *link = LinkOf(handle);
    if (!link || !value) return COMM_ERROR_INVALID_PARAMETER;
    if (option != COMM_OPT_MAX_PAYLOAD && option != COMM_OPT_HOST_ORDER) return COMM_ERROR_INVALID_PARAMETER;
    const uint32_t parameter = option == COMM_OPT_MAX_PAYLOAD ? link->MaxPayload() : link->HostOrder();
    std::memcpy(value, &parameter, 4);
    return COMM_SUCCESS;
}

CommResult COMM_CALL CommSetOption(HCOMM, uint32_t, const void *) { return COMM_ERROR_INVALID_PARAMETER; }

CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                  uint32_t subchannel) {
    BoardLink *link = LinkOf(handle);
    if (!link || (!data && length)) return COMM_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    Append(payload, data, length);
    Append(payload, &channel, 4);
    Append(payload, &subchannel, 4);
    SectionHold turn(link->Turn());
    if (!link->Request(updateboard::Send, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return link->Result();
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    BoardLink *link = LinkOf(handle);
    if (!link || !buffer || !length) return COMM_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    Append(payload, length, 4);
    SectionHold turn(link->Turn());
    if (!link->Request(updateboard::Receive, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = link->Result();
    uint32_t replyLength = 0;
    if (!link->ReadAll(&replyLength, 4)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    std::vector<uint8_t> reply(replyLength);
    if (replyLength && !link->ReadAll(reply.data(), replyLength)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result != COMM_SUCCESS) return result;
    if (replyLength > *length) return COMM_ERROR_MORE_DATA;
    std::memcpy(buffer, reply.data(), replyLength);
    *length = replyLength;
    if (channel) *channel = COMM_UPDATER_CHANNEL;
    if (subchannel) *subchannel = COMM_UPDATER_SUBCHANNEL;
    return COMM_SUCCESS;
}

}  // extern "C"
