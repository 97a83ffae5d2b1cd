// The link header's layout, letters, byte order and the receiving side's sequence rule.
#include "LinkHeader.h"
#include <gtest/gtest.h>
#include <cstring>

using namespace wirrow;

#include <string>
#include <vector>

TEST(LinkHeaderLayout, DataHeaderInNetworkOrder) {
    LinkHeader header = BuildHeader('A', 0x42, 0x01, 1, 7232, false);
    const uint8_t expected[16] = {'S', 'A', 0x42, 0x01, 0, 0, 0, 1, 0, 0, 0x1C, 0x40, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&header, expected, 16));
}

TEST(LinkHeaderLayout, DataHeaderInLittleEndianOrder) {
    LinkHeader header = BuildHeader('A', 0x42, 0x01, 1, 7232, true);
    const uint8_t expected[16] = {'S', 'A', 0x42, 0x01, 1, 0, 0, 0, 0x40, 0x1C, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&header, expected, 16));
}

TEST(LinkHeaderLayout, AnswersCarryLowerCaseKindAndNoLength) {
    LinkHeader ack = BuildHeader('a', 1, 2, 0xFFFFFFFFu, 0, false);
    const uint8_t expected[16] = {'s', 'a', 1, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&ack, expected, 16));
    EXPECT_EQ('s', BuildHeader('n', 1, 2, 3, 0, false).kind);
}

TEST(LinkHeaderLayout, StandardConnectRequest) {
    const uint8_t expected[16] = {'S', 'C', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    LinkHeader request = BuildConnectRequest();
    EXPECT_EQ(0, std::memcmp(&request, expected, 16));
}

TEST(LinkHeaderLetters, KindsByLetter) {
    for (char letter : std::string("ACDQT")) EXPECT_EQ('S', KindForLetter(letter)) << letter;
    for (char letter : std::string("acdnt")) EXPECT_EQ('s', KindForLetter(letter)) << letter;
    for (char letter : std::string("eEbZ\x01")) EXPECT_EQ(0, KindForLetter(letter)) << letter;
}

TEST(LinkHeaderLetters, ValidityNeedsKindAndOneOfTenLetters) {
    LinkHeader header{};
    for (int kind = 0; kind < 256; ++kind)
        for (int letter = 0; letter < 256; ++letter) {
            header.kind = static_cast<uint8_t>(kind);
            header.letter = static_cast<uint8_t>(letter);
            const bool expected = (kind == 's' || kind == 'S') && letter != 0 &&
                                  std::string("AanCcTtDde").find(static_cast<char>(letter)) != std::string::npos;
            ASSERT_EQ(expected, IsValidHeader(header)) << kind << " " << letter;
        }
}

TEST(LinkHeaderByteOrder, FieldsRoundTripInBothOrders) {
    uint8_t field[4];
    WriteField(field, 0x01020304u, false);
    EXPECT_EQ(0, std::memcmp(field, "\x01\x02\x03\x04", 4));
    EXPECT_EQ(0x01020304u, ReadField(field, false));
    EXPECT_EQ(0x04030201u, ReadField(field, true));
    WriteField(field, 0x01020304u, true);
    EXPECT_EQ(0, std::memcmp(field, "\x04\x03\x02\x01", 4));
    EXPECT_EQ(0x01020304u, ReadField(field, true));
}

TEST(LinkHeaderByteOrder, ConnectReplyMaxPayloadFollowsItsOwnFlags) {
    LinkHeader reply{'s', 'c', 0, 0, {4, 2, 5, 0x10}, {0x00, 0x10, 0x00, 0x00}, {}};
    LinkParameters little = ParseConnectReply(reply);
    EXPECT_EQ(4096u, little.maxPayload);
    EXPECT_EQ(4, little.attempts);
    EXPECT_EQ(2, little.packetTimeout);
    EXPECT_EQ(5, little.replyTimeout);
    EXPECT_EQ(0x10, little.linkFlags);
    LinkHeader network{'s', 'c', 0, 0, {6, 1, 3, 0x00}, {0x00, 0x00, 0x10, 0x00}, {}};
    EXPECT_EQ(4096u, ParseConnectReply(network).maxPayload);
    network.sequence[3] = 0x01;  // bit 0 does not change the order
    EXPECT_EQ(4096u, ParseConnectReply(network).maxPayload);
}

TEST(SequenceRule, FirstPacketStartsAMessageUnlessRepeated) {
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(1, kLastSequence, true));
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(1, 5, true));
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(1, 1, false));
    EXPECT_EQ(SequenceVerdict::Duplicate, JudgeSequence(1, 1, true));
}

TEST(SequenceRule, LastPacketIsAlwaysAccepted) {
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(kLastSequence, kLastSequence, true));
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(kLastSequence, 7, false));
}

TEST(SequenceRule, FollowingPacketsNeedTheSameAddressAndOrder) {
    EXPECT_EQ(SequenceVerdict::Accept, JudgeSequence(2, 1, true));
    EXPECT_EQ(SequenceVerdict::Duplicate, JudgeSequence(2, 2, true));
    EXPECT_EQ(SequenceVerdict::Drop, JudgeSequence(3, 1, true));
    EXPECT_EQ(SequenceVerdict::Drop, JudgeSequence(2, 1, false));
    EXPECT_EQ(SequenceVerdict::Drop, JudgeSequence(2, 2, false));
}

TEST(Packetisation, FortyThousandBytesAtSixteenK) {
    const uint32_t length = 40000, maxPayload = 16384;
    std::vector<uint32_t> sizes;
    for (uint32_t sent = 0; sent < length;) {
        uint32_t size = NextPayloadSize(length, sent, maxPayload);
        sizes.push_back(size);
        sent += size;
    }
    EXPECT_EQ((std::vector<uint32_t>{16384, 16384, 7232}), sizes);
    EXPECT_EQ(100u, NextPayloadSize(100, 0, maxPayload));
}
