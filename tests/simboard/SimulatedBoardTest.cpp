// The simulated board driven through its interface path by a raw host.
#include "Payloads.h"
#include "RawHost.h"
#include "SimulatedBoard.h"
#include "UniqueName.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using boardsim::BoardConfig;
using boardsim::BoardEventKind;
using boardsim::SimulatedBoard;
using rawhost::Get16;
using rawhost::Get32;
using rawhost::Header;
using rawhost::Host;

namespace {

constexpr DWORD kWait = 5000;

class BoardTest : public ::testing::Test {
protected:
    // Starts a board with the given settings, opens it and connects.
    void StartBoard(BoardConfig config, bool connect = true) {
        config.instance = UniqueName("sbtest");
        board_ = std::make_unique<SimulatedBoard>(config);
        ASSERT_EQ(0u, board_->Start());
        le_ = config.link.LittleEndian();
        ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
        if (connect) {
            Header reply;
            ASSERT_EQ(0u, host_.Connect(&reply));
            ASSERT_EQ('c', reply.Letter());
        }
    }
    void TearDown() override {
        host_.Close();
        if (board_) board_->Stop();
    }
    std::size_t Count(BoardEventKind kind) const {
        std::size_t n = 0;
        for (const auto &e : board_->Events()) n += e.kind == kind;
        return n;
    }

    std::unique_ptr<SimulatedBoard> board_;
    Host host_;
    bool le_ = true;
};

BoardConfig Config(std::uint8_t flags, std::uint32_t maxPayload = 16384) {
    BoardConfig config;
    config.link = {6, 1, 3, flags};
    config.maxPayload = maxPayload;
    return config;
}

}  // namespace

// ------------------------------------------------------------ presence and connect

TEST_F(BoardTest, PathOpensOnceLikeADeviceHeldElsewhere) {
    StartBoard(Config(0x10), false);
    Host second;
    EXPECT_NE(0u, second.Open(board_->InterfacePath()));
    EXPECT_TRUE(board_->WaitClientConnected(kWait));
}

TEST_F(BoardTest, ConnectReplyLittleEndian) {
    BoardConfig config = Config(0x10, 4096);
    config.link = {6, 1, 3, 0x10};
    StartBoard(config, false);
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    const std::uint8_t expected[16] = {'s', 'c', 0, 0, 6, 1, 3, 0x10, 0x00, 0x10, 0x00, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, reply.bytes, 16));
    EXPECT_TRUE(board_->WaitLinkUp(kWait));
}

TEST_F(BoardTest, ConnectReplyBigEndianWithOwnParameters) {
    BoardConfig config = Config(0x00, 4096);
    config.link = {4, 2, 5, 0x00};
    StartBoard(config, false);
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    const std::uint8_t expected[16] = {'s', 'c', 0, 0, 4, 2, 5, 0x00, 0x00, 0x00, 0x10, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, reply.bytes, 16));
}

TEST_F(BoardTest, NoTimeoutFlagIsStatedAsGiven) {
    StartBoard(Config(0x11, 512), false);
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    EXPECT_EQ(0x11, reply.bytes[7]);
    EXPECT_EQ(512u, Get32(reply.bytes + 8, true));
}

TEST_F(BoardTest, InvalidHeadersAreSkippedWhole) {
    StartBoard(Config(0x10), false);
    std::uint8_t junk[16];
    memset(junk, 0x5A, sizeof(junk));
    ASSERT_EQ(0u, host_.Write(junk, sizeof(junk)));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    EXPECT_EQ('c', reply.Letter());
}

// ------------------------------------------------------------ host data

class BoardOrderTest : public BoardTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(BoardOrderTest, EachHostPacketAnsweredAndMessageJoined) {
    StartBoard(Config(GetParam(), 16));
    std::vector<std::uint8_t> message = PatternPayload(40);
    const std::uint32_t sequences[3] = {1, 2, 0xFFFFFFFFu};
    for (int i = 0; i < 3; ++i) {
        std::vector<std::uint8_t> part(message.begin() + i * 16, message.begin() + std::min(40, (i + 1) * 16));
        ASSERT_EQ(0u, host_.SendData(9, 4, sequences[i], part, le_));
        Header answer;
        ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
        EXPECT_EQ('s', answer.Kind());
        EXPECT_EQ('a', answer.Letter());
        EXPECT_EQ(9, answer.Channel());
        EXPECT_EQ(4, answer.Subchannel());
        EXPECT_EQ(sequences[i], answer.Sequence(le_));
        EXPECT_EQ(0u, answer.Length(le_));
    }
    // Sequence 1 on the wire in the board's order.
    boardsim::HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    EXPECT_EQ(9, got.channel);
    EXPECT_EQ(4, got.subchannel);
    EXPECT_EQ(message, got.data);
}

