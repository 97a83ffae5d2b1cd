// A link that meets a misbehaving board: reads that complete empty or short, answers
// that come late or twice, a board that stops draining its pipe, a handle that lost
// its device. Every call must come back within its bound and report what happened.
#include "LinkTestSupport.h"
#include <cstring>
#include <vector>

using wirrow::LinkHeader;

namespace {

constexpr DWORD kCallBoundMs = 20000;

// Feeds the host's header reads with 8-byte pieces, one at a time, until the pending receive
// ends (the reader gave up and dropped the link) or `pieces` have gone out.
bool FeedShortReadsUntilTheLinkDrops(PipeBoard &board, AsyncCall &receive, int pieces) {
    const uint8_t piece[8] = {'s', 'a', 'B', 1, 0, 0, 0, 1};
    for (int i = 0; i < pieces; ++i) {
        if (!board.Write(piece, sizeof(piece))) return receive.Finished(kCallBoundMs);
        // Paces the pieces so that each read completes with one of them alone.
        if (receive.Finished(20)) return true;
    }
    // Still waiting: the board leaves, so the receive ends and the test can report the failure.
    board.Hangup();
    receive.Finished(kCallBoundMs);
    return false;
}

}  // namespace

TEST_F(BoardLinkTest, HeaderReadsThatCompleteShortEndTheLinkInsteadOfSpinning) {
    ConnectRunning();
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
    ASSERT_TRUE(FeedShortReadsUntilTheLinkDrops(Board(), receive, 600)) << "the reader reads short headers forever";
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_EQ(1167u, CommSendData(handle_, "x", 1, 'B', 1));
    EXPECT_EQ(0u, CommClose(handle_));
}

TEST_F(BoardLinkTest, HandleWhoseReaderGaveUpCannotBeConnectedAgain) {
    ConnectRunning();
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
    ASSERT_TRUE(FeedShortReadsUntilTheLinkDrops(Board(), receive, 600));
    ASSERT_EQ(1167u, receive.Result());
    // The board is still there and would answer a connect request; the handle must not send one.
    const uint8_t sub = 1;
    AsyncCall connect([&] { return CommConnect(handle_, 'B', &sub, nullptr, nullptr); });
    ASSERT_TRUE(connect.Finished(kCallBoundMs));
    EXPECT_EQ(1167u, connect.Result());
    EXPECT_TRUE(Board().QuietFor(500)) << "a lost handle sent a connect request";
    EXPECT_EQ(1167u, CommSendData(handle_, "x", 1, 'B', 1));
    length = sizeof(buffer);
    EXPECT_EQ(1167u, CommReceiveData(handle_, buffer, &length, nullptr, nullptr));
    EXPECT_EQ(0u, CommClose(handle_));
}

TEST_F(BoardLinkTest, LateDuplicateAnswerOfAnEarlierMessageDoesNotCompleteTheNext) {
    LinkParametersForTest p;
    p.maxPayload = 16;
    ConnectRunning(p);
    std::vector<uint8_t> twoPackets(32, 0x5A);
    // An earlier two-packet message to B/1, answered normally.
    {
        AsyncCall first([&] { return CommSendData(handle_, twoPackets.data(), 32, 'B', 1); });
        LinkHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        ASSERT_EQ(1u, Board().Sequence(header));
        ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 1, 0)));
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
        ASSERT_TRUE(first.Finished());
        ASSERT_EQ(0u, first.Result());
    }
    // A message to B/2 holds the sender while the next message to B/1 waits in the queue.
    AsyncCall other([&] { return CommSendData(handle_, "xyz", 3, 'B', 2); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    AsyncCall next([&] { return CommSendData(handle_, twoPackets.data(), 32, 'B', 1); });
    ASSERT_FALSE(next.Finished(300)) << "queued behind the unanswered message";
    // A late duplicate of the earlier message's first answer, then the answer to B/2.
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 1, 0)));
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 2, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(other.Finished());
    EXPECT_EQ(0u, other.Result());
    // The next message's first packet goes out and waits for its own answer.
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    EXPECT_EQ(1u, Board().Sequence(header));
    EXPECT_TRUE(Board().QuietFor(1000)) << "the stale answer was taken for this packet's";
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 1, 0)));
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    EXPECT_EQ(0xFFFFFFFFu, Board().Sequence(header));
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(next.Finished());
    EXPECT_EQ(0u, next.Result());
}

