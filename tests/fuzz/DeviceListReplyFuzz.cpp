// fuzz-sources: communicator/RouterCodec.cpp
// fuzz-includes: communicator include
// A router's device list: entries are read only while they lie wholly inside
// the datagram, and every text is zero-terminated within its field.
#include "RouterCodec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint8_t> datagram(data, data + size);
    std::size_t count = router::DeviceListEntryCount(datagram.data(), datagram.size());
    if (count > 255 || (count > 0 && 5 + 16 * count > size)) std::abort();
    std::vector<DeviceRecord> devices;
    router::AppendDeviceList(datagram.data(), datagram.size(), &devices);
    if (devices.size() != count) std::abort();
    for (const DeviceRecord &device : devices) {
        if (::strnlen(device.displayName, sizeof(device.displayName)) > kMaxTextLength) std::abort();
        if (::strnlen(device.address, sizeof(device.address)) > kMaxTextLength) std::abort();
    }
    return 0;
}
