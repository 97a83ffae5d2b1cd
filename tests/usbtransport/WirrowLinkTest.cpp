// The link protocol between the host and a scripted board: the connect exchange,
// packets, byte order, answers and retries, and putting received messages together.
#include "LinkTestSupport.h"
#include "Payloads.h"
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

using wirrow::LinkHeader;

namespace {

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The board's repeat request; 'e' has no kind of its own, the board marks it 's'.
LinkHeader RepeatRequest() {
    LinkHeader header{};
    header.kind = 's';
    header.letter = 'e';
    return header;
}

}  // namespace

// ---- Connect exchange ------------------------------------------------------------------------

TEST_F(BoardLinkTest, ConnectTakesTheBoardsParametersAndRepliesUnchanged) {
    const uint8_t sub = 7;
    uint8_t reply[16] = {};
    LinkHeader boardReply{'s', 'c', 0x11, 0x22, {4, 2, 5, 0x10}, {0x00, 0x10, 0x00, 0x00}, {1, 2, 3, 4}};
    std::thread boardSide([&] {
        LinkHeader request{};
        ASSERT_TRUE(Board().ReadHeader(request));
        LinkHeader standard = wirrow::BuildConnectRequest();
        EXPECT_EQ(0, std::memcmp(&request, &standard, 16));
        ASSERT_TRUE(Board().WriteHeader(boardReply));
    });
    EXPECT_EQ(0u, CommConnect(handle_, 0x142, &sub, nullptr, reply));
    boardSide.join();
    EXPECT_EQ(0, std::memcmp(reply, &boardReply, 16));
    EXPECT_EQ(4096u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));
    EXPECT_EQ(4112u, Option<uint32_t>(COMM_OPT_MAX_PACKET));
    EXPECT_EQ(4u, Option<uint32_t>(COMM_OPT_ATTEMPTS));
    EXPECT_EQ(2000u, Option<uint32_t>(COMM_OPT_PACKET_TIMEOUT));
    EXPECT_EQ(5000u, Option<uint32_t>(COMM_OPT_REPLY_TIMEOUT));
    EXPECT_EQ(0u, Option<uint32_t>(COMM_OPT_NO_TIMEOUTS));
    EXPECT_EQ(1u, Option<uint32_t>(COMM_OPT_HOST_ORDER));
    EXPECT_EQ(0x42, Option<uint8_t>(COMM_OPT_CHANNEL));
    EXPECT_EQ(7, Option<uint8_t>(COMM_OPT_SUBCHANNEL));
    // Connecting a running handle again changes nothing and sends nothing.
    EXPECT_EQ(0u, CommConnect(handle_, 'B', nullptr, nullptr, nullptr));
    EXPECT_EQ(0x42, Option<uint8_t>(COMM_OPT_CHANNEL));
}

TEST_F(BoardLinkTest, ConnectReplyMaxPayloadInNetworkOrder) {
    LinkParametersForTest p;
    p.maxPayload = 4096;  // written by the board as 00 00 10 00
    ConnectRunning(p);
    EXPECT_EQ(4096u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));
    EXPECT_EQ(0u, Option<uint32_t>(COMM_OPT_HOST_ORDER));
}

TEST_F(BoardLinkTest, CallersOwnConnectRequestIsSent) {
    LinkHeader own{'S', 'C', 9, 8, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 9, 9, 9}};
    std::thread boardSide([&] {
        LinkHeader request{};
        ASSERT_TRUE(Board().ReadHeader(request));
        EXPECT_EQ(0, std::memcmp(&request, &own, 16));
        LinkHeader reply{'s', 'c', 0, 0, {6, 1, 3, 0}, {0, 0, 0x40, 0}, {}};
        ASSERT_TRUE(Board().WriteHeader(reply));
    });
    EXPECT_EQ(0u, CommConnect(handle_, 'B', nullptr, &own, nullptr));
    boardSide.join();
}