TEST_F(BoardLinkTest, BoardThatStopsDrainingItsPipeHoldsNoSendForEver) {
    // One slot of 2 MiB: a single packet can fill the pipe to the board (1 MiB of buffer).
    const uint32_t oneSlot = 1;
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &oneSlot));
    LinkParametersForTest p;
    p.attempts = 1;
    p.replyTimeout = 1;
    p.maxPayload = 2u << 20;
    ConnectRunning(p);
    // The board reads nothing from here on. One packet fills the pipe's buffer to the last byte;
    // the board sees it waiting there and takes it without reading it.
    std::vector<uint8_t> big((1u << 20) - 16, 0x33);
    AsyncCall fill([&] { return CommSendData(handle_, big.data(), static_cast<uint32_t>(big.size()), 'B', 1); });
    ASSERT_TRUE(Board().WaitUnread(1u << 20));
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(fill.Finished(kCallBoundMs));
    EXPECT_EQ(0u, fill.Result());
    // A packet from the board: its answer cannot be written either.
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, std::vector<uint8_t>(10, 0x44)));
    std::vector<uint8_t> received(64);
    uint32_t length = static_cast<uint32_t>(received.size());
    AsyncCall receive([&] { return CommReceiveData(handle_, received.data(), &length, nullptr, nullptr); });
    // A send while that answer waits: it ends within its bound instead of waiting for the write lock.
    AsyncCall send([&] { return CommSendData(handle_, "x", 1, 'B', 1); });
    const bool returned = send.Finished(kCallBoundMs);
    if (!returned) Board().Hangup();  // lets the stuck calls go, so the failure is reported
    ASSERT_TRUE(returned) << "CommSendData waits for ever behind an answer the board does not drain";
    EXPECT_EQ(1460u, send.Result());
    // The packet itself was taken: the answer given up is asked for again by the board.
    ASSERT_TRUE(receive.Finished(kCallBoundMs));
    EXPECT_EQ(0u, receive.Result());
    EXPECT_EQ(10u, length);
    AsyncCall close([&] { return CommClose(handle_); });
    ASSERT_TRUE(close.Finished(kCallBoundMs));
    EXPECT_EQ(0u, close.Result());
}

TEST_F(BoardLinkTest, CloseFromAnotherThreadWhileCallsWaitLetsEachOfThemLeaveFirst) {
    // Callers must not close a handle that other threads are using; the library must still not
    // touch freed memory when they do. Each round closes under four waiting calls.
    for (int round = 0; round < 40; ++round) {
        if (round > 0) {
            ASSERT_TRUE(Board().Relisten());
            ASSERT_EQ(0u, CommOpen(Board().Path().c_str(), 0, &handle_, nullptr, 0));
            ASSERT_TRUE(Board().AcceptHost());
        }
        ConnectRunning();
        std::vector<std::unique_ptr<AsyncCall>> calls;
        uint8_t buffers[3][32];
        uint32_t lengths[3] = {32, 32, 32};
        for (int i = 0; i < 3; ++i)
            calls.push_back(std::make_unique<AsyncCall>(
                [&, i] { return CommReceiveData(handle_, buffers[i], &lengths[i], nullptr, nullptr); }));
        calls.push_back(std::make_unique<AsyncCall>([&] { return CommSendData(handle_, "abc", 3, 'B', 1); }));
        // The send is on the wire once the board reads it; the receives may still be on their way in.
        LinkHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        ASSERT_EQ(0u, CommClose(handle_));
        for (auto &call : calls) {
            ASSERT_TRUE(call->Finished(kCallBoundMs)) << "round " << round;
            // A call that had not reached the link yet meets a closed handle (COMM_ERROR_INVALID_HANDLE).
            EXPECT_TRUE(call->Result() == 1167u || call->Result() == 6u) << call->Result();
        }
    }
    handle_ = nullptr;
}
