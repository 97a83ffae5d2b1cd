// The 16-byte header in front of every image chunk the updater sends, and of the
// board's reply to it. The board states through COMM_OPT_HOST_ORDER in which
// byte order it reads status, last_flag, length and checksum.
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct UpdatePacketHeader {
    uint8_t magic[2];      // 'T', 'B'
    uint8_t marker;        // 0xFF
    uint8_t type;          // 1: image data
    uint8_t status[2];     // 0 from the updater; the board's error code in a reply
    uint8_t last_flag[2];  // 0xFFFF on the packet with the last chunk, else 0
    uint8_t length[4];     // payload bytes behind the header
    uint8_t checksum[4];   // last packet: sum of the whole payload; else 0
};
#pragma pack(pop)

static_assert(sizeof(UpdatePacketHeader) == 16, "UpdatePacketHeader is 16 bytes");
static_assert(offsetof(UpdatePacketHeader, magic) == 0, "magic at 0");
static_assert(offsetof(UpdatePacketHeader, marker) == 2, "marker at 2");
static_assert(offsetof(UpdatePacketHeader, type) == 3, "type at 3");
static_assert(offsetof(UpdatePacketHeader, status) == 4, "status at 4");
static_assert(offsetof(UpdatePacketHeader, last_flag) == 6, "last_flag at 6");
static_assert(offsetof(UpdatePacketHeader, length) == 8, "length at 8");
static_assert(offsetof(UpdatePacketHeader, checksum) == 12, "checksum at 12");

constexpr size_t kUpdatePacketHeaderSize = sizeof(UpdatePacketHeader);
constexpr uint8_t kUpdatePacketMarker = 0xFF;
constexpr uint8_t kUpdatePacketTypeImageData = 1;

enum class BoardByteOrder { BigEndian, LittleEndian };

// COMM_OPT_HOST_ORDER: non-zero means the board reads little-endian fields.
inline BoardByteOrder BoardByteOrderFromOption(uint32_t hostOrder) {
    return hostOrder != 0 ? BoardByteOrder::LittleEndian : BoardByteOrder::BigEndian;
}

// Writes the header of an image-data packet carrying `length` payload bytes.
// `checksum` goes out only on the last packet; every other packet carries 0.
void EncodeUpdatePacketHeader(UpdatePacketHeader &header, bool lastChunk, uint32_t length, uint32_t checksum,
                              BoardByteOrder order);

// The board's status from a reply (0: accepted).
uint16_t DecodeReplyStatus(const UpdatePacketHeader &reply, BoardByteOrder order);

// Which packet a board's reply belongs to. A board that repeats each packet's header in its reply
// (last_flag and length) shows it in its first reply; its later replies are then told apart: a
// copy of the reply before (the board sent one twice) is passed over, so that it is never taken
// for the next packet's reply, in particular for the last one's, which reports the flash written.
// The replies of a board that leaves those fields 0 all belong to the packet just sent.
class ReplyMatcher {
public:
    enum class Match { ThisPacket, EarlierPacket, NoPacketSent };
    // A reply received after `packet` was sent.
    Match Classify(const UpdatePacketHeader &reply, const UpdatePacketHeader &packet);
    // `packet`'s reply has been taken: from now on it is the packet before.
    void Answered(const UpdatePacketHeader &packet);

private:
    enum class Echo { Unknown, Repeats, LeavesOut };
    Echo echo_ = Echo::Unknown;
    bool haveEarlier_ = false;
    UpdatePacketHeader earlier_{};
};

// The board's reply to one chunk, as received: `length` bytes (the message's length, which may
// be shorter than a header). Incomplete when shorter than a header; otherwise Accepted when its
// status is 0 and Refused with the status in `status`.
enum class UpdateReplyVerdict { Accepted, Incomplete, Refused };
UpdateReplyVerdict JudgeUpdateReply(const uint8_t *bytes, size_t length, BoardByteOrder order, uint16_t &status);
