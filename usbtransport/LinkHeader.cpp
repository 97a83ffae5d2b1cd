#include "LinkHeader.h"
#include <cstring>

namespace wirrow {

uint8_t KindForLetter(uint8_t letter) {
    switch (letter) {
    case 'A': case 'C': case 'D': case 'Q': case 'T':
        return 'S';
    case 'a': case 'c': case 'd': case 'n': case 't':
        return 's';
    default:
        return 0;
    }
}

bool IsValidHeader(const LinkHeader &header) {
    if (header.kind != 's' && header.kind != 'S') return false;
    static const char kLetters[] = "AanCcTtDde";
    return header.letter != 0 && std::memchr(kLetters, header.letter, sizeof(kLetters) - 1) != nullptr;
}

uint32_t ReadField(const uint8_t (&field)[4], bool littleEndian) {
    if (littleEndian)
        return static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
               static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    return static_cast<uint32_t>(field[3]) | static_cast<uint32_t>(field[2]) << 8 |
           static_cast<uint32_t>(field[1]) << 16 | static_cast<uint32_t>(field[0]) << 24;
}

void WriteField(uint8_t (&field)[4], uint32_t value, bool littleEndian) {
    for (int i = 0; i < 4; ++i) {
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        field[littleEndian ? i : 3 - i] = byte;
    }
}

LinkHeader BuildHeader(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence, uint32_t length,
                       bool littleEndian) {
    LinkHeader header{};
    header.kind = KindForLetter(letter);
    header.letter = letter;
    header.channel = channel;
    header.subchannel = subchannel;
    WriteField(header.sequence, sequence, littleEndian);
    WriteField(header.length, length, littleEndian);
    return header;
}

LinkHeader BuildConnectRequest() { return BuildHeader(letters::kConnect, 0, 0, kLastSequence, 0, false); }

LinkParameters ParseConnectReply(const LinkHeader &reply) {
    LinkParameters parameters{};
    parameters.attempts = reply.sequence[0];
    parameters.packetTimeout = reply.sequence[1];
    parameters.replyTimeout = reply.sequence[2];
    parameters.linkFlags = reply.sequence[3];
    parameters.maxPayload = ReadField(reply.length, IsLittleEndianLink(parameters.linkFlags));
    return parameters;
}

SequenceVerdict JudgeSequence(uint32_t s, uint32_t p, bool sameAddress) {
    if (s == 1) return (p == 1 && sameAddress) ? SequenceVerdict::Duplicate : SequenceVerdict::Accept;
    if (s == kLastSequence) return SequenceVerdict::Accept;
    if (!sameAddress) return SequenceVerdict::Drop;
    if (s == p) return SequenceVerdict::Duplicate;
    if (s == p + 1) return SequenceVerdict::Accept;
    return SequenceVerdict::Drop;
}

}  // namespace wirrow
