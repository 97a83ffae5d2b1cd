// The Comm API exports of Communicator. The calls on a handle go to the handle
// table, which finds the handle among the open ones, counts the call on it while
// it runs, and swaps it for the transport's; the others go to the router client
// and to the router and device store.
#include "CommApi.h"
#include "LibraryEntry.h"

#include <new>

namespace {

// The calls that allocate: memory running out is their result 8, never an exception.
template <typename Call> CommResult WithoutThrowing(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

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
    return TheCommunicator().Handles().Forward(handle, &Transport::disconnect);
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    return TheCommunicator().Handles().Forward(handle, &Transport::getOption, option, value);
}

CommResult COMM_CALL CommSetOption(HCOMM handle, uint32_t option, const void *value) {
    return TheCommunicator().Handles().Forward(handle, &Transport::setOption, option, value);
}

CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                  uint32_t subchannel) {
    return TheCommunicator().Handles().Forward(handle, &Transport::sendData, data, length, channel, subchannel);
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    return TheCommunicator().Handles().Forward(handle, &Transport::receiveData, buffer, length, channel, subchannel);
}

CommResult COMM_CALL CommGetConnections(ConnectionRecord *records, uint32_t *count, const char *host, uint32_t port) {
    return WithoutThrowing([&] { return TheCommunicator().Client().GetConnections(records, count, host, port); });
}

CommResult COMM_CALL CommCloseConnection(uint32_t id1, uint32_t id2, const char *host, uint32_t port) {
    return WithoutThrowing([&] { return TheCommunicator().Client().CloseConnection(id1, id2, host, port); });
}

CommResult COMM_CALL CommAddDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort) {
    return WithoutThrowing([&] { return TheCommunicator().Devices().AddDevice(device, routerHost, routerPort); });
}

CommResult COMM_CALL CommRemoveDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort) {
    return WithoutThrowing([&] { return TheCommunicator().Devices().RemoveDevice(device, routerHost, routerPort); });
}

CommResult COMM_CALL CommGetDevices(DeviceRecord *records, uint32_t *count, const char *routerHost,
                                    uint32_t routerPort) {
    return WithoutThrowing(
        [&] { return TheCommunicator().Devices().GetDevices(records, count, routerHost, routerPort); });
}

CommResult COMM_CALL CommAddRouter(const char *host, uint32_t port) {
    return WithoutThrowing([&] { return TheCommunicator().Routers().AddRouter(host, port); });
}

// The port plays no part: the host alone names a stored router.
CommResult COMM_CALL CommRemoveRouter(const char *host, uint32_t /*port*/) {
    return WithoutThrowing([&] { return TheCommunicator().Routers().RemoveRouter(host); });
}

CommResult COMM_CALL CommGetRouters(RouterRecord *records, uint32_t *count) {
    return WithoutThrowing([&] { return TheCommunicator().Routers().GetRouters(records, count); });
}

}  // extern "C"
