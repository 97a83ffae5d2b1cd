// The board's side of the USB link framing: 16-byte link headers, the connect
// reply, what the board expects next from the host and the cutting and joining of
// messages. Written on its own (not shared with the host transport) so that a slip
// on either side, in byte order or in numbering, shows up in tests instead of
// cancelling out.
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

// How a host data packet fits what the board expects next. A host sends a packet
// only once the one before it is answered, so after answering a packet the board
// expects that packet again (its answer went astray), the packet after it at the
// same address, or at any address the first or the last packet of a message (a
// host that gives up on a message starts the next one with either).
enum class HostPacketFit {
    Expected,      // taken, and answered
    AnsweredLost,  // the packet answered last, sent again: answered again, not taken twice
    OutOfTurn,     // anything else: neither taken nor answered
};

// Joins the packets of the host's messages as they fit what the board expects.
class MessageAssembler {
public:
    struct Outcome {
        HostPacketFit fit = HostPacketFit::OutOfTurn;
        bool messageComplete = false;
    };

    Outcome Take(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                 const std::uint8_t *payload, std::size_t length);

    // Valid after Take reported a complete message.
    std::uint8_t Channel() const { return channel_; }
    std::uint8_t Subchannel() const { return subchannel_; }
    std::vector<std::uint8_t> TakeMessage();

    // Called when the answer to the packet just taken never reached the host (or
    // came too late): the host will send that packet again. A last packet sent
    // again reads like a new one-packet message, so only after this call is it
    // recognised, by address, sequence and content, and answered without delivery.
    void ExpectRepeatOfLastPacket();

    // Forgets the packet answered last and any partial message (new connection).
    void Reset();

private:
    HostPacketFit Fit(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                      const std::uint8_t *payload, std::size_t length) const;

    // The packet the board answered last: what it expects next follows from it.
    std::uint8_t answeredChannel_ = 0;
    std::uint8_t answeredSubchannel_ = 0;
    std::uint32_t answeredSequence_ = kLastSequence;
    std::uint8_t channel_ = 0;
    std::uint8_t subchannel_ = 0;
    bool repeatExpected_ = false;
    std::vector<std::uint8_t> lastPayload_;
    std::vector<std::uint8_t> partial_;
    std::vector<std::uint8_t> complete_;
};

}  // namespace boardsim
