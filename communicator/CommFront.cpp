// The Comm API exports of Communicator. Each call on a handle is served by the
// transport library behind it; the handle table finds the handle among the open
// ones, counts the call on it while it runs, and swaps it for the transport's.
#include "CommApi.h"
#include "CommHandle.h"
#include "LibraryEntry.h"

#include <new>

extern "C" {

CommResult COMM_CALL CommOpen(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                              uint32_t routerPort) {
    return TheCommunicator().Handles().Open(address, reserved, handle, routerHost, routerPort);
}

CommResult COMM_CALL CommClose(HCOMM handle) { return TheCommunicator().Handles().Close(handle); }

CommResult COMM_CALL CommConnect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request,
                                 void *reply) {
    return TheCommunicator().Handles().Connect(handle, channel, subchannel, request, reply);
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    return TheCommunicator().Handles().OnRecord(
        handle, [&](CommHandle &record) { return record.transport->disconnect(record.transportHandle); });
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    return TheCommunicator().Handles().OnRecord(handle, [&](CommHandle &record) {
        return record.transport->getOption(record.transportHandle, option, value);
    });
}

CommResult COMM_CALL CommSetOption(HCOMM handle, uint32_t option, const void *value) {
    return TheCommunicator().Handles().OnRecord(handle, [&](CommHandle &record) {
        return record.transport->setOption(record.transportHandle, option, value);
    });
}

CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                  uint32_t subchannel) {
    return TheCommunicator().Handles().OnRecord(handle, [&](CommHandle &record) {
        return record.transport->sendData(record.transportHandle, data, length, channel, subchannel);
    });
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    return TheCommunicator().Handles().OnRecord(handle, [&](CommHandle &record) {
        return record.transport->receiveData(record.transportHandle, buffer, length, channel, subchannel);
    });
}

CommResult COMM_CALL CommGetConnections(ConnectionRecord *records, uint32_t *count, const char *host, uint32_t port) {
    try {
        return TheCommunicator().GetConnections(records, count, host, port);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommCloseConnection(uint32_t id1, uint32_t id2, const char *host, uint32_t port) {
    try {
        return TheCommunicator().CloseConnection(id1, id2, host, port);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommAddDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort) {
    try {
        return TheCommunicator().AddDevice(device, routerHost, routerPort);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommRemoveDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort) {
    try {
        return TheCommunicator().RemoveDevice(device, routerHost, routerPort);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommGetDevices(DeviceRecord *records, uint32_t *count, const char *routerHost,
                                    uint32_t routerPort) {
    try {
        return TheCommunicator().GetDevices(records, count, routerHost, routerPort);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommAddRouter(const char *host, uint32_t port) {
    try {
        return TheCommunicator().AddRouter(host, port);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

// The port plays no part: the host alone names a stored router.
CommResult COMM_CALL CommRemoveRouter(const char *host, uint32_t /*port*/) {
    try {
        return TheCommunicator().RemoveRouter(host);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

CommResult COMM_CALL CommGetRouters(RouterRecord *records, uint32_t *count) {
    try {
        return TheCommunicator().GetRouters(records, count);
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // extern "C"
