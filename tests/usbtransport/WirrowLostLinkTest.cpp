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
