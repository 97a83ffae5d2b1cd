// The simulated board's fault plans and on-demand misbehaviour, seen by a raw host.
#include "Payloads.h"
#include "RawHost.h"
#include "SimulatedBoard.h"
#include "UniqueName.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace boardsim;
using rawhost::Header;
using rawhost::Host;

namespace {

constexpr DWORD kWait = 5000;

class FaultTest : public ::testing::Test {
protected:
    BoardConfig Base(std::uint32_t maxPayload = 64) {
        BoardConfig config;
        config.instance = UniqueName("sbfault");
        config.link = {6, 1, 1, 0x10};
        config.maxPayload = maxPayload;
        return config;
    }
    void Start(const BoardConfig &config, bool connect = true) {
        board_ = std::make_unique<SimulatedBoard>(config);
        ASSERT_EQ(0u, board_->Start());
        ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
        if (connect) {
            Header reply;
            ASSERT_EQ(0u, host_.Connect(&reply));
        }
    }
    void TearDown() override {
        host_.Close();
        if (board_) board_->Stop();
    }
    static FaultRule Rule(FaultPoint point, std::uint32_t first, std::uint32_t times, FaultAction action,
                          std::uint32_t delayMs = 0, std::uint32_t value = 0) {
        return {point, first, times, action, delayMs, value};
    }
    // Answer letters the host got, in order, for one packet sent until taken.
    std::vector<char> AnswersUntilTaken(std::uint8_t channel, std::uint32_t sequence,
                                        const std::vector<std::uint8_t> &payload, DWORD answerWaitMs, int sends) {
        std::vector<char> letters;
        for (int i = 0; i < sends; ++i) {
            EXPECT_EQ(0u, host_.SendData(channel, 1, sequence, payload, true));
            Header answer;
            DWORD error = host_.ReadHeader(&answer, answerWaitMs);
            letters.push_back(error == ERROR_TIMEOUT ? '-' : static_cast<char>(answer.Letter()));
            if (!error && answer.Letter() == 'a') break;
        }
        return letters;
    }

    std::unique_ptr<SimulatedBoard> board_;
    Host host_;
};

}  // namespace

// ------------------------------------------------------------ host packets

TEST_F(FaultTest, RefusedTwiceThenTakenOnce) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 2, FaultAction::Refuse));
    Start(config);
    EXPECT_EQ((std::vector<char>{'n', 'n', 'a'}), AnswersUntilTaken(4, 0xFFFFFFFFu, PatternPayload(8), kWait, 5));
    HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    EXPECT_EQ(PatternPayload(8), got.data);
    ASSERT_EQ(2u, board_->FaultLog().size());
    EXPECT_EQ(2u, board_->FaultLog()[1].occurrence);
}

TEST_F(FaultTest, RepeatRequestRefusesThePacketInFlight) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 1, FaultAction::RepeatRequest));
    Start(config);
    EXPECT_EQ((std::vector<char>{'e', 'a'}), AnswersUntilTaken(4, 0xFFFFFFFFu, PatternPayload(8), kWait, 3));
}

TEST_F(FaultTest, LostPacketIsNeitherTakenNorAnswered) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 1, FaultAction::IgnorePacket));
    Start(config);
    EXPECT_EQ((std::vector<char>{'-', 'a'}), AnswersUntilTaken(4, 0xFFFFFFFFu, PatternPayload(8), 400, 3));
    HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    EXPECT_FALSE(board_->WaitHostMessage(&got, 0));
}

TEST_F(FaultTest, LostAnswerMakesTheHostRepeatButTheMessageComesOnce) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 1, FaultAction::DropAnswer));
    Start(config);
    EXPECT_EQ((std::vector<char>{'-', 'a'}), AnswersUntilTaken(4, 0xFFFFFFFFu, PatternPayload(8, 1), 400, 3));
    ASSERT_EQ(0u, host_.DeliverMessage(4, 1, PatternPayload(8, 2), 64, true));
    HostMessage first, second;
    ASSERT_TRUE(board_->WaitHostMessage(&first, kWait));
    ASSERT_TRUE(board_->WaitHostMessage(&second, kWait));
    EXPECT_EQ(PatternPayload(8, 1), first.data);
    EXPECT_EQ(PatternPayload(8, 2), second.data);
}