TEST_F(BoardLinkTest, LeftOverPacketsBeforeTheReplyUseNoAttempt) {
    // Ten left-over headers, more than the six attempts: only uncounted repeats can get through.
    std::thread boardSide([&] {
        for (int i = 0; i < 10; ++i) {
            LinkHeader request{};
            ASSERT_TRUE(Board().ReadHeader(request));
            ASSERT_TRUE(Board().WriteHeader(Board().Header('A', 'B', 1, 5, 0)));
        }
        ASSERT_TRUE(Board().AnswerConnect(6, 1, 3, 0, 512));
    });
    const uint8_t sub = 1;
    EXPECT_EQ(0u, CommConnect(handle_, 'B', &sub, nullptr, nullptr));
    boardSide.join();
    EXPECT_EQ(512u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));
}

TEST_F(BoardLinkTest, BoardAnsweringOnlyGarbageEndsTheConnect) {
    // Every request is answered with a valid header that is not the reply: the exchange must end,
    // after 64 such answers per attempt and 6 attempts.
    int requests = 0;
    std::thread boardSide([&] {
        LinkHeader request{};
        while (Board().ReadHeader(request, 3000)) {
            ++requests;
            if (!Board().WriteHeader(Board().Header('D', 0, 0, 0, 0))) break;
        }
    });
    const uint8_t sub = 1;
    AsyncCall connect([&] { return CommConnect(handle_, 'C', &sub, nullptr, nullptr); });
    ASSERT_TRUE(connect.Finished(60000));
    EXPECT_EQ(1167u, connect.Result());
    EXPECT_EQ('C', Option<uint8_t>(COMM_OPT_CHANNEL));  // stored even though the connect failed
    Board().Hangup();
    boardSide.join();
    EXPECT_EQ(6 * 64, requests);
}

TEST_F(BoardLinkTest, BoardGoneDuringConnectEndsItAtOnce) {
    std::thread boardSide([&] {
        LinkHeader request{};
        EXPECT_TRUE(Board().ReadHeader(request));
        Board().Hangup();
    });
    AsyncCall connect([&] { return CommConnect(handle_, 'B', nullptr, nullptr, nullptr); });
    ASSERT_TRUE(connect.Finished(10000));  // well before six reply time-outs of 3 s
    boardSide.join();
    EXPECT_EQ(1167u, connect.Result());
    uint8_t buffer[4];
    EXPECT_EQ(1167u, CommSendData(handle_, buffer, 4, 'B', 1));
    EXPECT_EQ(16384u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));  // options still answer
    EXPECT_EQ(0u, CommClose(handle_));
}

// A connect waiting for a silent or trickling board ends as soon as another thread disconnects
// or closes the handle, not after the attempts (six reply time-outs of 3 s).
TEST_F(BoardLinkTest, DisconnectOrCloseFromAnotherThreadEndsAWaitingConnect) {
    struct Case {
        const char *what;
        bool trickle;  // the board answers each request with a stray header after 500 ms
        bool close;    // CommClose instead of CommDisconnect
    };
    for (const Case c : {Case{"silent, disconnect", false, false}, Case{"trickling, disconnect", true, false},
                         Case{"silent, close", false, true}}) {
        SCOPED_TRACE(c.what);
        UniqueHandle boardStop = MakeEvent(true, false);
        UniqueHandle requestsSeen = MakeEvent(true, false);  // the cut comes once the exchange runs
        std::thread boardSide([&] {
            LinkHeader request{};
            int requests = 0;
            while (::WaitForSingleObject(boardStop.Get(), 0) == WAIT_TIMEOUT) {
                if (!Board().ReadHeader(request, 200)) continue;
                if (++requests == (c.trickle ? 3 : 1)) ::SetEvent(requestsSeen.Get());
                if (c.trickle && ::WaitForSingleObject(boardStop.Get(), 500) == WAIT_TIMEOUT)
                    Board().WriteHeader(Board().Header('D', 0, 0, 0, 0));
            }
        });
        const uint8_t sub = 1;
        AsyncCall connect([&] { return CommConnect(handle_, 'B', &sub, nullptr, nullptr); });
        EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(requestsSeen.Get(), 5000));
        // The cut runs on a thread of its own: a cut that waits for the connect must fail too.
        const auto cutStart = std::chrono::steady_clock::now();
        AsyncCall cut([&] { return c.close ? CommClose(handle_) : CommDisconnect(handle_); });
        EXPECT_TRUE(connect.Finished(3000));
        std::printf("[ figures  ] %s: the connect ended %.2f s after the cut\n", c.what,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - cutStart).count());
        EXPECT_TRUE(cut.Finished());
        EXPECT_EQ(0u, cut.Result());
        EXPECT_EQ(1167u, connect.Result());
        ::SetEvent(boardStop.Get());
        boardSide.join();
        if (c.close) return;  // the handle is gone; the last case
    }
}

