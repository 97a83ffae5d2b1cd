// Test support: records of the Comm API filled in as routers and the store hand them out.
#pragma once
#include "CommRecords.h"

#include <cstdint>
#include <cstring>
#include <string>

// A board's record; texts longer than a field are cut to it.
inline DeviceRecord Device(const std::string &name, const std::string &address, std::uint16_t port,
                           std::uint32_t features = 0) {
    DeviceRecord device{};
    std::strncpy(device.displayName, name.c_str(), COMM_TEXT_FIELD_SIZE - 1);
    std::strncpy(device.address, address.c_str(), COMM_TEXT_FIELD_SIZE - 1);
    device.port = port;
    device.features = features;
    return device;
}