TEST_F(FaultTest, LateAnswerAfterTheHostGaveUpWaiting) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 1, FaultAction::DelayAnswer, 1200));
    Start(config);
    // The host waits 300 ms, sends again; the late 'a' and the repeat's 'a' both come.
    ASSERT_EQ(0u, host_.SendData(4, 1, 0xFFFFFFFFu, PatternPayload(8), true));
    Header answer;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&answer, 300));
    ASSERT_EQ(0u, host_.SendData(4, 1, 0xFFFFFFFFu, PatternPayload(8), true));
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('a', answer.Letter());
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('a', answer.Letter());
    HostMessage got;
    ASSERT_TRUE(board_->WaitHostMessage(&got, kWait));
    EXPECT_FALSE(board_->WaitHostMessage(&got, 0));  // the repeat was recognised
}

TEST_F(FaultTest, DuplicatedAnswer) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 1, 1, FaultAction::DuplicateAnswer));
    Start(config);
    ASSERT_EQ(0u, host_.SendData(4, 1, 0xFFFFFFFFu, PatternPayload(8), true));
    Header first, second;
    ASSERT_EQ(0u, host_.ReadHeader(&first, kWait));
    ASSERT_EQ(0u, host_.ReadHeader(&second, kWait));
    EXPECT_EQ(0, memcmp(first.bytes, second.bytes, 16));
    EXPECT_EQ('a', second.Letter());
}

// ------------------------------------------------------------ connect

TEST_F(FaultTest, StalePacketsBeforeTheConnectReply) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::ConnectRequest, 1, 1, FaultAction::StalePackets, 0, 4));
    Start(config, false);
    ASSERT_EQ(0u, host_.SendConnect());
    Header reply;
    int skipped = 0;
    ASSERT_EQ(0u, host_.ReadUntilLetter('c', &reply, kWait, &skipped));
    EXPECT_EQ(4, skipped);
}

TEST_F(FaultTest, LostConnectReplyThenAnsweredOnTheNextRequest) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::ConnectRequest, 1, 1, FaultAction::DropAnswer));
    Start(config, false);
    ASSERT_EQ(0u, host_.SendConnect());
    Header reply;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&reply, 300));
    EXPECT_FALSE(board_->WaitLinkUp(0));
    ASSERT_EQ(0u, host_.Connect(&reply));
    EXPECT_EQ('c', reply.Letter());
    EXPECT_TRUE(board_->WaitLinkUp(kWait));
}

TEST_F(FaultTest, DuplicatedConnectReply) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::ConnectRequest, 1, 1, FaultAction::DuplicateAnswer));
    Start(config, false);
    Header first, second;
    ASSERT_EQ(0u, host_.Connect(&first));
    ASSERT_EQ(0u, host_.ReadHeader(&second, kWait));
    EXPECT_EQ(0, memcmp(first.bytes, second.bytes, 16));
}

// ------------------------------------------------------------ board packets

TEST_F(FaultTest, LostBoardPacketIsSentAgainAfterTheBoardsTimeout) {
    BoardConfig config = Base();
    config.answerTimeoutMs = 200;
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 1, 1, FaultAction::DropHeader));
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(20));
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(0u, host_.ReceiveMessage(&channel, &subchannel, &data, true));
    EXPECT_EQ(PatternPayload(20), data);
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
    bool secondSend = false;
    for (const BoardEvent &e : board_->Events()) secondSend |= e.kind == BoardEventKind::BoardPacket && e.value == 2;
    EXPECT_TRUE(secondSend);
}