// A board that answers every request with a stray header uses up an attempt once its reply time
// is over, however often it answers: the connect ends after the attempts' reply times.
TEST_F(BoardLinkTest, TricklingBoardCannotStretchTheConnect) {
    LinkParametersForTest p;
    p.attempts = 2;
    p.replyTimeout = 1;
    ConnectRunning(p);
    ASSERT_EQ(0u, CommDisconnect(handle_));
    std::thread boardSide([&] {
        LinkHeader request{};
        while (Board().ReadHeader(request, 2000)) {
            ::Sleep(300);  // the board's own pace: a stray header 300 ms after each request
            if (!Board().WriteHeader(Board().Header('D', 0, 0, 0, 0))) break;
        }
    });
    const uint8_t sub = 1;
    AsyncCall connect([&] { return CommConnect(handle_, 'B', &sub, nullptr, nullptr); });
    // Two attempts of 1 s each; before, each stray restarted the reply wait (2 x 64 x 300 ms).
    EXPECT_TRUE(connect.Finished(10000));
    EXPECT_EQ(1167u, connect.Result());
    Board().Hangup();
    boardSide.join();
}

// ---- Sending ---------------------------------------------------------------------------------

TEST_F(BoardLinkTest, FortyThousandBytesGoOutAsThreePackets) {
    ConnectRunning();
    const std::vector<uint8_t> message = PatternPayload(40000, 3);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 40000, 0x42, 0x01); });
    std::vector<uint8_t> received;
    const uint32_t expectedSizes[] = {16384, 16384, 7232};
    const uint32_t expectedSequences[] = {1, 2, 0xFFFFFFFFu};
    for (int i = 0; i < 3; ++i) {
        LinkHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        EXPECT_EQ('S', header.kind);
        EXPECT_EQ(0x42, header.channel);
        EXPECT_EQ(0x01, header.subchannel);
        EXPECT_EQ(expectedSequences[i], Board().Sequence(header));
        EXPECT_EQ(expectedSizes[i], payload.size());
        received.insert(received.end(), payload.begin(), payload.end());
        ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 0x42, 0x01, expectedSequences[i], 0)));
    }
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
    EXPECT_EQ(message, received);
}

TEST_F(BoardLinkTest, SmallMessageIsOnePacketWithTheLastSequence) {
    ConnectRunning();
    const std::vector<uint8_t> message = PatternPayload(100, 9);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 100, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    const uint8_t expectedHeader[16] = {'S', 'A', 'B', 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 100, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&header, expectedHeader, 16));
    EXPECT_EQ(message, payload);
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
}

TEST_F(BoardLinkTest, SequenceBytesOnTheWireFollowTheLinkFlags) {
    for (uint8_t flags : {uint8_t(0x00), uint8_t(0x10)}) {
        LinkParametersForTest p;
        p.flags = flags;
        p.maxPayload = 8;
        ConnectRunning(p);
        const std::vector<uint8_t> message = PatternPayload(12, 1);
        AsyncCall send([&] { return CommSendData(handle_, message.data(), 12, 'B', 1); });
        LinkHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        const uint8_t network[8] = {0, 0, 0, 1, 0, 0, 0, 8};
        const uint8_t little[8] = {1, 0, 0, 0, 8, 0, 0, 0};
        EXPECT_EQ(0, std::memcmp(header.sequence, flags ? little : network, 8)) << int(flags);
        ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 1, 0)));
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        EXPECT_EQ(0xFFFFFFFFu, Board().Sequence(header));
        EXPECT_EQ(4u, Board().Length(header));
        ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
        ASSERT_TRUE(send.Finished());
        EXPECT_EQ(0u, send.Result());
        ASSERT_EQ(0u, CommDisconnect(handle_));
        EXPECT_EQ(0, Option<uint8_t>(COMM_OPT_CHANNEL));
    }
}

