// The board's link framing, byte for byte.
#include "LinkCodec.h"
#include <gtest/gtest.h>
#include <vector>

using namespace boardsim;

namespace {
std::vector<std::uint8_t> Bytes(const LinkHeaderBytes &h) { return {h.begin(), h.end()}; }
}  // namespace

TEST(LinkCodec, DataHeaderSequenceOneInBothOrders) {
    EXPECT_EQ((std::vector<std::uint8_t>{'S', 'A', 66, 1, 0, 0, 0, 1, 0, 0, 0x03, 0xF0, 0, 0, 0, 0}),
              Bytes(MakeDataHeader(66, 1, 1, 1008, false)));
    EXPECT_EQ((std::vector<std::uint8_t>{'S', 'A', 66, 1, 1, 0, 0, 0, 0xF0, 0x03, 0, 0, 0, 0, 0, 0}),
              Bytes(MakeDataHeader(66, 1, 1, 1008, true)));
}

TEST(LinkCodec, AnswersCarryLowerCaseKindAndNoLength) {
    EXPECT_EQ((std::vector<std::uint8_t>{'s', 'n', 7, 9, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0, 0, 0, 0, 0}),
              Bytes(MakeAnswer('n', 7, 9, 0x12345678, false)));
    EXPECT_EQ((std::vector<std::uint8_t>{'s', 'a', 7, 9, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}),
              Bytes(MakeAnswer('a', 7, 9, 0x12345678, true)));
    EXPECT_EQ('s', MakeRepeatRequest(true)[0]);
    EXPECT_EQ('e', MakeRepeatRequest(true)[1]);
}

TEST(LinkCodec, ConnectReplyLengthFollowsItsOwnFlags) {
    LinkParameters little{6, 1, 3, 0x10};
    EXPECT_EQ((std::vector<std::uint8_t>{'s', 'c', 0, 0, 6, 1, 3, 0x10, 0x00, 0x10, 0x00, 0x00, 0, 0, 0, 0}),
              Bytes(MakeConnectReply(little, 4096)));
    LinkParameters big{4, 2, 5, 0x00};
    EXPECT_EQ((std::vector<std::uint8_t>{'s', 'c', 0, 0, 4, 2, 5, 0x00, 0x00, 0x00, 0x10, 0x00, 0, 0, 0, 0}),
              Bytes(MakeConnectReply(big, 4096)));
}

TEST(LinkCodec, DecodeReadsWhatEncodeWrote) {
    for (bool le : {false, true}) {
        LinkFrame frame{'S', 'A', 0x42, 0x01, 0xA1B2C3D4, 0x00010203};
        LinkHeaderBytes bytes = EncodeLinkHeader(frame, le);
        LinkFrame back = DecodeLinkHeader(bytes.data(), le);
        EXPECT_EQ(frame.sequence, back.sequence);
        EXPECT_EQ(frame.length, back.length);
        EXPECT_EQ(frame.channel, back.channel);
        // Read in the other order the numbers differ: the order matters.
        EXPECT_NE(frame.sequence, DecodeLinkHeader(bytes.data(), !le).sequence);
    }
}

TEST(LinkCodec, ValidHeadersNeedKindAndKnownLetter) {
    for (char letter : std::string("AanCcTtDde")) {
        std::uint8_t bytes[16] = {'S', static_cast<std::uint8_t>(letter)};
        EXPECT_TRUE(IsValidLinkHeader(bytes)) << letter;
        bytes[0] = 's';
        EXPECT_TRUE(IsValidLinkHeader(bytes)) << letter;
        bytes[0] = 'X';
        EXPECT_FALSE(IsValidLinkHeader(bytes)) << letter;
    }
    std::uint8_t unknown[16] = {'S', 'Q'};
    EXPECT_FALSE(IsValidLinkHeader(unknown));
    std::uint8_t zero[16] = {'S', 0};
    EXPECT_FALSE(IsValidLinkHeader(zero));
    EXPECT_EQ('S', KindForLetter('Q'));
    EXPECT_EQ('s', KindForLetter('n'));
    EXPECT_EQ(0, KindForLetter('e'));
}

TEST(LinkCodec, SliceMessage) {
    auto slices = SliceMessage(40000, 16384);
    ASSERT_EQ(3u, slices.size());
    EXPECT_EQ(1u, slices[0].sequence);
    EXPECT_EQ(16384u, slices[0].size);
    EXPECT_EQ(2u, slices[1].sequence);
    EXPECT_EQ(16384u, slices[1].offset);
    EXPECT_EQ(kLastSequence, slices[2].sequence);
    EXPECT_EQ(7232u, slices[2].size);
    slices = SliceMessage(100, 16384);
    ASSERT_EQ(1u, slices.size());
    EXPECT_EQ(kLastSequence, slices[0].sequence);
    slices = SliceMessage(0, 16);
    ASSERT_EQ(1u, slices.size());
    EXPECT_EQ(0u, slices[0].size);
    slices = SliceMessage(32, 16);  // exact multiple: no empty tail packet
    ASSERT_EQ(2u, slices.size());
    EXPECT_EQ(kLastSequence, slices[1].sequence);
}