TEST_F(FaultTest, BoardPacketWithoutPayloadIsRefusedAndSentAgain) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 1, 1, FaultAction::DropPayload));
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(20));
    Header header;
    ASSERT_EQ(0u, host_.ReadHeader(&header, kWait));
    ASSERT_EQ(20u, header.Length(true));
    std::vector<std::uint8_t> payload(20);
    // As a host does: the payload does not come, so refuse the packet.
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.Read(payload.data(), payload.size(), 300));
    ASSERT_EQ(0u, host_.SendAnswer('n', 6, 2, header.Sequence(true), true));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 'a'));
    EXPECT_EQ(PatternPayload(20), payload);
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(FaultTest, DuplicatedAndDelayedBoardPackets) {
    BoardConfig config = Base(16);
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 1, 1, FaultAction::DuplicatePacket));
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 2, 1, FaultAction::DelayPayload, 100));
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(20));
    Header header;
    std::vector<std::uint8_t> first, again, second;
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &first, true, 0));
    EXPECT_EQ(1u, header.Sequence(true));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &again, true, 'a'));
    EXPECT_EQ(1u, header.Sequence(true));
    EXPECT_EQ(first, again);
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &second, true, 'a'));
    EXPECT_EQ(0xFFFFFFFFu, header.Sequence(true));
    EXPECT_EQ(4u, second.size());
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(FaultTest, DuplicatedHeaderShiftsThePayload) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 1, 1, FaultAction::DuplicateHeader));
    Start(config);
    board_->QueueMessage(6, 2, PatternPayload(20));
    std::uint8_t stream[16 + 16 + 20];
    ASSERT_EQ(0u, host_.Read(stream, sizeof(stream), kWait));
    EXPECT_EQ('A', stream[1]);
    EXPECT_EQ(0, memcmp(stream, stream + 16, 16));
    EXPECT_EQ(PatternPayload(20), std::vector<std::uint8_t>(stream + 32, stream + 52));
}

TEST_F(FaultTest, DelayedBoardPacket) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 1, 1, FaultAction::DelayHeader, 600));
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(20));
    Header header;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&header, 100));
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(0u, host_.ReceiveMessage(&channel, &subchannel, &data, true));
    EXPECT_EQ(PatternPayload(20), data);
    EXPECT_EQ(0u, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(FaultTest, BoardGivesUpAfterAsManyRefusalsAsSends) {
    BoardConfig config = Base();
    config.sendAttempts = 2;
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(5));
    Header header;
    std::vector<std::uint8_t> payload;
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 'n'));
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 'n'));
    EXPECT_EQ(kSendGaveUp, board_->WaitMessageSent(ticket, kWait));
}

// ------------------------------------------------------------ update chunks

TEST_F(FaultTest, RejectedChunkCarriesTheCodeInBoardOrder) {
    BoardConfig config = Base(256);
    config.link.linkFlags = 0x00;  // big-endian board
    config.faults.rules.push_back(Rule(FaultPoint::UpdateChunk, 2, 1, FaultAction::RejectChunk, 0, 0x1234));
    board_ = std::make_unique<SimulatedBoard>(config);
    ASSERT_EQ(0u, board_->Start());
    ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    std::uint16_t status = 0xFFFF;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(0u, host_.UpdateExchange(rawhost::UpdatePacket(PatternPayload(100), false, 0, false), false, &status));
    EXPECT_EQ(0, status);
    ASSERT_EQ(0u,
              host_.UpdateExchange(rawhost::UpdatePacket(PatternPayload(100), false, 0, false), false, &status, &bytes));
    EXPECT_EQ(0x1234, status);
    EXPECT_EQ(0x12, bytes[4]);
    EXPECT_EQ(0x34, bytes[5]);
    EXPECT_EQ(0u, board_->FlashWrites());
}

TEST_F(FaultTest, FlashWriteDelayComesBeforeTheLastReply) {
    BoardConfig config = Base(256);
    config.flashWriteDelayMs = 200;
    Start(config);
    std::vector<std::uint8_t> image = PatternPayload(100);
    std::uint32_t sum = 0;
    for (std::uint8_t b : image) sum += b;
    std::uint16_t status = 0xFFFF;
    ASSERT_EQ(0u, host_.UpdateExchange(rawhost::UpdatePacket(image, true, sum, true), true, &status));
    EXPECT_EQ(0, status);
    // The reply has come, so the flash is written already.
    EXPECT_EQ(1u, board_->FlashWrites());
    EXPECT_EQ(image, board_->FlashImage());
}

// ------------------------------------------------------------ stall, disconnect, unplug

TEST_F(FaultTest, StalledBoardAnswersOnlyAfterResume) {
    Start(Base());
    board_->StallReading(30000);
    ASSERT_EQ(0u, host_.SendData(4, 1, 0xFFFFFFFFu, PatternPayload(8), true));
    Header answer;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&answer, 300));
    board_->ResumeReading();
    ASSERT_EQ(0u, host_.ReadHeader(&answer, kWait));
    EXPECT_EQ('a', answer.Letter());
}

