// Stress: several simulated boards, each served by three host threads at once
// (two sending, one receiving) on one Communicator handle, while a controller
// unplugs a board at random moments and plugs it in again. Nothing may hang,
// every message reported sent must be on its board, every message delivered
// (to either side) must be one that was sent, byte for byte.
//
//   communicator_stress_test.exe [--seconds=N]   (20 by default)
#include "CommApi.h"
#include "ReliabilitySupport.h"
#include "SimulatedBoard.h"
#include "Thread.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

unsigned secondsToRun = 20;
constexpr unsigned kBoards = 3;
constexpr DWORD kWait = 10000;
constexpr DWORD kCallBoundMs = 60000;

struct Totals {
    std::atomic<uint32_t> sent{0}, sendFailed{0}, received{0}, sessions{0}, unplugs{0}, hangs{0};
    std::atomic<uint32_t> invented{0}, lost{0}, duplicates{0};
};

class StressBoard {
public:
    StressBoard(unsigned index, Totals &totals) : index_(index), totals_(totals) {
        boardsim::BoardConfig config;
        config.instance = UniqueName("stress");
        config.updateMode = false;
        config.link.replyTimeoutSeconds = 1;
        config.maxPayload = 4096;
        board_ = std::make_unique<boardsim::SimulatedBoard>(config);
    }
    DWORD Start() { return board_->Start(); }
    boardsim::SimulatedBoard &Board() { return *board_; }

    // Sessions until `stop`: open, connect, three callers until the link is lost or stop, close.
    void Run(const std::atomic<bool> &stop) {
        while (!stop) {
            HCOMM handle = nullptr;
            if (CommOpen(board_->InterfacePath().c_str(), 0, &handle, nullptr, 26214) != 0) {
                board_->WaitListening(100);
                continue;
            }
            const uint8_t subchannel = 1;
            if (CommConnect(handle, 'B', &subchannel, nullptr, nullptr) == 0) {
                ++totals_.sessions;
                std::atomic<bool> lost{false};
                Thread callers[3];
                for (int i = 0; i < 2; ++i) callers[i].Start([&] { Send(handle, stop, lost); });
                callers[2].Start([&] { Receive(handle, stop, lost); });
                // The receive waits for the board's messages: once the senders are done, a
                // disconnect ends it (on purpose, from this thread).
                // Senders go on until the link is lost or the run ends.
                for (int i = 0; i < 2; ++i)
                    if (!callers[i].Join(secondsToRun * 1000 + kCallBoundMs)) Hang();
                CommDisconnect(handle);
                if (!callers[2].Join(kCallBoundMs)) Hang();
            }
            CommDisconnect(handle);
            CommClose(handle);
        }
    }

    // After the run: every message the board took must have been sent; every one reported sent
    // must be among them.
    void Reconcile() {
        boardsim::HostMessage message;
        std::set<uint32_t> taken;
        while (board_->WaitHostMessage(&message, 200)) {
            const uint32_t serial = CheckedSerial(message.data.data(), message.data.size());
            std::lock_guard<std::mutex> hold(mutex_);
            if (serial == 0 || attempted_.count(serial) == 0) ++totals_.invented;
            taken.insert(serial);
        }
        std::lock_guard<std::mutex> hold(mutex_);
        for (uint32_t serial : succeeded_)
            if (taken.count(serial) == 0) ++totals_.lost;
    }

private:
    void Hang() {
        ++totals_.hangs;
        std::printf("stress: a call hangs\n");
        std::fflush(stdout);
        std::abort();
    }
    uint32_t NextSerial() { return (index_ + 1) << 24 | ++serial_; }

