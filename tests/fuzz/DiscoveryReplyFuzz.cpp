// fuzz-sources: communicator/RouterCodec.cpp
// fuzz-includes: communicator include
// A router's answer to a discovery broadcast: any datagram, read only within
// its bytes, gives zero-terminated texts of at most 259 characters.
#include "RouterCodec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint8_t> datagram(data, data + size);  // exactly the bytes received
    RouterRecord router;
    std::memset(&router, 0xA5, sizeof(router));
    if (!router::DecodeDiscoveryReply(datagram.data(), datagram.size(), &router)) {
        if (size >= 6) std::abort();
        return 0;
    }
    if (::strnlen(router.name, sizeof(router.name)) > kMaxTextLength) std::abort();
    if (::strnlen(router.address, sizeof(router.address)) > kMaxTextLength) std::abort();
    if (router.port != router::ReadLe16(datagram.data() + 4)) std::abort();
    return 0;
}
