// Wirrow against the simulated board: whole messages both ways in both byte orders,
// the board's faults (refusals, lost answers, duplicated and broken packets, stale
// packets before the connect reply), the board leaving, and an update exchange.
#include "LinkTestSupport.h"
#include "Payloads.h"
#include "SimulatedBoard.h"
#include "UpdateReceiver.h"
#include <vector>

using boardsim::BoardConfig;
using boardsim::FaultAction;
using boardsim::FaultPoint;
using boardsim::FaultRule;

namespace {

class SimBoardLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, CommStartup()); }
    void TearDown() override {
        CommCleanup();
        board_.reset();
    }

    static BoardConfig Config(uint8_t flags = 0x10, uint32_t maxPayload = 16384) {
        BoardConfig config;
        config.updateMode = false;
        config.link.linkFlags = flags;
        config.link.replyTimeoutSeconds = 1;
        config.maxPayload = maxPayload;
        return config;
    }

    void StartAndConnect(BoardConfig config) {
        config.instance = UniqueName("sb");
        board_ = std::make_unique<boardsim::SimulatedBoard>(config);
        ASSERT_EQ(0u, board_->Start());
        ASSERT_EQ(0u, CommOpen(board_->InterfacePath().c_str(), 0, &handle_, nullptr, 0));
        const uint8_t sub = 1;
        ASSERT_EQ(0u, CommConnect(handle_, 'B', &sub, nullptr, nullptr));
    }

    std::vector<uint8_t> Receive(uint32_t capacity = 65536) {
        std::vector<uint8_t> buffer(capacity);
        uint32_t length = capacity;
        EXPECT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
        buffer.resize(length);
        return buffer;
    }

    std::vector<boardsim::BoardEvent> EventsOf(boardsim::BoardEventKind kind) const {
        std::vector<boardsim::BoardEvent> found;
        for (const auto &event : board_->Events())
            if (event.kind == kind) found.push_back(event);
        return found;
    }

    std::unique_ptr<boardsim::SimulatedBoard> board_;
    HCOMM handle_ = nullptr;
};

}  // namespace

TEST_F(SimBoardLinkTest, LargeMessageReachesTheBoardInBothByteOrders) {
    for (uint8_t flags : {uint8_t(0x00), uint8_t(0x10)}) {
        StartAndConnect(Config(flags));
        EXPECT_EQ(flags ? 1u : 0u, [&] {
            uint32_t order = 9;
            CommGetOption(handle_, COMM_OPT_HOST_ORDER, &order);
            return order;
        }());
        const auto message = PatternPayload(40000, flags);
        ASSERT_EQ(0u, CommSendData(handle_, message.data(), 40000, 'B', 1));
        boardsim::HostMessage taken;
        ASSERT_TRUE(board_->WaitHostMessage(&taken, 5000));
        EXPECT_EQ(message, taken.data);
        EXPECT_EQ('B', taken.channel);
        EXPECT_EQ(1, taken.subchannel);
        std::vector<std::pair<uint32_t, uint32_t>> packets;
        for (const auto &event : EventsOf(boardsim::BoardEventKind::HostPacket))
            packets.emplace_back(event.sequence, event.length);
        EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{1, 16384}, {2, 16384}, {0xFFFFFFFFu, 7232}}), packets);
        CommCleanup();
        board_.reset();
        ASSERT_EQ(0u, CommStartup());
    }
}

TEST_F(SimBoardLinkTest, BoardMessagesAreReceivedWhole) {
    StartAndConnect(Config(0x00, 4096));
    const auto first = PatternPayload(40000, 1), second = PatternPayload(17, 2);
    const uint32_t ticket1 = board_->QueueMessage('B', 1, first);
    const uint32_t ticket2 = board_->QueueMessage('B', 0xFF, second);
    EXPECT_EQ(first, Receive());
    EXPECT_EQ(second, Receive());
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket1, 5000));
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket2, 5000));
}

TEST_F(SimBoardLinkTest, RefusedAndRepeatRequestedPacketsAreSentAgain) {
    BoardConfig config = Config();
    config.faults.rules.push_back(FaultRule{FaultPoint::HostPacket, 1, 2, FaultAction::Refuse, 0, 0});
    config.faults.rules.push_back(FaultRule{FaultPoint::HostPacket, 3, 1, FaultAction::RepeatRequest, 0, 0});
    StartAndConnect(config);
    const auto message = PatternPayload(500, 3);
    ASSERT_EQ(0u, CommSendData(handle_, message.data(), 500, 'B', 1));
    boardsim::HostMessage taken;
    ASSERT_TRUE(board_->WaitHostMessage(&taken, 5000));
    EXPECT_EQ(message, taken.data);
    EXPECT_EQ(4u, EventsOf(boardsim::BoardEventKind::HostPacket).size());
    EXPECT_FALSE(board_->WaitHostMessage(&taken, 100));
}

TEST_F(SimBoardLinkTest, LostAnswerMakesADuplicateThatIsTakenOnce) {
    BoardConfig config = Config(0x10, 1024);
    config.faults.rules.push_back(FaultRule{FaultPoint::HostPacket, 2, 1, FaultAction::DropAnswer, 0, 0});
    StartAndConnect(config);
    const auto message = PatternPayload(3000, 4);
    ASSERT_EQ(0u, CommSendData(handle_, message.data(), 3000, 'B', 1));
    boardsim::HostMessage taken;
    ASSERT_TRUE(board_->WaitHostMessage(&taken, 5000));
    EXPECT_EQ(message, taken.data);
    EXPECT_EQ(4u, EventsOf(boardsim::BoardEventKind::HostPacket).size());  // packet 2 came twice
    EXPECT_FALSE(board_->WaitHostMessage(&taken, 100));
}

