// fuzz-sources: communicator/RouterCodec.cpp
// fuzz-includes: communicator include
// A router's connection list: as the device list, with 22-byte entries and four
// texts each.
#include "RouterCodec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void CheckText(const char *field) {
    if (::strnlen(field, COMM_TEXT_FIELD_SIZE) > kMaxTextLength) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint8_t> datagram(data, data + size);
    std::size_t count = router::ConnectionListEntryCount(datagram.data(), datagram.size());
    if (count > 255 || (count > 0 && 5 + 22 * count > size)) std::abort();
    for (std::size_t index = 0; index < count; ++index) {
        ConnectionRecord connection = router::DecodeConnectionListEntry(datagram.data(), datagram.size(), index);
        CheckText(connection.nameA);
        CheckText(connection.addressA);
        CheckText(connection.nameB);
        CheckText(connection.addressB);
        if (connection.id1 != datagram[5 + 22 * index]) std::abort();
    }
    return 0;
}
