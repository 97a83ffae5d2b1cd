#include "UpdatePacket.h"
#include <cstring>

namespace {

void Write16(uint8_t bytes[2], uint16_t value, BoardByteOrder order) {
    const uint8_t high = static_cast<uint8_t>(value >> 8), low = static_cast<uint8_t>(value);
    bytes[0] = order == BoardByteOrder::BigEndian ? high : low;
    bytes[1] = order == BoardByteOrder::BigEndian ? low : high;
}

void Write32(uint8_t bytes[4], uint32_t value, BoardByteOrder order) {
    for (int i = 0; i < 4; ++i) {
        const int shift = order == BoardByteOrder::BigEndian ? 8 * (3 - i) : 8 * i;
        bytes[i] = static_cast<uint8_t>(value >> shift);
    }
}

}  // namespace

void EncodeUpdatePacketHeader(UpdatePacketHeader &header, bool lastChunk, uint32_t length, uint32_t checksum,
                              BoardByteOrder order) {
    header.magic[0] = 'T';
    header.magic[1] = 'B';
    header.marker = kUpdatePacketMarker;
    header.type = kUpdatePacketTypeImageData;
    Write16(header.status, 0, order);
    Write16(header.last_flag, lastChunk ? 0xFFFFu : 0u, order);
    Write32(header.length, length, order);
    Write32(header.checksum, lastChunk ? checksum : 0u, order);
}

UpdateReplyVerdict JudgeUpdateReply(const uint8_t *bytes, size_t length, BoardByteOrder order, uint16_t &status) {
    status = 0;
    if (!bytes || length < sizeof(UpdatePacketHeader)) return UpdateReplyVerdict::Incomplete;
    UpdatePacketHeader reply;
    std::memcpy(&reply, bytes, sizeof(reply));
    status = DecodeReplyStatus(reply, order);
    return status == 0 ? UpdateReplyVerdict::Accepted : UpdateReplyVerdict::Refused;
}

uint16_t DecodeReplyStatus(const UpdatePacketHeader &reply, BoardByteOrder order) {
    const uint8_t first = reply.status[0], second = reply.status[1];
    return order == BoardByteOrder::BigEndian ? static_cast<uint16_t>(first << 8 | second)
                                              : static_cast<uint16_t>(second << 8 | first);
}

namespace {

bool RepeatsHeader(const UpdatePacketHeader &reply, const UpdatePacketHeader &packet) {
    return std::memcmp(reply.last_flag, packet.last_flag, sizeof(packet.last_flag)) == 0 &&
           std::memcmp(reply.length, packet.length, sizeof(packet.length)) == 0;
}

}  // namespace

ReplyMatcher::Match ReplyMatcher::Classify(const UpdatePacketHeader &reply, const UpdatePacketHeader &packet) {
    if (echo_ == Echo::Unknown)
        echo_ = std::memcmp(reply.length, packet.length, sizeof(packet.length)) == 0 ? Echo::Repeats : Echo::LeavesOut;
    if (echo_ == Echo::LeavesOut || RepeatsHeader(reply, packet)) return Match::ThisPacket;
    return haveEarlier_ && RepeatsHeader(reply, earlier_) ? Match::EarlierPacket : Match::NoPacketSent;
}

void ReplyMatcher::Answered(const UpdatePacketHeader &packet) {
    earlier_ = packet;
    haveEarlier_ = true;
}