TEST_F(SimBoardLinkTest, DoubledAnswersAndRefusalsKeepMessagesWhole) {
    // Answers come twice at random and packets are refused at random; every message arrives whole.
    BoardConfig config = Config(0x10, 256);
    config.faults.seed = 7;
    config.faults.randomFaults.push_back(
        boardsim::RandomFault{FaultPoint::HostPacket, FaultAction::DuplicateAnswer, 500, 0, 0});
    // Refusals make a wrongly skipped packet show as a hole in the message.
    config.faults.randomFaults.push_back(boardsim::RandomFault{FaultPoint::HostPacket, FaultAction::Refuse, 200, 0, 0});
    StartAndConnect(config);
    for (int round = 0; round < 5; ++round) {
        const auto message = PatternPayload(256 * 20 + round, uint8_t(round));
        ASSERT_EQ(0u, CommSendData(handle_, message.data(), uint32_t(message.size()), 'B', 1));
        boardsim::HostMessage taken;
        ASSERT_TRUE(board_->WaitHostMessage(&taken, 5000));
        EXPECT_EQ(message, taken.data);
    }
    size_t doubled = 0;
    for (const auto &fault : board_->FaultLog()) doubled += fault.action == FaultAction::DuplicateAnswer;
    EXPECT_GT(doubled, 10u);
}

TEST_F(SimBoardLinkTest, DuplicatedBoardPacketIsDeliveredOnce) {
    BoardConfig config = Config(0x10, 1024);
    config.faults.rules.push_back(FaultRule{FaultPoint::BoardPacket, 2, 1, FaultAction::DuplicatePacket, 0, 0});
    StartAndConnect(config);
    const auto message = PatternPayload(3000, 5);
    const uint32_t ticket = board_->QueueMessage('B', 1, message);
    EXPECT_EQ(message, Receive());
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, 5000));
}

TEST_F(SimBoardLinkTest, LostPayloadIsRefusedAndSentAgain) {
    BoardConfig config = Config(0x00, 1024);
    config.faults.rules.push_back(FaultRule{FaultPoint::BoardPacket, 1, 1, FaultAction::DropPayload, 0, 0});
    // The board waits for the refusal longer than the host waits for the payload (1 s); a resend
    // before the refusal would be read as the missing payload, the stream carrying no marks.
    config.answerTimeoutMs = 4000;
    StartAndConnect(config);
    const auto message = PatternPayload(700, 6);
    const uint32_t ticket = board_->QueueMessage('B', 1, message);
    EXPECT_EQ(message, Receive());
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, 5000));
    bool refused = false;
    for (const auto &answer : EventsOf(boardsim::BoardEventKind::HostAnswer)) refused |= answer.letter == 'n';
    EXPECT_TRUE(refused);
}

TEST_F(SimBoardLinkTest, StalePacketsBeforeTheConnectReplyAreSkipped) {
    BoardConfig config = Config();
    config.faults.rules.push_back(FaultRule{FaultPoint::ConnectRequest, 1, 1, FaultAction::StalePackets, 0, 8});
    StartAndConnect(config);
    const auto message = PatternPayload(100, 7);
    ASSERT_EQ(0u, CommSendData(handle_, message.data(), 100, 'B', 1));
    boardsim::HostMessage taken;
    ASSERT_TRUE(board_->WaitHostMessage(&taken, 5000));
    EXPECT_EQ(message, taken.data);
}

TEST_F(SimBoardLinkTest, BoardDroppingTheConnectionEndsWaitingCalls) {
    StartAndConnect(Config());
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
    EXPECT_FALSE(receive.Finished(100));
    ASSERT_EQ(0u, board_->Disconnect());
    ASSERT_TRUE(receive.Finished());
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_EQ(1167u, CommSendData(handle_, buffer, 4, 'B', 1));
    EXPECT_EQ(0u, CommClose(handle_));
}

TEST_F(SimBoardLinkTest, UpdateExchangeGetsOneReplyPerChunk) {
    BoardConfig config = Config(0x10, 4096);
    config.updateMode = true;
    StartAndConnect(config);
    uint32_t maxPayload = 0, hostOrder = 0;
    ASSERT_EQ(0u, CommGetOption(handle_, COMM_OPT_MAX_PAYLOAD, &maxPayload));
    ASSERT_EQ(0u, CommGetOption(handle_, COMM_OPT_HOST_ORDER, &hostOrder));
    const auto image = PatternPayload(20000, 8);
    const size_t chunk = maxPayload - boardsim::kUpdateHeaderSize;
    for (size_t offset = 0; offset < image.size(); offset += chunk) {
        const size_t size = std::min(chunk, image.size() - offset);
        boardsim::UpdateHeader header;
        header.length = static_cast<uint32_t>(size);
        const bool last = offset + size == image.size();
        header.lastFlag = last ? boardsim::kUpdateLastFlag : 0;
        if (last) header.checksum = boardsim::ByteSum(image.data(), image.size());
        const auto headerBytes = boardsim::EncodeUpdateHeader(header, hostOrder != 0);
        std::vector<uint8_t> packet(headerBytes.begin(), headerBytes.end());
        packet.insert(packet.end(), image.begin() + offset, image.begin() + offset + size);
        ASSERT_EQ(0u, CommSendData(handle_, packet.data(), static_cast<uint32_t>(packet.size()), 'B', 1));
        const auto reply = Receive(16);
        ASSERT_EQ(16u, reply.size());
        EXPECT_EQ(0, boardsim::DecodeUpdateHeader(reply.data(), hostOrder != 0).status);
    }
    EXPECT_EQ(image, board_->FlashImage());
}