TEST_F(FaultTest, StallRuleHoldsTheConnectReplyUntilResume) {
    BoardConfig config = Base();
    config.faults.rules.push_back(Rule(FaultPoint::ConnectRequest, 1, 1, FaultAction::Stall, 30000));
    Start(config, false);
    ASSERT_EQ(0u, host_.SendConnect());
    Header reply;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&reply, 300));
    board_->ResumeReading();
    ASSERT_EQ(0u, host_.ReadHeader(&reply, kWait));
    EXPECT_EQ('c', reply.Letter());
}

TEST_F(FaultTest, UpdateChunkWhoseAnswerWasLostIsRepliedOnce) {
    BoardConfig config = Base(256);
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 2, 1, FaultAction::DropAnswer));
    Start(config);
    std::vector<std::uint8_t> image = PatternPayload(300);
    std::uint32_t sum = 0;
    for (std::uint8_t b : image) sum += b;
    std::vector<std::uint8_t> first(image.begin(), image.begin() + 200), second(image.begin() + 200, image.end());
    std::uint16_t status = 0xFFFF;
    ASSERT_EQ(0u, host_.UpdateExchange(rawhost::UpdatePacket(first, false, 0, true), true, &status));
    EXPECT_EQ(0, status);
    // The last chunk's 'a' is lost: the host sends it again after its wait.
    std::vector<std::uint8_t> last = rawhost::UpdatePacket(second, true, sum, true);
    ASSERT_EQ(0u, host_.DeliverMessage(66, 1, last, 256, true, 400));
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(0u, host_.ReceiveMessage(&channel, &subchannel, &reply, true));
    ASSERT_EQ(16u, reply.size());
    EXPECT_EQ(0, rawhost::Get16(&reply[4], true));
    EXPECT_EQ(image, board_->FlashImage());
    ASSERT_TRUE(board_->WaitUpdateReplies(2, kWait));
    // Exactly one reply per chunk: nothing more is waiting in the stream.
    Header extra;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), host_.ReadHeader(&extra, 300));
    EXPECT_EQ(1u, board_->FlashWrites());
}

TEST_F(FaultTest, DisconnectFailsPendingAndLaterTransfersWith233) {
    Start(Base());
    // A read is pending on the host side when the board drops the connection.
    HANDLE done = nullptr;
    DWORD readResult = 0;
    UniqueHandle finished(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    done = finished.Get();
    Thread reader;
    ASSERT_TRUE(reader.Start([&] {
        Header header;
        readResult = host_.ReadHeader(&header, 10000);
        ::SetEvent(done);
    }));
    ASSERT_EQ(0u, board_->Disconnect());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(done, kWait));
    reader.Join(kWait);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), readResult);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host_.SendConnect());

    // The board takes the next host that opens it.
    host_.Close();
    ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
}

TEST_F(FaultTest, DisconnectInTheMiddleOfAHostMessage) {
    BoardConfig config = Base(16);
    config.faults.rules.push_back(Rule(FaultPoint::HostPacket, 2, 1, FaultAction::Disconnect));
    Start(config);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host_.DeliverMessage(4, 1, PatternPayload(40), 16, true));
    HostMessage got;
    EXPECT_FALSE(board_->WaitHostMessage(&got, 0));
}

TEST_F(FaultTest, DisconnectInTheMiddleOfABoardMessage) {
    BoardConfig config = Base(16);
    config.faults.rules.push_back(Rule(FaultPoint::BoardPacket, 2, 1, FaultAction::Disconnect));
    Start(config);
    std::uint32_t ticket = board_->QueueMessage(6, 2, PatternPayload(40));
    Header header;
    std::vector<std::uint8_t> payload;
    ASSERT_EQ(0u, host_.ReceivePacket(&header, &payload, true, 'a'));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host_.ReadHeader(&header, kWait));
    EXPECT_EQ(kSendConnectionLost, board_->WaitMessageSent(ticket, kWait));
}

