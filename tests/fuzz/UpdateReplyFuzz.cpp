// fuzz-sources: updater/UpdatePacket.cpp
// fuzz-includes: updater
// A board's reply to an update chunk, of any length and content, judged in both byte orders;
// and chunk headers built from the same bytes read back field by field.
#include "UpdatePacket.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

uint32_t Read32(const uint8_t bytes[4], BoardByteOrder order) {
    return order == BoardByteOrder::BigEndian
               ? uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3]
               : uint32_t(bytes[3]) << 24 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[1]) << 8 | bytes[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (BoardByteOrder order : {BoardByteOrder::BigEndian, BoardByteOrder::LittleEndian}) {
        uint16_t status = 0xFFFF;
        const UpdateReplyVerdict verdict = JudgeUpdateReply(data, size, order, status);
        if (size < kUpdatePacketHeaderSize) {
            Require(verdict == UpdateReplyVerdict::Incomplete && status == 0);
            continue;
        }
        const uint16_t expected = order == BoardByteOrder::BigEndian ? uint16_t(data[4] << 8 | data[5])
                                                                     : uint16_t(data[5] << 8 | data[4]);
        Require(status == expected);
        Require(verdict == (expected == 0 ? UpdateReplyVerdict::Accepted : UpdateReplyVerdict::Refused));

        // A chunk header made from the reply's numbers reads back the same.
        const uint32_t length = Read32(data + 8, order);
        const uint32_t checksum = Read32(data + 12, order);
        const bool last = (data[0] & 1) != 0;
        UpdatePacketHeader header;
        std::memset(&header, 0xA5, sizeof(header));
        EncodeUpdatePacketHeader(header, last, length, checksum, order);
        Require(header.magic[0] == 'T' && header.magic[1] == 'B' && header.marker == 0xFF && header.type == 1);
        Require(DecodeReplyStatus(header, order) == 0);
        Require(Read32(header.length, order) == length);
        Require(Read32(header.checksum, order) == (last ? checksum : 0));
        Require(header.last_flag[0] == (last ? 0xFF : 0) && header.last_flag[1] == (last ? 0xFF : 0));
    }
    return 0;
}