TEST_F(BoardLinkTest, UnansweredPacketIsSentSixTimesThenTimesOut) {
    LinkParametersForTest p;
    p.replyTimeout = 0;  // every answer wait ends at once
    ConnectRunning(p);
    const std::vector<uint8_t> message = PatternPayload(30, 2);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 30, 'B', 1); });
    for (int i = 0; i < 6; ++i) {
        LinkHeader header{};
        std::vector<uint8_t> payload;
        ASSERT_TRUE(Board().ReadPacket(header, payload)) << i;
        EXPECT_EQ(0xFFFFFFFFu, Board().Sequence(header));
        EXPECT_EQ(message, payload);
    }
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(1460u, send.Result());
    EXPECT_TRUE(Board().QuietFor(200));  // no seventh copy
}

TEST_F(BoardLinkTest, RefusalsAreRepeatedUntilTaken) {
    ConnectRunning();
    const std::vector<uint8_t> message = PatternPayload(50, 4);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 50, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        EXPECT_EQ(message, payload);
        ASSERT_TRUE(Board().WriteHeader(Board().Header(i < 2 ? 'n' : 'a', 'B', 1, 0xFFFFFFFFu, 0)));
    }
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
}

TEST_F(BoardLinkTest, SixRefusalsEndTheSend) {
    ConnectRunning();
    const std::vector<uint8_t> message = PatternPayload(50, 4);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 50, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(Board().ReadPacket(header, payload));
        ASSERT_TRUE(Board().WriteHeader(Board().Header('n', 'B', 1, 0xFFFFFFFFu, 0)));
    }
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(1460u, send.Result());
}

TEST_F(BoardLinkTest, WithoutTimeoutsOneRefusalEndsTheSend) {
    LinkParametersForTest p;
    p.flags = 0x01;
    ConnectRunning(p);
    EXPECT_EQ(1u, Option<uint32_t>(COMM_OPT_NO_TIMEOUTS));
    const std::vector<uint8_t> message = PatternPayload(20, 5);
    AsyncCall send([&] { return CommSendData(handle_, message.data(), 20, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    ASSERT_TRUE(Board().WriteHeader(Board().Header('n', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(1460u, send.Result());
    // The next thing on the wire is the next message, not a repeat.
    AsyncCall next([&] { return CommSendData(handle_, "zz", 2, 'B', 1); });
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    EXPECT_EQ(std::vector<uint8_t>({'z', 'z'}), payload);
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(next.Finished());
    EXPECT_EQ(0u, next.Result());
}

TEST_F(BoardLinkTest, AnswersForOtherAddressesOrSequencesAreIgnored) {
    LinkParametersForTest p;
    p.flags = 0x01;  // waits for an answer without a time-out, and one refusal would end it
    ConnectRunning(p);
    AsyncCall send([&] { return CommSendData(handle_, "abc", 3, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    ASSERT_TRUE(Board().WriteHeader(Board().Header('n', 'B', 2, 0xFFFFFFFFu, 0)));  // other sub-channel
    ASSERT_TRUE(Board().WriteHeader(Board().Header('n', 'B', 1, 7, 0)));            // other sequence
    ASSERT_TRUE(Board().WriteHeader(Board().Header('n', 'B', 0, 0xFFFFFFFFu, 0)));  // address byte 0
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
}

TEST_F(BoardLinkTest, RepeatRequestWhileSendingCountsAsARefusal) {
    ConnectRunning();
    AsyncCall send([&] { return CommSendData(handle_, "abc", 3, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    ASSERT_TRUE(Board().WriteHeader(RepeatRequest()));
    ASSERT_TRUE(Board().ReadPacket(header, payload));  // sent again
    EXPECT_EQ(std::vector<uint8_t>({'a', 'b', 'c'}), payload);
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
}

// ---- Receiving -------------------------------------------------------------------------------

TEST_F(BoardLinkTest, ReceivedPacketIsAcknowledgedAndDelivered) {
    ConnectRunning();
    const std::vector<uint8_t> message = PatternPayload(300, 6);
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, message));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    std::vector<uint8_t> buffer(1000);
    uint32_t length = 1000;
    uint8_t channel = 0, subchannel = 0;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, &channel, &subchannel));
    ASSERT_EQ(300u, length);
    buffer.resize(length);
    EXPECT_EQ(message, buffer);
    EXPECT_EQ('B', channel);
    EXPECT_EQ(1, subchannel);
}

TEST_F(BoardLinkTest, RepeatRequestRepeatsTheLastAnswer) {
    ConnectRunning();
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, PatternPayload(10, 1)));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    ASSERT_TRUE(Board().WriteHeader(RepeatRequest()));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
}

TEST_F(BoardLinkTest, LittleEndianBoardIsAnsweredInItsOrder) {
    LinkParametersForTest p;
    p.flags = 0x10;
    ConnectRunning(p);
    const std::vector<uint8_t> first = PatternPayload(40, 1), last = PatternPayload(20, 2);
    ASSERT_TRUE(Board().SendPacket('B', 1, 1, first));
    LinkHeader answer{};
    ASSERT_TRUE(Board().ReadHeader(answer));
    const uint8_t expected[16] = {'s', 'a', 'B', 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&answer, expected, 16));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, last));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    EXPECT_EQ(Concat({first, last}), ReceiveMessage(100));
}

TEST_F(BoardLinkTest, DuplicateIsAcknowledgedAgainAndDeliveredOnce) {
    ConnectRunning();
    const auto p1 = PatternPayload(10, 1), p2 = PatternPayload(10, 2), p3 = PatternPayload(10, 3);
    ASSERT_TRUE(Board().SendPacket('B', 1, 1, p1));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 1));
    ASSERT_TRUE(Board().SendPacket('B', 1, 2, p2));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 2));
    ASSERT_TRUE(Board().SendPacket('B', 1, 2, p2));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 2));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, p3));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    EXPECT_EQ(Concat({p1, p2, p3}), ReceiveMessage(100));
}

