#include "LinkCodec.h"
#include <cstring>

namespace boardsim {

std::uint32_t ReadU32(const std::uint8_t *b, bool littleEndian) {
    if (littleEndian)
        return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
               static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return static_cast<std::uint32_t>(b[3]) | static_cast<std::uint32_t>(b[2]) << 8 |
           static_cast<std::uint32_t>(b[1]) << 16 | static_cast<std::uint32_t>(b[0]) << 24;
}

void WriteU32(std::uint8_t *b, std::uint32_t value, bool littleEndian) {
    for (int i = 0; i < 4; ++i) {
        std::uint8_t byte = static_cast<std::uint8_t>(value >> (8 * i));
        b[littleEndian ? i : 3 - i] = byte;
    }
}

std::uint16_t ReadU16(const std::uint8_t *b, bool littleEndian) {
    return littleEndian ? static_cast<std::uint16_t>(b[0] | b[1] << 8) : static_cast<std::uint16_t>(b[1] | b[0] << 8);
}

void WriteU16(std::uint8_t *b, std::uint16_t value, bool littleEndian) {
    std::uint8_t low = static_cast<std::uint8_t>(value), high = static_cast<std::uint8_t>(value >> 8);
    b[0] = littleEndian ? low : high;
    b[1] = littleEndian ? high : low;
}

std::uint8_t KindForLetter(std::uint8_t letter) {
    switch (letter) {
    case 'A': case 'C': case 'D': case 'Q': case 'T':
        return kKindRequest;
    case 'a': case 'c': case 'd': case 'n': case 't':
        return kKindAnswer;
    default:
        return 0;
    }
}

bool IsValidLinkHeader(const std::uint8_t *bytes) {
    if (bytes[0] != kKindRequest && bytes[0] != kKindAnswer) return false;
    static const char kLetters[] = "AanCcTtDde";
    return bytes[1] != 0 && std::memchr(kLetters, bytes[1], sizeof(kLetters) - 1) != nullptr;
}

LinkHeaderBytes EncodeLinkHeader(const LinkFrame &frame, bool littleEndian) {
    LinkHeaderBytes bytes{};
    bytes[0] = frame.kind;
    bytes[1] = frame.letter;
    bytes[2] = frame.channel;
    bytes[3] = frame.subchannel;
    WriteU32(&bytes[4], frame.sequence, littleEndian);
    WriteU32(&bytes[8], frame.length, littleEndian);
    return bytes;
}

LinkFrame DecodeLinkHeader(const std::uint8_t *bytes, bool littleEndian) {
    LinkFrame frame;
    frame.kind = bytes[0];
    frame.letter = bytes[1];
    frame.channel = bytes[2];
    frame.subchannel = bytes[3];
    frame.sequence = ReadU32(&bytes[4], littleEndian);
    frame.length = ReadU32(&bytes[8], littleEndian);
    return frame;
}

LinkHeaderBytes MakeDataHeader(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                               std::uint32_t length, bool littleEndian) {
    return EncodeLinkHeader({kKindRequest, 'A', channel, subchannel, sequence, length}, littleEndian);
}

LinkHeaderBytes MakeAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel,
                           std::uint32_t sequence, bool littleEndian) {
    return EncodeLinkHeader({kKindAnswer, letter, channel, subchannel, sequence, 0}, littleEndian);
}

LinkHeaderBytes MakeRepeatRequest(bool littleEndian) {
    return EncodeLinkHeader({kKindAnswer, 'e', 0, 0, 0, 0}, littleEndian);
}

LinkHeaderBytes MakeConnectReply(const LinkParameters &parameters, std::uint32_t maxPayload) {
    LinkHeaderBytes bytes{};
    bytes[0] = kKindAnswer;
    bytes[1] = 'c';
    bytes[4] = parameters.attempts;
    bytes[5] = parameters.packetTimeoutSeconds;
    bytes[6] = parameters.replyTimeoutSeconds;
    bytes[7] = parameters.linkFlags;
    WriteU32(&bytes[8], maxPayload, parameters.LittleEndian());
    return bytes;
}

std::vector<PacketSlice> SliceMessage(std::size_t length, std::uint32_t maxPayload) {
    std::vector<PacketSlice> slices;
    if (maxPayload == 0) maxPayload = 1;
    std::size_t offset = 0;
    std::uint32_t sequence = 1;
    do {
        std::size_t size = length - offset < maxPayload ? length - offset : maxPayload;
        slices.push_back({offset, size, sequence++});
        offset += size;
    } while (offset < length);
    slices.back().sequence = kLastSequence;
    return slices;
}

HostPacketFit MessageAssembler::Fit(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                                    const std::uint8_t *payload, std::size_t length) const {
    const bool atAnsweredAddress = channel == answeredChannel_ && subchannel == answeredSubchannel_;
    if (atAnsweredAddress && sequence == answeredSequence_) {
        if (sequence != kLastSequence) return HostPacketFit::AnsweredLost;
        const bool sameBytes = length == lastPayload_.size() &&
                               (length == 0 || std::memcmp(payload, lastPayload_.data(), length) == 0);
        return repeatExpected_ && sameBytes ? HostPacketFit::AnsweredLost : HostPacketFit::Expected;
    }
    if (sequence == 1 || sequence == kLastSequence) return HostPacketFit::Expected;
    return atAnsweredAddress && sequence == answeredSequence_ + 1 ? HostPacketFit::Expected : HostPacketFit::OutOfTurn;
}

MessageAssembler::Outcome MessageAssembler::Take(std::uint8_t channel, std::uint8_t subchannel,
                                                 std::uint32_t sequence, const std::uint8_t *payload,
                                                 std::size_t length) {
    Outcome outcome;
    outcome.fit = Fit(channel, subchannel, sequence, payload, length);
    repeatExpected_ = false;
    if (outcome.fit == HostPacketFit::OutOfTurn) return outcome;
    if (sequence == kLastSequence) lastPayload_.assign(payload, payload + length);
    answeredChannel_ = channel;
    answeredSubchannel_ = subchannel;
    answeredSequence_ = sequence;
    if (outcome.fit == HostPacketFit::AnsweredLost) return outcome;

    // A first packet starts a new message; what was collected before is lost.
    if (sequence == 1) partial_.clear();
    partial_.insert(partial_.end(), payload, payload + length);
    if (sequence == kLastSequence) {
        complete_.swap(partial_);
        partial_.clear();
        channel_ = channel;
        subchannel_ = subchannel;
        outcome.messageComplete = true;
    }
    return outcome;
}

std::vector<std::uint8_t> MessageAssembler::TakeMessage() {
    std::vector<std::uint8_t> message;
    message.swap(complete_);
    return message;
}

void MessageAssembler::ExpectRepeatOfLastPacket() { repeatExpected_ = true; }

void MessageAssembler::Reset() {
    repeatExpected_ = false;
    lastPayload_.clear();
    answeredChannel_ = 0;
    answeredSubchannel_ = 0;
    answeredSequence_ = kLastSequence;
    partial_.clear();
    complete_.clear();
}

}  // namespace boardsim
