// Many callers on one link, stopping a link under waiting callers, a board that goes
// away, calls racing the close of their handle, and resource use over many connections.
#include "CloseRace.h"
#include "LinkTestSupport.h"
#include <atomic>
#include <vector>

using wirrow::LinkHeader;

namespace {

// A board that acknowledges every data packet and sends every complete message back
// as one packet, until the host leaves.
void EchoBoard(PipeBoard &board, std::atomic<int> &echoed) {
    std::vector<uint8_t> message;
    for (;;) {
        LinkHeader header{};
        if (!board.ReadHeader(header, 10000)) return;
        if (header.letter != 'A') continue;  // the host's answers to our echoes
        std::vector<uint8_t> payload(board.Length(header));
        if (!payload.empty() && !board.ReadExact(payload.data(), static_cast<DWORD>(payload.size()), 10000)) return;
        const uint32_t sequence = board.Sequence(header);
        if (!board.WriteHeader(board.Header('a', header.channel, header.subchannel, sequence, 0))) return;
        message.insert(message.end(), payload.begin(), payload.end());
        if (sequence != 0xFFFFFFFFu) continue;
        if (!board.SendPacket(header.channel, header.subchannel, 0xFFFFFFFFu, message)) return;
        message.clear();
        ++echoed;
    }
}

}  // namespace

TEST_F(BoardLinkTest, ManyThreadsSendAndReceiveOnOneHandle) {
    LinkParametersForTest p;
    p.maxPayload = 1024;
    ConnectRunning(p);
    std::atomic<int> echoed{0};
    std::thread board([&] { EchoBoard(Board(), echoed); });
    constexpr int kThreads = 6, kMessages = 40;
    std::atomic<int> sendFailures{0}, receiveFailures{0};
    std::atomic<uint64_t> sentSum{0}, receivedSum{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kMessages; ++i) {
                std::vector<uint8_t> message(1 + (t * 37 + i * 11) % 1000, static_cast<uint8_t>(t * 16 + i));
                uint64_t sum = 0;
                for (uint8_t b : message) sum += b;
                if (CommSendData(handle_, message.data(), static_cast<uint32_t>(message.size()), 'B', 1) == 0)
                    sentSum += sum;
                else
                    ++sendFailures;
            }
        });
        threads.emplace_back([&] {
            std::vector<uint8_t> buffer(1024);
            for (int i = 0; i < kMessages; ++i) {
                uint32_t length = 1024;
                if (CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr) != 0) {
                    ++receiveFailures;
                    continue;
                }
                uint64_t sum = 0;
                for (uint32_t k = 0; k < length; ++k) sum += buffer[k];
                receivedSum += sum;
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(0, sendFailures.load());
    EXPECT_EQ(0, receiveFailures.load());
    EXPECT_EQ(kThreads * kMessages, echoed.load());
    EXPECT_EQ(sentSum.load(), receivedSum.load());
    ASSERT_EQ(0u, CommDisconnect(handle_));
    Board().Hangup();
    board.join();
}

TEST_F(BoardLinkTest, DisconnectReleasesEveryWaitingCaller) {
    LinkParametersForTest p;
    p.flags = 0x01;  // answers are awaited without a time-out
    ConnectRunning(p);
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
    AsyncCall send([&] { return CommSendData(handle_, "first", 5, 'B', 1); });
    LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));  // the first send is in flight now
    // Queued behind the one in flight; no worker would serve it after the stop.
    AsyncCall queued([&] { return CommSendData(handle_, "second", 6, 'B', 1); });
    EXPECT_FALSE(queued.Finished(200));
    ASSERT_EQ(0u, CommDisconnect(handle_));
    ASSERT_TRUE(receive.Finished());
    ASSERT_TRUE(send.Finished());
    ASSERT_TRUE(queued.Finished());
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_EQ(1167u, send.Result());
    EXPECT_EQ(1167u, queued.Result());
    EXPECT_EQ(0, Option<uint8_t>(COMM_OPT_CHANNEL));
    // Calls after the stop return at once.
    length = sizeof(buffer);
    EXPECT_EQ(1167u, CommReceiveData(handle_, buffer, &length, nullptr, nullptr));
    // And the handle connects again.
    ConnectRunning();
    EXPECT_EQ('B', Option<uint8_t>(COMM_OPT_CHANNEL));
}

TEST_F(BoardLinkTest, CallsRacingWithDisconnectAllReturn) {
    ConnectRunning();
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<AsyncCall>> calls;
    std::vector<std::vector<uint8_t>> buffers(8, std::vector<uint8_t>(32));
    std::vector<uint32_t> lengths(8, 32);
    for (int i = 0; i < 8; ++i)
        calls.push_back(std::make_unique<AsyncCall>([&, i] {
            while (!go) ::SwitchToThread();
            return CommReceiveData(handle_, buffers[i].data(), &lengths[i], nullptr, nullptr);
        }));
    go = true;
    ASSERT_EQ(0u, CommDisconnect(handle_));
    for (auto &call : calls) {
        ASSERT_TRUE(call->Finished());
        EXPECT_EQ(1167u, call->Result());
    }
}