TEST_F(BoardLinkTest, RepeatedLastPacketIsDeliveredTwice) {
    ConnectRunning();
    const auto p = PatternPayload(10, 1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, p));
        EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(p, ReceiveMessage(100));
    }
}

TEST_F(BoardLinkTest, OutOfOrderPacketsAreDroppedWithoutAnswer) {
    ConnectRunning();
    const auto p1 = PatternPayload(10, 1), p2 = PatternPayload(10, 2), p3 = PatternPayload(10, 3),
               stray = PatternPayload(10, 9);
    ASSERT_TRUE(Board().SendPacket('B', 1, 1, p1));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 1));
    ASSERT_TRUE(Board().SendPacket('B', 1, 3, stray));  // 3 after 1: dropped
    ASSERT_TRUE(Board().SendPacket('B', 2, 2, stray));  // 2 from another address: dropped
    ASSERT_TRUE(Board().SendPacket('B', 1, 2, p2));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 2));  // the first answer after the drops is this one
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, p3));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    EXPECT_EQ(Concat({p1, p2, p3}), ReceiveMessage(100));
}

TEST_F(BoardLinkTest, UnansweredChannelGetsNoAnswers) {
    ConnectRunning({}, 'L', 1);
    const auto p = PatternPayload(10, 1);
    ASSERT_TRUE(Board().SendPacket('L', 1, 0xFFFFFFFFu, p));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, p));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));  // the only answer on the wire
    std::vector<uint8_t> buffer(100);
    uint32_t length = 100;
    uint8_t channel = 0;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, &channel, nullptr));
    EXPECT_EQ('L', channel);
    EXPECT_EQ(10u, length);
}

TEST_F(BoardLinkTest, LatePayloadIsRefused) {
    ConnectRunning();  // payload wait 1 s
    ASSERT_TRUE(Board().WriteHeader(Board().Header('A', 'B', 1, 0xFFFFFFFFu, 10)));  // the payload never comes
    EXPECT_TRUE(Board().ExpectAnswer('n', 'B', 1, 0xFFFFFFFFu, 5000));
    // The board sends the packet again and it is taken.
    const auto payload = PatternPayload(10, 3);
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, payload));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    ASSERT_EQ(payload, ReceiveMessage(100));
}

TEST_F(BoardLinkTest, TooSmallBufferGivesTheNeededSizeAndKeepsTheMessage) {
    ConnectRunning();
    const auto message = PatternPayload(20, 8);
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, message));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    std::vector<uint8_t> buffer(20);
    uint32_t length = 16;
    ASSERT_EQ(8u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
    EXPECT_EQ(20u, length);
    length = 20;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
    EXPECT_EQ(20u, length);
    EXPECT_EQ(message, buffer);
}