TEST_F(FaultTest, UnplugRemovesPathAndListingAndCallsTheHook) {
    Start(Base());
    const std::string path = board_->InterfacePath();
    EXPECT_TRUE(boardsim::IsBoardInterfaceListed(path));
    std::string notified;
    UniqueHandle called(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE calledEvent = called.Get();
    board_->SetUnplugHandler([&notified, calledEvent](const std::string &p) {
        notified = p;
        ::SetEvent(calledEvent);
    });
    ASSERT_EQ(0u, board_->Unplug());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(calledEvent, kWait));
    EXPECT_EQ(path, notified);
    Header header;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host_.ReadHeader(&header, kWait));
    host_.Close();
    EXPECT_NE(0u, host_.Open(path));
    EXPECT_FALSE(boardsim::IsBoardInterfaceListed(path));

    ASSERT_EQ(0u, board_->Replug());
    EXPECT_TRUE(boardsim::IsBoardInterfaceListed(path));
    ASSERT_EQ(0u, host_.Open(path));
    ASSERT_EQ(0u, host_.Connect(&header));
}

TEST_F(FaultTest, UnplugByPlanOnAnUpdateChunk) {
    BoardConfig config = Base(256);
    config.faults.rules.push_back(Rule(FaultPoint::UpdateChunk, 1, 1, FaultAction::Unplug));
    board_ = std::make_unique<SimulatedBoard>(config);
    UniqueHandle called(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE calledEvent = called.Get();
    board_->SetUnplugHandler([calledEvent](const std::string &) { ::SetEvent(calledEvent); });
    ASSERT_EQ(0u, board_->Start());
    ASSERT_EQ(0u, host_.Open(board_->InterfacePath()));
    Header reply;
    ASSERT_EQ(0u, host_.Connect(&reply));
    std::uint16_t status = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED),
              host_.UpdateExchange(rawhost::UpdatePacket(PatternPayload(10), false, 0, true), true, &status));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(calledEvent, kWait));
    EXPECT_FALSE(boardsim::IsBoardInterfaceListed(board_->InterfacePath()));
}

// ------------------------------------------------------------ reproducibility

namespace {

struct RunRecord {
    std::vector<BoardEvent> events;
    std::vector<FaultRecord> faults;
};

RunRecord RunSeeded(std::uint64_t seed, unsigned messages) {
    RunRecord record;
    BoardConfig config;
    config.instance = UniqueName("sbfault");
    config.link = {6, 1, 1, 0x10};
    config.maxPayload = 16;
    config.faults.seed = seed;
    config.faults.randomFaults = {{FaultPoint::HostPacket, FaultAction::Refuse, 200, 0, 0},
                                  {FaultPoint::HostPacket, FaultAction::DropAnswer, 150, 0, 0},
                                  {FaultPoint::HostPacket, FaultAction::DuplicateAnswer, 150, 0, 0},
                                  {FaultPoint::HostPacket, FaultAction::IgnorePacket, 100, 0, 0}};
    SimulatedBoard board(config);
    EXPECT_EQ(0u, board.Start());
    Host host;
    EXPECT_EQ(0u, host.Open(board.InterfacePath()));
    Header reply;
    EXPECT_EQ(0u, host.Connect(&reply));
    for (unsigned m = 0; m < messages; ++m)
        EXPECT_EQ(0u, host.DeliverMessage(4, 1, PatternPayload(40, m), 16, true, 300, 20)) << m;
    for (unsigned m = 0; m < messages; ++m) {
        HostMessage got;
        EXPECT_TRUE(board.WaitHostMessage(&got, kWait));
        EXPECT_EQ(PatternPayload(40, m), got.data);
    }
    host.Close();
    board.Stop();
    record.events = board.Events();
    record.faults = board.FaultLog();
    return record;
}

}  // namespace

TEST(FaultSeed, SameSeedGivesTheSameRun) {
    RunRecord first = RunSeeded(2024, 3);
    RunRecord second = RunSeeded(2024, 3);
    ASSERT_FALSE(first.faults.empty());
    EXPECT_EQ(first.faults, second.faults);
    ASSERT_EQ(first.events.size(), second.events.size());
    for (std::size_t i = 0; i < first.events.size(); ++i)
        EXPECT_EQ(first.events[i], second.events[i]) << i << ": " << DescribeEvent(first.events[i]) << " / "
                                                     << DescribeEvent(second.events[i]);
    // Another seed: other faults from the very start.
    RunRecord other = RunSeeded(9, 1);
    ASSERT_FALSE(other.faults.empty());
    std::size_t common = std::min(first.faults.size(), other.faults.size());
    EXPECT_FALSE(std::equal(other.faults.begin(), other.faults.begin() + common, first.faults.begin()));
}