TEST_P(BoardOrderTest, SequenceOneTravelsInTheStatedOrder) {
    StartBoard(Config(GetParam(), 16));
    ASSERT_EQ(0u, host_.SendData(9, 4, 1, PatternPayload(4), le_));
    Header answer;
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    const std::uint8_t little[4] = {1, 0, 0, 0}, big[4] = {0, 0, 0, 1};
    EXPECT_EQ(0, memcmp(le_ ? little : big, answer.bytes + 4, 4));
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, BoardOrderTest, ::testing::Values(0x00, 0x10));

TEST_F(BoardTest, RepeatedPacketAcknowledgedAgainDeliveredOnce) {
    StartBoard(Config(0x10, 16));
    std::vector<std::uint8_t> a = PatternPayload(16, 1), b = PatternPayload(16, 2), c = PatternPayload(3, 3);
    Header answer;
    ASSERT_EQ(0u, host_.SendData(5, 1, 1, a, true));
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    ASSERT_EQ(0u, host_.SendData(5, 1, 2, b, true));
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    ASSERT_EQ(0u, host_.SendData(5, 1, 2, b, true));  // answer lost on the way, say
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('a', answer.Letter());
    EXPECT_EQ(2u, answer.Sequence(true));
    // A gap (4 after 2) gets no answer: the next answer read is the last packet's.
    ASSERT_EQ(0u, host_.SendData(5, 1, 4, c, true));
    ASSERT_EQ(0u, host_.SendData(5, 1, 0xFFFFFFFFu, c, true));
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ(0xFFFFFFFFu, answer.Sequence(true));
    boardsim::HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    std::vector<std::uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), c.begin(), c.end());
    EXPECT_EQ(expected, got.data);
}

TEST_F(BoardTest, BadDataHeadersAreIgnored) {
    StartBoard(Config(0x10, 16));
    Header answer;
    // Channel 0, and a length above maxPayload: no answer, payload not read.
    ASSERT_EQ(0u, host_.SendData(0, 1, 0xFFFFFFFFu, {}, true));
    ASSERT_EQ(0u, host_.SendData(5, 1, 0xFFFFFFFFu, {}, true));
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('a', answer.Letter());
    EXPECT_EQ(5, answer.Channel());
}

TEST_F(BoardTest, LateHostPayloadIsRefused) {
    BoardConfig config = Config(0x10, 64);
    config.payloadTimeoutMs = 200;
    StartBoard(config);
    std::uint8_t header[16] = {'S', 'A', 7, 1, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0, 0, 0};
    ASSERT_EQ(0u, host_.Write(header, sizeof(header)));
    Header answer;
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('n', answer.Letter());
    EXPECT_EQ(7, answer.Channel());
    EXPECT_EQ(0xFFFFFFFFu, answer.Sequence(true));
}

TEST_F(BoardTest, SilentChannelIsNeverAnswered) {
    StartBoard(Config(0x10, 64));
    ASSERT_EQ(0u, host_.SendData('L', 1, 0xFFFFFFFFu, PatternPayload(5), true));
    ASSERT_EQ(0u, host_.SendData(8, 1, 0xFFFFFFFFu, PatternPayload(5), true));
    Header answer;
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ(8, answer.Channel());
    boardsim::HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    EXPECT_EQ('L', got.channel);
}

// ------------------------------------------------------------ board messages

TEST_P(BoardOrderTest, BoardMessageGoesOutNumberedAndIsResentAfterRefusal) {
    StartBoard(Config(GetParam(), 16));
    std::vector<std::uint8_t> message = PatternPayload(40, 5);
    std::uint32_t ticket = board_->QueueMessage(12, 3, message);

    Header header;
    std::vector<std::uint8_t> payload;
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, le_, 'n'));
    EXPECT_EQ('S', header.Kind());
    EXPECT_EQ(1u, header.Sequence(le_));
    EXPECT_EQ(16u, header.Length(le_));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, le_, 'a'));  // the same again
    EXPECT_EQ(1u, header.Sequence(le_));
    EXPECT_EQ(std::vector<std::uint8_t>(message.begin(), message.begin() + 16), payload);

    std::vector<std::uint8_t> joined = payload;
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, le_, 'a'));
    EXPECT_EQ(2u, header.Sequence(le_));
    joined.insert(joined.end(), payload.begin(), payload.end());
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, le_, 'a'));
    EXPECT_EQ(0xFFFFFFFFu, header.Sequence(le_));
    EXPECT_EQ(8u, header.Length(le_));
    EXPECT_EQ(12, header.Channel());
    EXPECT_EQ(3, header.Subchannel());
    joined.insert(joined.end(), payload.begin(), payload.end());
    EXPECT_EQ(message, joined);
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(BoardTest, BoardResendsOnItsOwnTimeoutAndGivesUp) {
    BoardConfig config = Config(0x10, 64);
    config.answerTimeoutMs = 150;
    config.sendAttempts = 3;
    StartBoard(config);
    std::uint32_t ticket = board_->QueueMessage(12, 3, PatternPayload(10));
    Header header;
    std::vector<std::uint8_t> payload;
    for (int send = 0; send < 3; ++send) {
        ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 0)) << send;
        EXPECT_EQ(0xFFFFFFFFu, header.Sequence(true));
    }
    EXPECT_EQ(boardsim::kSendGaveUp, board_->WaitMessageSent(ticket, kWait));

    // Unanswered once, then acknowledged: delivered.
    ticket = board_->QueueMessage(12, 3, PatternPayload(10));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 0));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 'a'));
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(BoardTest, BoardRepeatRequest) {
    StartBoard(Config(0x10));
    ASSERT_EQ(0u, board_->SendRepeatRequest());
    Header header;
    ASSERT_EQ(0u, host_.ReadHeader(&header, kWait));
    EXPECT_EQ('e', header.Letter());
}