// After answering one packet, how the board takes the next one the host sends.
TEST(MessageAssembler, TheNextPacketFitsWhatTheBoardExpectsAfterTheOneItAnswered) {
    struct Case {
        const char *what;
        std::uint8_t channel;
        std::uint32_t sequence;
        HostPacketFit fit;
    };
    // The board has answered packets 1 to 3 of a message at channel 9 (sub-channel 1).
    const Case cases[] = {
        {"the packet after it", 9, 4, HostPacketFit::Expected},
        {"the last packet of the message", 9, kLastSequence, HostPacketFit::Expected},
        {"the same packet again: its answer went astray", 9, 3, HostPacketFit::AnsweredLost},
        {"an earlier packet of the message", 9, 2, HostPacketFit::OutOfTurn},
        {"a packet skipped", 9, 5, HostPacketFit::OutOfTurn},
        {"a new message at the same address", 9, 1, HostPacketFit::Expected},
        {"a new message at another address", 8, 1, HostPacketFit::Expected},
        {"a one-packet message at another address", 8, kLastSequence, HostPacketFit::Expected},
        {"the packet after it, at another address", 8, 4, HostPacketFit::OutOfTurn},
        {"the same number at another address", 8, 3, HostPacketFit::OutOfTurn},
    };
    const std::uint8_t bytes[] = {1, 2};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        MessageAssembler assembler;
        for (std::uint32_t answered = 1; answered <= 3; ++answered)
            ASSERT_EQ(HostPacketFit::Expected, assembler.Take(9, 1, answered, bytes, 2).fit);
        const MessageAssembler::Outcome outcome = assembler.Take(c.channel, 1, c.sequence, bytes, 2);
        EXPECT_EQ(c.fit, outcome.fit);
        // Only the last packet of a message that the board has whole completes it.
        EXPECT_EQ(c.fit == HostPacketFit::Expected && c.sequence == kLastSequence, outcome.messageComplete);
    }
}

TEST(MessageAssembler, AfterAnsweringTheFirstPacketItsRepeatIsNotTakenTwice) {
    MessageAssembler assembler;
    const std::uint8_t a[] = {1, 2, 3}, b[] = {4};
    ASSERT_EQ(HostPacketFit::Expected, assembler.Take(9, 1, 1, a, 3).fit);
    EXPECT_EQ(HostPacketFit::AnsweredLost, assembler.Take(9, 1, 1, a, 3).fit);
    EXPECT_EQ(HostPacketFit::Expected, assembler.Take(7, 1, 1, b, 1).fit) << "another address starts afresh";
    EXPECT_EQ(HostPacketFit::OutOfTurn, assembler.Take(9, 1, 2, b, 1).fit) << "the message at 9 was left";
}

TEST(MessageAssembler, AFreshBoardTakesOnlyTheStartOrTheEndOfAMessage) {
    const std::uint8_t a[] = {1};
    for (std::uint32_t sequence : {1u, kLastSequence}) {
        MessageAssembler assembler;
        EXPECT_EQ(HostPacketFit::Expected, assembler.Take(66, 1, sequence, a, 1).fit) << sequence;
    }
    MessageAssembler assembler;
    EXPECT_EQ(HostPacketFit::OutOfTurn, assembler.Take(66, 1, 2, a, 1).fit);
    assembler.Take(66, 1, 1, a, 1);
    assembler.Reset();
    EXPECT_EQ(HostPacketFit::OutOfTurn, assembler.Take(66, 1, 2, a, 1).fit) << "a new connection forgets the packet";
}

TEST(MessageAssembler, JoinsPacketsAndAcknowledgesRepeatsOnce) {
    MessageAssembler assembler;
    const std::uint8_t a[] = {1, 2, 3}, b[] = {4, 5}, c[] = {6};
    EXPECT_FALSE(assembler.Take(9, 1, 1, a, 3).messageComplete);
    auto repeat = assembler.Take(9, 1, 1, a, 3);
    EXPECT_EQ(HostPacketFit::AnsweredLost, repeat.fit);
    EXPECT_EQ(HostPacketFit::Expected, assembler.Take(9, 1, 2, b, 2).fit);
    EXPECT_EQ(HostPacketFit::AnsweredLost, assembler.Take(9, 1, 2, b, 2).fit);
    EXPECT_EQ(HostPacketFit::OutOfTurn, assembler.Take(9, 1, 4, c, 1).fit);
    auto last = assembler.Take(9, 1, kLastSequence, c, 1);
    ASSERT_TRUE(last.messageComplete);
    EXPECT_EQ(9, assembler.Channel());
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}), assembler.TakeMessage());
}

TEST(MessageAssembler, RepeatOfLastPacketAfterLostAnswerIsNotDeliveredTwice) {
    MessageAssembler assembler;
    const std::uint8_t chunk[] = {7, 7}, other[] = {7, 8};
    ASSERT_TRUE(assembler.Take(66, 1, kLastSequence, chunk, 2).messageComplete);
    assembler.TakeMessage();
    assembler.ExpectRepeatOfLastPacket();
    auto repeat = assembler.Take(66, 1, kLastSequence, chunk, 2);
    EXPECT_EQ(HostPacketFit::AnsweredLost, repeat.fit);
    EXPECT_FALSE(repeat.messageComplete);
    // Without a lost answer the same packet is a new message.
    EXPECT_TRUE(assembler.Take(66, 1, kLastSequence, chunk, 2).messageComplete);
    assembler.TakeMessage();
    // With one, other bytes are a new message all the same.
    assembler.ExpectRepeatOfLastPacket();
    EXPECT_TRUE(assembler.Take(66, 1, kLastSequence, other, 2).messageComplete);
}

TEST(MessageAssembler, NewFirstPacketDropsPartialMessage) {
    MessageAssembler assembler;
    const std::uint8_t a[] = {1}, b[] = {2};
    assembler.Take(5, 5, 1, a, 1);
    assembler.Take(5, 6, 1, b, 1);
    ASSERT_TRUE(assembler.Take(5, 6, kLastSequence, b, 1).messageComplete);
    EXPECT_EQ((std::vector<std::uint8_t>{2, 2}), assembler.TakeMessage());
}
