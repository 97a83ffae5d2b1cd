// fuzz-sources: usbtransport/LinkHeader.cpp
// fuzz-includes: usbtransport
// Bytes from a board, read as the link reads them: 16-byte headers judged for validity, their
// fields taken in both byte orders, connect replies parsed, data headers judged by the sequence
// rule in the order they come. Checks that parsing and building agree and nothing reads beyond
// the header.
#include "LinkHeader.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace wirrow;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

const char kValidLetters[] = "AanCcTtDde";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // The first byte plays the link's flags (as a connect reply would have set them).
    const uint8_t linkFlags = data[0];
    const bool littleEndian = IsLittleEndianLink(linkFlags);
    data += 1;
    size -= 1;
    uint32_t lastSequence = kLastSequence;
    uint8_t lastChannel = 0;
    uint8_t lastSubchannel = 0;
    for (; size >= kHeaderSize; data += kHeaderSize, size -= kHeaderSize) {
        LinkHeader header;
        std::memcpy(&header, data, kHeaderSize);
        const bool valid = IsValidHeader(header);
        const bool kindOk = header.kind == 'S' || header.kind == 's';
        const bool letterOk = header.letter != 0 && std::memchr(kValidLetters, header.letter, 10) != nullptr;
        Require(valid == (kindOk && letterOk));

        const uint32_t sequence = ReadField(header.sequence, littleEndian);
        const uint32_t length = ReadField(header.length, littleEndian);
        // Both orders read the same four bytes, reversed.
        const uint32_t swapped = ReadField(header.sequence, !littleEndian);
        Require(swapped == __builtin_bswap32(sequence));
        uint8_t field[4];
        WriteField(field, sequence, littleEndian);
        Require(std::memcmp(field, header.sequence, 4) == 0);

        if (valid && header.letter == letters::kConnectReply) {
            const LinkParameters parameters = ParseConnectReply(header);
            Require(parameters.attempts == header.sequence[0]);
            Require(parameters.packetTimeout == header.sequence[1]);
            Require(parameters.replyTimeout == header.sequence[2]);
            Require(parameters.linkFlags == header.sequence[3]);
            Require(parameters.maxPayload == ReadField(header.length, IsLittleEndianLink(header.sequence[3])));
        }
        if (valid) {
            // What the host would build for the same letter, address and numbers carries the same bytes
            // in every field but the reserved one (and the kind, which the letter decides).
            const LinkHeader rebuilt =
                BuildHeader(header.letter, header.channel, header.subchannel, sequence, length, littleEndian);
            Require(rebuilt.letter == header.letter && rebuilt.channel == header.channel &&
                    rebuilt.subchannel == header.subchannel);
            Require(std::memcmp(rebuilt.sequence, header.sequence, 4) == 0);
            Require(std::memcmp(rebuilt.length, header.length, 4) == 0);
            Require(rebuilt.kind == KindForLetter(header.letter));
            const uint8_t reserved[4] = {0, 0, 0, 0};
            Require(std::memcmp(rebuilt.reserved, reserved, 4) == 0);
        }
        if (valid && header.letter == letters::kData && header.channel != 0 && header.subchannel != 0 &&
            sequence != 0) {
            const bool sameAddress = header.channel == lastChannel && header.subchannel == lastSubchannel;
            const SequenceVerdict verdict = JudgeSequence(sequence, lastSequence, sameAddress);
            Require(verdict == SequenceVerdict::Accept || verdict == SequenceVerdict::Duplicate ||
                    verdict == SequenceVerdict::Drop);
            // The last packet of a message is always delivered.
            if (sequence == kLastSequence) Require(verdict == SequenceVerdict::Accept);
            if (verdict != SequenceVerdict::Drop) {
                lastSequence = sequence;
                lastChannel = header.channel;
                lastSubchannel = header.subchannel;
            }
        }
    }
    return 0;
}
