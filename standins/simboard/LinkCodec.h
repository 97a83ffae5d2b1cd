// The board's side of the USB link framing: 16-byte link headers, the connect
// reply, the sequence rule and the cutting and joining of messages. Written on
// its own (not shared with the host transport) so that a byte-order slip on
// either side shows up in tests instead of cancelling out.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace boardsim {

constexpr std::size_t kLinkHeaderSize = 16;
using LinkHeaderBytes = std::array<std::uint8_t, kLinkHeaderSize>;

constexpr std::uint8_t kKindRequest = 'S';
constexpr std::uint8_t kKindAnswer = 's';
constexpr std::uint32_t kLastSequence = 0xFFFFFFFFu;
constexpr std::uint8_t kSilentChannel = 'L';  // data on this channel is never answered by a host

// Bits of the link flags stated in the connect reply.
constexpr std::uint8_t kLinkFlagNoTimeouts = 0x01;
constexpr std::uint8_t kLinkFlagLittleEndian = 0x10;

// Bytes 4..7 of the connect reply.
struct LinkParameters {
    std::uint8_t attempts = 6;
    std::uint8_t packetTimeoutSeconds = 1;
    std::uint8_t replyTimeoutSeconds = 3;
    std::uint8_t linkFlags = kLinkFlagLittleEndian;

    bool LittleEndian() const { return (linkFlags & kLinkFlagLittleEndian) != 0; }
};

// A decoded link header. sequence and length are host values.
struct LinkFrame {
    std::uint8_t kind = 0;
    std::uint8_t letter = 0;
    std::uint8_t channel = 0;
    std::uint8_t subchannel = 0;
    std::uint32_t sequence = 0;
    std::uint32_t length = 0;
};

std::uint32_t ReadU32(const std::uint8_t *bytes, bool littleEndian);
void WriteU32(std::uint8_t *bytes, std::uint32_t value, bool littleEndian);
std::uint16_t ReadU16(const std::uint8_t *bytes, bool littleEndian);
void WriteU16(std::uint8_t *bytes, std::uint16_t value, bool littleEndian);

// 'S' for A C D Q T, 's' for a c d n t, 0 for anything else.
std::uint8_t KindForLetter(std::uint8_t letter);

// Valid: kind 's' or 'S' and a letter of "AanCcTtDde".
bool IsValidLinkHeader(const std::uint8_t *bytes);

LinkHeaderBytes EncodeLinkHeader(const LinkFrame &frame, bool littleEndian);
LinkFrame DecodeLinkHeader(const std::uint8_t *bytes, bool littleEndian);

// Header of a data packet, an answer ('a', 'n') or a repeat request ('e').
LinkHeaderBytes MakeDataHeader(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                               std::uint32_t length, bool littleEndian);
LinkHeaderBytes MakeAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel,
                           std::uint32_t sequence, bool littleEndian);
LinkHeaderBytes MakeRepeatRequest(bool littleEndian);

// 's','c', the parameters in bytes 4..7 and maxPayload in bytes 8..11, in the
// order that the reply's own flags state.
LinkHeaderBytes MakeConnectReply(const LinkParameters &parameters, std::uint32_t maxPayload);

enum class SequenceVerdict { Accept, Duplicate, Drop };

// Judges a data packet with sequence s after the last taken sequence p.
SequenceVerdict JudgeSequence(std::uint32_t s, std::uint32_t p, bool sameAddress);

// One packet of a message being sent: its bytes and its sequence number.
struct PacketSlice {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::uint32_t sequence = 0;
};

// Cuts a message of `length` bytes into packets of at most maxPayload bytes,
// numbered 1, 2, ... with the last one numbered 0xFFFFFFFF. An empty message is
// one empty packet.
std::vector<PacketSlice> SliceMessage(std::size_t length, std::uint32_t maxPayload);

// Joins the packets of the host's messages, applying the sequence rule. The
// caller answers 'a' for Accept and Duplicate and nothing for Drop.
class MessageAssembler {
public:
    struct Outcome {
        SequenceVerdict verdict = SequenceVerdict::Drop;
        bool messageComplete = false;
    };

    Outcome Take(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                 const std::uint8_t *payload, std::size_t length);

    // Valid after Take reported a complete message.
    std::uint8_t Channel() const { return channel_; }
    std::uint8_t Subchannel() const { return subchannel_; }
    std::vector<std::uint8_t> TakeMessage();

    // Called when the answer to the packet just taken never reached the host (or
    // came too late): the host will send that packet again. A last packet
    // (0xFFFFFFFF) passes the sequence rule again, so its repeat is recognised
    // here by address, sequence and content and answered without delivery.
    void ExpectRepeatOfLastPacket();

    // Forgets the last sequence and any partial message (new connection).
    void Reset();

private:
    std::uint32_t lastSequence_ = kLastSequence;
    std::uint8_t lastChannel_ = 0;
    std::uint8_t lastSubchannel_ = 0;
    std::uint8_t channel_ = 0;
    std::uint8_t subchannel_ = 0;
    bool repeatExpected_ = false;
    std::vector<std::uint8_t> lastPayload_;
    std::vector<std::uint8_t> partial_;
    std::vector<std::uint8_t> complete_;
};

}  // namespace boardsim
