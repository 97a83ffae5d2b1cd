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

struct BoardLink {
    UniqueHandle pipe;
    UniqueHandle ioEvent = MakeEvent(true, false);
    UniqueHandle abort = MakeEvent(true, false);  // set by a disconnect: the waiting call gives up
    CriticalSection turn;                          // one call at a time on the pipe
    uint32_t maxPayload = 0;
    uint32_t hostOrder = 1;
};

// Whole transfers on the overlapped pipe; false when the pipe failed or a disconnect came.
bool Transfer(BoardLink &link, bool write, void *data, DWORD length) {
    auto *at = static_cast<uint8_t *>(data);
    while (length > 0) {
        OVERLAPPED block{};
        block.hEvent = link.ioEvent.Get();
        ::ResetEvent(block.hEvent);
        const BOOL started = write ? ::WriteFile(link.pipe.Get(), at, length, nullptr, &block)
                                   : ::ReadFile(link.pipe.Get(), at, length, nullptr, &block);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
        const HANDLE waits[2] = {link.ioEvent.Get(), link.abort.Get()};
        const bool aborted = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0;
        if (aborted) ::CancelIoEx(link.pipe.Get(), &block);
        DWORD moved = 0;
        if (!::GetOverlappedResult(link.pipe.Get(), &block, &moved, TRUE) || moved == 0 || aborted) return false;
        at += moved;
        length -= moved;
    }
    return true;
}

bool WriteAll(BoardLink &link, const void *data, DWORD length) {
    return Transfer(link, true, const_cast<void *>(data), length);
}

bool ReadAll(BoardLink &link, void *data, DWORD length) { return Transfer(link, false, data, length); }

bool Request(BoardLink &link, uint8_t kind, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> record(5 + payload.size());
    record[0] = kind;
    uint32_t length = static_cast<uint32_t>(payload.size());
    std::memcpy(&record[1], &length, 4);
    if (!payload.empty()) std::memcpy(&record[5], payload.data(), payload.size());
    return WriteAll(link, record.data(), static_cast<DWORD>(record.size()));
}

// The board's result, or ERROR_DEVICE_NOT_CONNECTED when the test has gone or a disconnect came.
uint32_t Result(BoardLink &link) {
    uint32_t result = 0;
    return ReadAll(link, &result, 4) ? result : COMM_ERROR_DEVICE_NOT_CONNECTED;
}

void Append(std::vector<uint8_t> &bytes, const void *data, size_t length) {
    const auto *at = static_cast<const uint8_t *>(data);
    bytes.insert(bytes.end(), at, at + length);
}

BoardLink *LinkOf(HCOMM handle) { return static_cast<BoardLink *>(handle); }

}  // namespace

extern "C" {

CommResult COMM_CALL CommStartup(void) { return COMM_SUCCESS; }
CommResult COMM_CALL CommCleanup(void) { return COMM_SUCCESS; }

CommResult COMM_CALL CommOpen(const char *address, uint32_t, HCOMM *handle, const char *, uint32_t) {
    if (!address || !handle) return COMM_ERROR_INVALID_PARAMETER;
    std::unique_ptr<BoardLink> link(new (std::nothrow) BoardLink);
    if (!link) return COMM_ERROR_NOT_ENOUGH_MEMORY;
    link->pipe.Reset(::CreateFileA(address, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr));
    if (!link->pipe) return ::GetLastError();
    std::vector<uint8_t> payload;
    Append(payload, address, std::strlen(address));
    uint32_t result = Request(*link, updateboard::Open, payload) ? Result(*link) : COMM_ERROR_DEVICE_NOT_CONNECTED;
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
    SectionHold turn(link->turn);
    if (!Request(*link, updateboard::Connect, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = Result(*link);
    uint32_t parameters[2] = {};
    if (!ReadAll(*link, parameters, sizeof(parameters))) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result == COMM_SUCCESS) {
        link->maxPayload = parameters[0];
        link->hostOrder = parameters[1];
    }
    return result;
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    BoardLink *link = LinkOf(handle);
    if (!link) return COMM_ERROR_INVALID_HANDLE;
    ::SetEvent(link->abort.Get());
    SectionHold turn(link->turn);
    ::ResetEvent(link->abort.Get());
    if (!Request(*link, updateboard::Disconnect, {})) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return Result(*link);
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    BoardLink *link = LinkOf(handle);
    if (!link || !value) return COMM_ERROR_INVALID_PARAMETER;
    if (option == COMM_OPT_MAX_PAYLOAD) {
        std::memcpy(value, &link->maxPayload, 4);
        return COMM_SUCCESS;
    }
    if (option == COMM_OPT_HOST_ORDER) {
        std::memcpy(value, &link->hostOrder, 4);
        return COMM_SUCCESS;
    }
    return COMM_ERROR_INVALID_PARAMETER;
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
    SectionHold turn(link->turn);
    if (!Request(*link, updateboard::Send, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return Result(*link);
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    BoardLink *link = LinkOf(handle);
    if (!link || !buffer || !length) return COMM_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    Append(payload, length, 4);
    SectionHold turn(link->turn);
    if (!Request(*link, updateboard::Receive, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = Result(*link);
    uint32_t replyLength = 0;
    if (!ReadAll(*link, &replyLength, 4)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    std::vector<uint8_t> reply(replyLength);
    if (replyLength && !ReadAll(*link, reply.data(), replyLength)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result != COMM_SUCCESS) return result;
    if (replyLength > *length) return COMM_ERROR_MORE_DATA;
    std::memcpy(buffer, reply.data(), replyLength);
    *length = replyLength;
    if (channel) *channel = COMM_UPDATER_CHANNEL;
    if (subchannel) *subchannel = COMM_UPDATER_SUBCHANNEL;
    return COMM_SUCCESS;
}

}  // extern "C"