TEST_F(BoardLinkTest, BoardLeavingEndsWaitingCallsAndTheLink) {
    ConnectRunning();
    const DWORD threadsRunning = ProcessThreadCount();
    uint8_t buffer[64];
    uint32_t length = sizeof(buffer);
    AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
    Board().Hangup();
    ASSERT_TRUE(receive.Finished());
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_EQ(1167u, CommSendData(handle_, "x", 1, 'B', 1));
    EXPECT_EQ(16384u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));
    // The workers end by themselves instead of reading a dead device forever. Nothing signals
    // their end to the caller, so the thread count is looked at.
    EXPECT_TRUE(ThreadCountFallsTo(threadsRunning + 1 - 3))  // the receive's own thread may linger
        << ProcessThreadCount() << " threads, " << threadsRunning << " while running";
    EXPECT_EQ(0u, CommDisconnect(handle_));
    EXPECT_EQ(0u, CommClose(handle_));
}

TEST_F(BoardLinkTest, ThousandConnectionsLeaveNoHandlesOrThreads) {
    std::atomic<bool> stop{false};
    std::thread board([&] {
        while (!stop) {
            LinkHeader request{};
            if (!Board().ReadHeader(request, 500)) continue;
            if (request.letter != 'C') continue;
            LinkHeader reply{'s', 'c', 0, 0, {6, 1, 3, 0}, {0, 0, 0x10, 0}, {}};
            if (!Board().WriteHeader(reply)) return;
        }
    });
    const uint8_t sub = 1;
    // One cycle first, so that lazily made objects of the platform exist before counting.
    ASSERT_EQ(0u, CommConnect(handle_, 'B', &sub, nullptr, nullptr));
    ASSERT_EQ(0u, CommDisconnect(handle_));
    const DWORD handlesBefore = ProcessHandleCount();
    const DWORD threadsBefore = ProcessThreadCount();
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        if (CommConnect(handle_, 'B', &sub, nullptr, nullptr) != 0) ++failures;
        if (CommDisconnect(handle_) != 0) ++failures;
    }
    EXPECT_EQ(0, failures);
    EXPECT_LE(ProcessHandleCount(), handlesBefore + 2);
    EXPECT_TRUE(ThreadCountFallsTo(threadsBefore)) << ProcessThreadCount() << " threads, " << threadsBefore << " before";
    stop = true;
    board.join();
}

TEST_F(BoardLinkTest, BoardLeavingWhileTheCallerDisconnectsClosesEverythingOnce) {
    DWORD handlesAfterFirst = 0;
    for (int i = 0; i < 20; ++i) {
        ConnectRunning();
        uint8_t buffer[16];
        uint32_t length = sizeof(buffer);
        AsyncCall receive([&] { return CommReceiveData(handle_, buffer, &length, nullptr, nullptr); });
        // The read worker meets the lost device while the caller stops the link.
        AsyncCall hangup([&] {
            Board().Hangup();
            return CommResult(0);
        });
        EXPECT_EQ(0u, CommDisconnect(handle_));
        ASSERT_TRUE(receive.Finished());
        EXPECT_EQ(1167u, receive.Result());
        ASSERT_TRUE(hangup.Finished());
        EXPECT_EQ(0u, CommClose(handle_));
        ASSERT_TRUE(Board().Relisten());
        ASSERT_EQ(0u, CommOpen(Board().Path().c_str(), 0, &handle_, nullptr, 0));
        ASSERT_TRUE(Board().AcceptHost());
        if (i == 0) handlesAfterFirst = ProcessHandleCount();
    }
    EXPECT_LE(ProcessHandleCount(), handlesAfterFirst + 2);
}

TEST_F(BoardLinkTest, CallsRacingTheCloseOfTheirHandleLeaveNoFreedLinkBehind) {
    constexpr int kRounds = 500;
    CloseRaceCounts counts;
    int opened = 0;
    RunCloseRace(kRounds, 4, {CommSendData, CommReceiveData, CommGetOption, CommDisconnect, CommClose},
                 [&]() -> HCOMM {
                     // The fixture opened the first handle; every later round opens the board again.
                     if (opened++ > 0 && (!Board().Relisten() ||
                                          CommOpen(Board().Path().c_str(), 0, &handle_, nullptr, 0) != 0 ||
                                          !Board().AcceptHost()))
                         return nullptr;
                     return handle_;
                 },
                 counts);
    EXPECT_EQ(4 * kRounds, counts.afterClose.load());
    EXPECT_EQ(0, counts.notSixAfterClose.load());
    EXPECT_EQ(0, counts.unexpected.load());
}
