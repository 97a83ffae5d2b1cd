// The devices registered on this computer: one sub key of "Devices" per device,
// named from its display name, transport kind and port, holding "DisplayName",
// "Address", "Port", "Features" and, for a serial device added with the address
// "COM", copies of the default serial settings stored directly under "Devices".
// With a router given (HasRouter), the calls go to that router instead. Nothing
// is kept between calls: every call reads the store afresh through its own
// CHivekey. The calls throw std::bad_alloc when memory runs out.
#pragma once
#include "CommApi.h"
#include "RouterClient.h"

#include <cstdint>

class DeviceStore {
public:
    explicit DeviceStore(RouterClient &client) : client_(client) {}

    // CommAddDevice, CommRemoveDevice and CommGetDevices.
    CommResult AddDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort);
    CommResult RemoveDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort);
    CommResult GetDevices(DeviceRecord *records, std::uint32_t *count, const char *routerHost,
                          std::uint32_t routerPort);

private:
    RouterClient &client_;  // reaches the routers
};
