// The 16-byte header that starts every packet between the host and a board,
// the letters that name packets, the byte order of the two 32-bit fields, and
// the rule by which the receiving side judges a data packet's sequence number.
// Pure logic: no OS calls, so every rule is tested directly.
#pragma once
#include <cstddef>
#include <cstdint>

namespace wirrow {

#pragma pack(push, 1)
struct LinkHeader {
    uint8_t kind;        // 'S' or 's'
    uint8_t letter;      // what the packet is
    uint8_t channel;     // first address byte
    uint8_t subchannel;  // second address byte
    uint8_t sequence[4]; // in the connect reply: the LinkParameters
    uint8_t length[4];   // in the connect reply: the board's maxPayload
    uint8_t reserved[4];
};
#pragma pack(pop)
static_assert(sizeof(LinkHeader) == 16, "LinkHeader is 16 bytes on the wire");
static_assert(offsetof(LinkHeader, letter) == 1, "letter at byte 1");
static_assert(offsetof(LinkHeader, channel) == 2, "channel at byte 2");
static_assert(offsetof(LinkHeader, subchannel) == 3, "subchannel at byte 3");
static_assert(offsetof(LinkHeader, sequence) == 4, "sequence at byte 4");
static_assert(offsetof(LinkHeader, length) == 8, "length at byte 8");
static_assert(offsetof(LinkHeader, reserved) == 12, "reserved at byte 12");

constexpr uint32_t kHeaderSize = sizeof(LinkHeader);
constexpr uint32_t kLastSequence = 0xFFFFFFFFu;   // the last packet of a message
constexpr uint8_t kUnansweredChannel = 0x4C;      // 'L': data on it is never acknowledged

namespace letters {
constexpr uint8_t kData = 'A';
constexpr uint8_t kAck = 'a';
constexpr uint8_t kRefuse = 'n';
constexpr uint8_t kConnect = 'C';
constexpr uint8_t kConnectReply = 'c';
constexpr uint8_t kRepeat = 'e';
}  // namespace letters

// Bits of the board's link flags.
constexpr uint8_t kFlagNoTimeouts = 0x01;
constexpr uint8_t kFlagLittleEndian = 0x10;

// 'S' for A, C, D, Q, T; 's' for a, c, d, n, t; 0 for any other letter.
uint8_t KindForLetter(uint8_t letter);

// A received header is valid when its kind is 's' or 'S' and its letter is one of "AanCcTtDde".
bool IsValidHeader(const LinkHeader &header);

// The 32-bit fields: network order unless the link's flags carry kFlagLittleEndian.
inline bool IsLittleEndianLink(uint8_t linkFlags) { return (linkFlags & kFlagLittleEndian) != 0; }
uint32_t ReadField(const uint8_t (&field)[4], bool littleEndian);
void WriteField(uint8_t (&field)[4], uint32_t value, bool littleEndian);

LinkHeader BuildHeader(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence, uint32_t length,
                       bool littleEndian);

// The standard connect request: 'S' 'C', address 0, sequence all ones, length 0 (reads the same in either order).
LinkHeader BuildConnectRequest();

// Bytes 4 to 7 of the connect reply, and its maxPayload in the order the reply's own flags set.
struct LinkParameters {
    uint8_t attempts;
    uint8_t packetTimeout;  // seconds
    uint8_t replyTimeout;   // seconds
    uint8_t linkFlags;
    uint32_t maxPayload;
};
LinkParameters ParseConnectReply(const LinkHeader &reply);

enum class SequenceVerdict { Accept, Duplicate, Drop };

// The receiving side's judgement on a data packet with sequence s, after the last accepted or
// acknowledged sequence p; sameAddress when channel and sub-channel both equal the last ones.
SequenceVerdict JudgeSequence(uint32_t s, uint32_t p, bool sameAddress);

// Cutting a message into packets: the payload size of the packet that starts `sent` bytes into a
// message of `length` bytes, and the sequence that packet carries given its running number.
inline uint32_t NextPayloadSize(uint32_t length, uint32_t sent, uint32_t maxPayload) {
    uint32_t left = length - sent;
    return left < maxPayload ? left : maxPayload;
}

}  // namespace wirrow
