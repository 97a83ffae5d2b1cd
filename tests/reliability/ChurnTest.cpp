// Churn: many open/connect/send/disconnect/close cycles through Communicator, on
// two host threads at once, each against its own simulated board in a process of
// its own. Every call must succeed, and threads, handles and private bytes must be
// where they were after the first cycles. Prints its figures.
//
//   communicator_churn_test.exe [--cycles=N]   (N cycles in all; 300 by default, 1000 for the long run)
#include "CommApi.h"
#include "ReliabilitySupport.h"
#include "Thread.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

unsigned cyclesInAll = 300;  // the short run of the test suite
constexpr unsigned kHostThreads = 2;
constexpr unsigned kWarmUpCyclesPerThread = 20;
// Growth allowed beyond the counts after the warm-up: the platform makes a few objects of its own
// lazily; a leak of one handle or a kilobyte per cycle shows far beyond this.
constexpr DWORD kHandleSlack = 4;
constexpr uint64_t kPrivateBytesSlack = 1u << 20;

struct StepFailures {
    std::atomic<unsigned> open{0}, connect{0}, send{0}, disconnect{0}, close{0};
    unsigned Total() const { return open + connect + send + disconnect + close; }
};

// A board that has just let the previous host go takes the next open a moment later
// (ERROR_PIPE_BUSY until then): the open is tried again, within a bound.
CommResult OpenBoard(const std::string &path, HCOMM *handle) {
    CommResult result = 0;
    for (int attempt = 0; attempt < 400; ++attempt) {
        result = CommOpen(path.c_str(), 0, handle, nullptr, 26214);
        if (result != ERROR_PIPE_BUSY && result != ERROR_FILE_NOT_FOUND) return result;
        ::Sleep(5);
    }
    return result;
}

void RunCycles(const std::string &path, unsigned cycles, StepFailures &failures) {
    std::vector<uint8_t> message(200);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 13);
    const uint8_t subchannel = 1;
    for (unsigned cycle = 0; cycle < cycles; ++cycle) {
        HCOMM handle = nullptr;
        if (OpenBoard(path, &handle) != 0) {
            ++failures.open;
            continue;
        }
        if (CommConnect(handle, 'B', &subchannel, nullptr, nullptr) != 0) ++failures.connect;
        else if (CommSendData(handle, message.data(), static_cast<uint32_t>(message.size()), 'B', 1) != 0)
            ++failures.send;
        if (CommDisconnect(handle) != 0) ++failures.disconnect;
        if (CommClose(handle) != 0) ++failures.close;
    }
}

ResourceCounts SettledCounts(DWORD expectedThreads) {
    ThreadCountFallsTo(expectedThreads);
    return CountResources();
}

void RunOnHostThreads(const std::vector<std::string> &paths, unsigned cyclesPerThread, StepFailures &failures) {
    std::vector<Thread> threads(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        ASSERT_TRUE(threads[i].Start([&, i] { RunCycles(paths[i], cyclesPerThread, failures); }));
    for (Thread &thread : threads) ASSERT_TRUE(thread.Join(600000)) << "a host thread hangs";
}

}  // namespace

TEST(CommunicatorChurn, CyclesLeaveThreadsHandlesAndPrivateBytesFlat) {
    std::vector<BoardProcess> boards(kHostThreads);
    std::vector<std::string> paths;
    for (BoardProcess &board : boards) {
        ASSERT_TRUE(board.Start(UniqueName("churn"), "--update-mode off --reply-timeout 1"));
        paths.push_back(board.Path());
    }
    StepFailures failures;
    const DWORD threadsIdle = CountResources().threads;
    RunOnHostThreads(paths, kWarmUpCyclesPerThread, failures);
    const ResourceCounts before = SettledCounts(threadsIdle);
    const unsigned cyclesPerThread = (cyclesInAll + kHostThreads - 1) / kHostThreads;
    const DWORD start = ::GetTickCount();
    RunOnHostThreads(paths, cyclesPerThread, failures);
    const DWORD elapsed = ::GetTickCount() - start;
    const ResourceCounts after = SettledCounts(before.threads);
    std::printf("churn: %u cycles on %u threads in %lu ms, %u failed calls "
                "(open %u, connect %u, send %u, disconnect %u, close %u)\n"
                "churn: threads %lu -> %lu, handles %lu -> %lu, private bytes %llu -> %llu (%+lld)\n",
                cyclesPerThread * kHostThreads, kHostThreads, static_cast<unsigned long>(elapsed), failures.Total(),
                failures.open.load(), failures.connect.load(), failures.send.load(), failures.disconnect.load(),
                failures.close.load(), static_cast<unsigned long>(before.threads),
                static_cast<unsigned long>(after.threads), static_cast<unsigned long>(before.handles),
                static_cast<unsigned long>(after.handles), static_cast<unsigned long long>(before.privateBytes),
                static_cast<unsigned long long>(after.privateBytes),
                static_cast<long long>(after.privateBytes) - static_cast<long long>(before.privateBytes));
    EXPECT_EQ(0u, failures.Total());
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.handles, before.handles + kHandleSlack);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateBytesSlack);
    for (BoardProcess &board : boards) EXPECT_TRUE(board.Stop());
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--cycles=", 9) == 0) cyclesInAll = static_cast<unsigned>(std::strtoul(argv[i] + 9, nullptr, 10));
    return RUN_ALL_TESTS();
}
