// fuzz-sources: communicator/RouterCodec.cpp
// fuzz-includes: communicator include
// A router's result of closing a connection or adding or removing a device, and
// the notifications routers send: fixed fields, read only when received.
#include "RouterCodec.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint8_t> datagram(data, data + size);
    std::uint32_t result = 0x5A5A5A5Au;
    bool read = router::DecodeResultReply(datagram.data(), datagram.size(), &result);
    if (read != (size >= router::kResultReplySize)) std::abort();
    if (!read && result != 0x5A5A5A5Au) std::abort();
    std::uint8_t code = router::NoticeCodeOf(datagram.data(), datagram.size());
    if (size < router::kNoticeMinimumSize ? code != 0 : code != datagram[4]) std::abort();
    return 0;
}