    void Send(HCOMM handle, const std::atomic<bool> &stop, std::atomic<bool> &lost) {
        while (!stop && !lost) {
            uint32_t serial;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                serial = NextSerial();
                attempted_.insert(serial);
            }
            const std::vector<uint8_t> bytes = MessageBytes(serial, 1 + (serial * 2654435761u) % 9000);
            const CommResult result = CommSendData(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), 'B', 2);
            if (result == 0) {
                ++totals_.sent;
                std::lock_guard<std::mutex> hold(mutex_);
                succeeded_.insert(serial);
            } else {
                ++totals_.sendFailed;
                if (result == COMM_ERROR_DEVICE_NOT_CONNECTED) lost = true;
            }
            // The board's side: a message for the receiver now and then.
            if (serial % 3 == 0) {
                const uint32_t boardSerial = 0x80000000u | serial;
                {
                    std::lock_guard<std::mutex> hold(mutex_);
                    boardQueued_.insert(boardSerial);
                }
                board_->QueueMessage('B', 0xFF, MessageBytes(boardSerial, 1 + serial % 5000));
            }
        }
    }

    void Receive(HCOMM handle, const std::atomic<bool> &stop, std::atomic<bool> &lost) {
        std::vector<uint8_t> buffer(16384);
        while (!stop && !lost) {
            uint32_t length = static_cast<uint32_t>(buffer.size());
            const CommResult result = CommReceiveData(handle, buffer.data(), &length, nullptr, nullptr);
            if (result != 0) {
                if (result == COMM_ERROR_DEVICE_NOT_CONNECTED) return;
                continue;
            }
            ++totals_.received;
            const uint32_t serial = CheckedSerial(buffer.data(), length);
            std::lock_guard<std::mutex> hold(mutex_);
            if (serial == 0 || boardQueued_.count(serial) == 0) ++totals_.invented;
            else if (!hostTaken_.insert(serial).second) ++totals_.duplicates;
        }
    }

    unsigned index_;
    Totals &totals_;
    std::unique_ptr<boardsim::SimulatedBoard> board_;
    std::mutex mutex_;
    uint32_t serial_ = 0;
    std::set<uint32_t> attempted_, succeeded_, boardQueued_, hostTaken_;
};

}  // namespace

TEST(CommunicatorStress, BoardsAndHostThreadsWithRandomUnplugs) {
    Totals totals;
    std::vector<std::unique_ptr<StressBoard>> boards;
    for (unsigned i = 0; i < kBoards; ++i) {
        boards.push_back(std::make_unique<StressBoard>(i, totals));
        ASSERT_EQ(0u, boards.back()->Start());
    }
    std::atomic<bool> stop{false};
    std::vector<Thread> lanes(kBoards);
    for (unsigned i = 0; i < kBoards; ++i) ASSERT_TRUE(lanes[i].Start([&, i] { boards[i]->Run(stop); }));
    // The controller: a random board is pulled and plugged in again, over and over.
    boardsim::SeededRandom random(77);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < secondsToRun * 1000) {
        ::Sleep(200 + random.Below(600));
        boardsim::SimulatedBoard &board = boards[random.Below(kBoards)]->Board();
        if (board.Unplug() == 0) {
            ++totals.unplugs;
            ::Sleep(random.Below(300));
            board.Replug();
        }
    }
    stop = true;
    for (Thread &lane : lanes) ASSERT_TRUE(lane.Join(2 * kCallBoundMs)) << "a board's host threads hang";
    for (auto &board : boards) board->Reconcile();
    std::printf("stress: %u boards x 3 host threads, %u s, %u unplugs, %u sessions: %u messages sent (%u sends "
                "failed), %u received; %u hangs, %u lost, %u invented or corrupted, %u duplicates\n",
                kBoards, secondsToRun, totals.unplugs.load(), totals.sessions.load(), totals.sent.load(),
                totals.sendFailed.load(), totals.received.load(), totals.hangs.load(), totals.lost.load(),
                totals.invented.load(), totals.duplicates.load());
    EXPECT_EQ(0u, totals.hangs.load());
    EXPECT_EQ(0u, totals.lost.load());
    EXPECT_EQ(0u, totals.invented.load());
    EXPECT_GT(totals.unplugs.load(), 0u);
    EXPECT_GT(totals.sent.load(), 0u);
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) secondsToRun = static_cast<unsigned>(std::strtoul(argv[i] + 10, nullptr, 10));
    return RUN_ALL_TESTS();
}
