// Test support: the committed private memory of this process, counted region by
// region (Wine reports no PrivateUsage of its own).
#pragma once
#include <windows.h>

#include <cstdint>

inline std::uint64_t CommittedPrivateBytes() {
    std::uint64_t bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char *at = nullptr; ::VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const char *>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return bytes;
}