TEST_F(BoardLinkTest, MessageThatFitsOnlyPartlyIsDeliveredInParts) {
    ConnectRunning();
    const auto first = PatternPayload(60, 1), second = PatternPayload(60, 2);
    ASSERT_TRUE(Board().SendPacket('B', 1, 1, first));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 1));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, second));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    std::vector<uint8_t> buffer(100);
    uint32_t length = 100;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
    ASSERT_EQ(60u, length);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
    length = 100;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
    ASSERT_EQ(60u, length);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), buffer.begin()));
}

// A message being put together ends unfinished (COMM_ERROR_TIMEOUT) when a new one begins, or when a packet of
// another address comes: such a packet never continues it (a board's left-over packet written
// during another message would otherwise be delivered as that message's end). The packet stays
// and starts the next message.
TEST_F(BoardLinkTest, NewMessageBeforeTheLastEndedGivesTimeout) {
    ConnectRunning();
    const auto a = PatternPayload(10, 1), b = PatternPayload(10, 2);
    struct Case {
        const char *what;
        std::vector<uint32_t> nextSequences;  // the B/FF packets after B/1's first one
    };
    for (const Case &c :
         {Case{"a new message", {1, 0xFFFFFFFFu}}, Case{"another address's last packet", {0xFFFFFFFFu}}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Board().SendPacket('B', 1, 1, a));
        EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 1));
        for (uint32_t sequence : c.nextSequences) {
            ASSERT_TRUE(Board().SendPacket('B', 0xFF, sequence, b));
            EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 0xFF, sequence));
        }
        std::vector<uint8_t> buffer(100);
        uint32_t length = 100;
        EXPECT_EQ(1460u, CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr));
        length = 100;
        uint8_t subchannel = 0;
        ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, nullptr, &subchannel));
        EXPECT_EQ(0xFF, subchannel);
        buffer.resize(length);
        EXPECT_EQ(c.nextSequences.size() == 2 ? Concat({b, b}) : b, buffer);
    }
}

TEST_F(BoardLinkTest, RingOfOneSlotHoldsTheBoardBack) {
    const uint32_t one = 1;
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &one));
    ConnectRunning();
    const auto m1 = PatternPayload(10, 1), m2 = PatternPayload(10, 2), m3 = PatternPayload(10, 3);
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, m1));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, m2));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));  // read, then it waits for a slot
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, m3));
    EXPECT_TRUE(Board().QuietFor(300));  // the third is not read while the ring is full
    for (const std::vector<uint8_t> *each : {&m1, &m2, &m3}) {
        const std::vector<uint8_t> &expected = *each;
        ASSERT_EQ(expected, ReceiveMessage(100));
        if (&expected == &m1) {
            EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));  // now the third is read
        }
    }
}

// ---- The receive filter ----------------------------------------------------------------------

TEST_F(BoardLinkTest, FilterTakesOwnAddressAndBroadcastSubchannelOnly) {
    ConnectRunning({}, 'B', 1);
    const auto broadcast = PatternPayload(10, 1), otherSub = PatternPayload(10, 2),
               otherChannel = PatternPayload(10, 3), own = PatternPayload(10, 4),
               largeForeign = PatternPayload(50, 5), last = PatternPayload(5, 6);
    ASSERT_TRUE(Board().SendPacket('B', 0xFF, 0xFFFFFFFFu, broadcast));
    ASSERT_TRUE(Board().SendPacket('B', 2, 0xFFFFFFFFu, otherSub));
    ASSERT_TRUE(Board().SendPacket('C', 1, 0xFFFFFFFFu, otherChannel));
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, own));
    ASSERT_TRUE(Board().SendPacket('C', 1, 0xFFFFFFFFu, largeForeign));  // does not fit: taken into the spare buffer
    ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, last));
    for (int i = 0; i < 6; ++i) {
        LinkHeader answer{};
        ASSERT_TRUE(Board().ReadHeader(answer));  // every one is acknowledged; the filter acts on delivery
        EXPECT_EQ('a', answer.letter);
    }
    struct Expected {
        std::vector<uint8_t> bytes;
        uint8_t subchannel;
    };
    for (const Expected &expected : {Expected{broadcast, 0xFF}, Expected{own, 1}, Expected{last, 1}}) {
        std::vector<uint8_t> buffer(16);
        uint32_t length = 16;
        uint8_t channel = 0, subchannel = 0;
        ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, &channel, &subchannel));
        buffer.resize(length);
        EXPECT_EQ(expected.bytes, buffer);
        EXPECT_EQ('B', channel);
        EXPECT_EQ(expected.subchannel, subchannel);
    }
}

