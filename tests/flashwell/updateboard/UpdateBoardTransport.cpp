// A transport library for tests, loaded by Communicator under the name Wirrow.dll:
// it opens the board's device path and relays every call as a record (see
// UpdateBoardWire.h), so that a test plays the board over the update protocol.
#include "CommApi.h"
#include "UniqueHandle.h"
#include "UpdateBoardWire.h"
#include <windows.h>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

struct BoardLink {
    UniqueHandle pipe;
    uint32_t maxPayload = 0;
    uint32_t hostOrder = 1;
};

bool WriteAll(HANDLE pipe, const void *data, DWORD length) {
    const auto *at = static_cast<const uint8_t *>(data);
    while (length > 0) {
        DWORD written = 0;
        if (!::WriteFile(pipe, at, length, &written, nullptr) || written == 0) return false;
        at += written;
        length -= written;
    }
    return true;
}

bool ReadAll(HANDLE pipe, void *data, DWORD length) {
    auto *at = static_cast<uint8_t *>(data);
    while (length > 0) {
        DWORD read = 0;
        if (!::ReadFile(pipe, at, length, &read, nullptr) || read == 0) return false;
        at += read;
        length -= read;
    }
    return true;
}

bool Request(HANDLE pipe, uint8_t kind, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> record(5 + payload.size());
    record[0] = kind;
    uint32_t length = static_cast<uint32_t>(payload.size());
    std::memcpy(&record[1], &length, 4);
    if (!payload.empty()) std::memcpy(&record[5], payload.data(), payload.size());
    return WriteAll(pipe, record.data(), static_cast<DWORD>(record.size()));
}

// The board's result, or ERROR_DEVICE_NOT_CONNECTED when the test has gone.
uint32_t Result(HANDLE pipe) {
    uint32_t result = 0;
    return ReadAll(pipe, &result, 4) ? result : COMM_ERROR_DEVICE_NOT_CONNECTED;
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
    UniqueHandle pipe(::CreateFileA(address, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!pipe) return ::GetLastError();
    std::vector<uint8_t> payload;
    Append(payload, address, std::strlen(address));
    uint32_t result =
        Request(pipe.Get(), updateboard::Open, payload) ? Result(pipe.Get()) : COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result != COMM_SUCCESS) return result;
    auto *link = new (std::nothrow) BoardLink;
    if (!link) return COMM_ERROR_NOT_ENOUGH_MEMORY;
    link->pipe = std::move(pipe);
    *handle = link;
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
    if (!Request(link->pipe.Get(), updateboard::Connect, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = Result(link->pipe.Get());
    uint32_t parameters[2] = {};
    if (!ReadAll(link->pipe.Get(), parameters, sizeof(parameters))) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result == COMM_SUCCESS) {
        link->maxPayload = parameters[0];
        link->hostOrder = parameters[1];
    }
    return result;
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    BoardLink *link = LinkOf(handle);
    if (!link) return COMM_ERROR_INVALID_HANDLE;
    if (!Request(link->pipe.Get(), updateboard::Disconnect, {})) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return Result(link->pipe.Get());
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
    if (!Request(link->pipe.Get(), updateboard::Send, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    return Result(link->pipe.Get());
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    BoardLink *link = LinkOf(handle);
    if (!link || !buffer || !length) return COMM_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    Append(payload, length, 4);
    if (!Request(link->pipe.Get(), updateboard::Receive, payload)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    uint32_t result = Result(link->pipe.Get());
    uint32_t replyLength = 0;
    if (!ReadAll(link->pipe.Get(), &replyLength, 4)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    std::vector<uint8_t> reply(replyLength);
    if (replyLength && !ReadAll(link->pipe.Get(), reply.data(), replyLength)) return COMM_ERROR_DEVICE_NOT_CONNECTED;
    if (result != COMM_SUCCESS) return result;
    if (replyLength > *length) return COMM_ERROR_MORE_DATA;
    std::memcpy(buffer, reply.data(), replyLength);
    *length = replyLength;
    if (channel) *channel = COMM_UPDATER_CHANNEL;
    if (subchannel) *subchannel = COMM_UPDATER_SUBCHANNEL;
    return COMM_SUCCESS;
}

}  // extern "C"