// ------------------------------------------------------------ update protocol

TEST_P(BoardOrderTest, UpdateRepliesAndWrittenImage) {
    StartBoard(Config(GetParam(), 1024));
    std::vector<std::uint8_t> image = PatternPayload(2500, 9);
    const std::size_t chunkSize = 1024 - 16;
    int packets = 0;
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        std::size_t n = std::min(chunkSize, image.size() - offset);
        bool last = offset + n == image.size();
        std::vector<std::uint8_t> chunk(image.begin() + offset, image.begin() + offset + n);
        std::uint16_t status = 0xFFFF;
        std::vector<std::uint8_t> reply;
        ASSERT_EQ(0u,
                  host_.UpdateExchange(rawhost::UpdatePacket(chunk, last, SumOf(image), le_), le_, &status, &reply));
        EXPECT_EQ(0, status);
        EXPECT_EQ('T', reply[0]);
        EXPECT_EQ('B', reply[1]);
        EXPECT_EQ(0xFF, reply[2]);
        EXPECT_EQ(1, reply[3]);
        EXPECT_EQ(last ? 0xFFFF : 0, Get16(&reply[6], le_));
        ++packets;
    }
    EXPECT_EQ(3, packets);
    ASSERT_TRUE(board_->WaitFlashWrites(1, kWait));
    EXPECT_EQ(image, board_->FlashImage());
    ASSERT_TRUE(board_->WaitUpdateReplies(3, kWait));
    EXPECT_EQ(3u, Count(BoardEventKind::UpdateReply));
    EXPECT_EQ(0u, Count(BoardEventKind::HostMessage));  // update packets are the board's own business
}

TEST_P(BoardOrderTest, ChecksumFailureReplyInBoardOrder) {
    StartBoard(Config(GetParam(), 1024));
    std::vector<std::uint8_t> image = PatternPayload(300);
    std::uint16_t status = 0;
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(0u,
              host_.UpdateExchange(rawhost::UpdatePacket(image, true, SumOf(image) ^ 1, le_), le_, &status, &reply));
    EXPECT_EQ(boardsim::kUpdateChecksumMismatch, status);
    EXPECT_EQ(le_ ? 0x03 : 0x01, reply[4]);
    EXPECT_EQ(0u, board_->FlashWrites());
    EXPECT_TRUE(board_->FlashImage().empty());
}

// ------------------------------------------------------------ lifetime

TEST_F(BoardTest, HostThatClosesAndReopensIsServedAgain) {
    StartBoard(Config(0x10, 64));
    ASSERT_EQ(0u, host_.DeliverMessage(3, 1, PatternPayload(10, 1), 64, true));
    EXPECT_FALSE(board_->WaitListening(0));  // held by this host
    host_.Close();
    ASSERT_TRUE(board_->WaitListening(kWait));
    ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    ASSERT_EQ(0u, host_.DeliverMessage(3, 1, PatternPayload(10, 2), 64, true));
    boardsim::HostMessage first, second;
    ASSERT_TRUE(board_->WaitHostMessage(&first, kWait));
    ASSERT_TRUE(board_->WaitHostMessage(&second, kWait));
    EXPECT_EQ(PatternPayload(10, 2), second.data);
    EXPECT_EQ(2u, Count(BoardEventKind::ClientConnected));
}

TEST_F(BoardTest, StoppedBoardBreaksTheHostsPipe) {
    StartBoard(Config(0x10, 64));
    board_->Stop();
    Header header;
    DWORD error = host_.ReadHeader(&header, kWait);
    printf("read after the board stopped: %lu\n", error);
    EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;
    host_.Close();
    EXPECT_NE(0u, host_.Open(board_->InterfacePath()));
}

TEST_F(BoardTest, QueuedBoardMessageWaitsForAHost) {
    BoardConfig config = Config(0x10, 64);
    config.instance = UniqueName("sbtest");
    board_ = std::make_unique<SimulatedBoard>(config);
    ASSERT_EQ(0u, board_->Start());
    std::uint32_t ticket = board_->QueueMessage(3, 3, PatternPayload(5));
    EXPECT_EQ(boardsim::kSendPending, board_->WaitMessageSent(ticket, 0));
    ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));  // nothing of the message comes before the reply
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(0u, host_.ReceiveMessage(&channel, &subchannel, &data, true));
    EXPECT_EQ(PatternPayload(5), data);
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}