TEST_F(BoardLinkTest, FilterOffTakesEveryMessage) {
    const uint32_t off = 0;
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_FILTER, &off));
    ConnectRunning({}, 'B', 1);
    ASSERT_TRUE(Board().SendPacket('Z', 9, 0xFFFFFFFFu, PatternPayload(10, 1)));
    EXPECT_TRUE(Board().ExpectAnswer('a', 'Z', 9, 0xFFFFFFFFu));
    std::vector<uint8_t> buffer(16);
    uint32_t length = 16;
    uint8_t channel = 0, subchannel = 0;
    ASSERT_EQ(0u, CommReceiveData(handle_, buffer.data(), &length, &channel, &subchannel));
    EXPECT_EQ('Z', channel);
    EXPECT_EQ(9, subchannel);
}

TEST_F(BoardLinkTest, HeaderSentAgainBeforeItsPayloadIsNotTakenForPayload) {
    ConnectRunning();
    // Header written twice (or three times), then the payload: long payloads, one of exactly a
    // header's size, and short ones, of which only the copy's first bytes fill the payload read.
    struct Case {
        uint32_t size;
        int headers;
    };
    const Case cases[] = {{300, 2}, {40, 2}, {16, 2}, {15, 2}, {5, 2}, {1, 2}, {7, 3}, {64, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes after " << c.headers << " headers");
        const std::vector<uint8_t> payload = PatternPayload(c.size, static_cast<uint8_t>(c.size));
        const LinkHeader header = Board().Header('A', 'B', 1, 0xFFFFFFFFu, c.size);
        for (int copy = 1; copy < c.headers; ++copy) ASSERT_TRUE(Board().WriteHeader(header));
        ASSERT_TRUE(Board().SendPacket('B', 1, 0xFFFFFFFFu, payload));
        EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
        ASSERT_EQ(payload, ReceiveMessage());
    }
}

TEST_F(BoardLinkTest, ShortPayloadThatReadsLikeItsHeaderIsDelivered) {
    ConnectRunning();
    // Real payloads equal to the start of their own header, alone on the link or with the next
    // packet right behind them, whose first bytes the reader takes while looking for a copy.
    struct Case {
        uint32_t size;
        bool nextFollows;
    };
    const Case cases[] = {{1, false}, {2, false}, {9, false}, {15, false}, {1, true}, {6, true}, {15, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, next packet behind: " << c.nextFollows);
        const LinkHeader header = Board().Header('A', 'B', 1, 0xFFFFFFFFu, c.size);
        const auto *headerBytes = reinterpret_cast<const uint8_t *>(&header);
        const std::vector<uint8_t> first(headerBytes, headerBytes + c.size);
        const std::vector<uint8_t> next = PatternPayload(20, 4);
        std::vector<uint8_t> stream(headerBytes, headerBytes + sizeof header);
        stream.insert(stream.end(), first.begin(), first.end());
        if (c.nextFollows) {
            const LinkHeader nextHeader = Board().Header('A', 'B', 1, 0xFFFFFFFFu, 20);
            const auto *nextBytes = reinterpret_cast<const uint8_t *>(&nextHeader);
            stream.insert(stream.end(), nextBytes, nextBytes + sizeof nextHeader);
            stream.insert(stream.end(), next.begin(), next.end());
        }
        ASSERT_TRUE(Board().Write(stream.data(), static_cast<DWORD>(stream.size())));
        EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
        std::vector<const std::vector<uint8_t> *> delivered{&first};
        if (c.nextFollows) {
            EXPECT_TRUE(Board().ExpectAnswer('a', 'B', 1, 0xFFFFFFFFu));
            delivered.push_back(&next);
        }
        for (const std::vector<uint8_t> *expected : delivered) {
            ASSERT_EQ(*expected, ReceiveMessage());
        }
    }
}
