// The one timed transfer of a link against a named pipe that plays the board's
// end: what each outcome returns, how many bytes it reports, that a cancelled
// transfer lets go of its buffer, and that a lost device is reported once.
#include "DeviceFile.h"
#include "TimedTransfer.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <thread>

using namespace wirrow;

namespace {

class TimedTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        const std::string path =
            "\\\\.\\pipe\\timedtransfer" + std::to_string(::GetCurrentProcessId()) + "n" + std::to_string(++counter);
        board_.Reset(::CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                        1, 1 << 16, 1 << 16, 0, nullptr));
        ASSERT_TRUE(board_);
        ASSERT_EQ(0u, device_.Open(path));
        ASSERT_TRUE(::ConnectNamedPipe(board_.Get(), nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED);
        ASSERT_EQ(0u, io_.Create());
        stop_ = MakeEvent(true, false);
        ASSERT_TRUE(stop_);
    }

    TransferGuard Guard() { return TransferGuard{&device_, stop_.Get(), &TimedTransferTest::Lost, this}; }
    static void Lost(void *test) { ++static_cast<TimedTransferTest *>(test)->lost_; }

    bool BoardWrites(const void *data, DWORD count) {
        DWORD written = 0;
        return ::WriteFile(board_.Get(), data, count, &written, nullptr) && written == count;
    }
    bool BoardReads(void *data, DWORD count) {
        DWORD read = 0;
        return ::ReadFile(board_.Get(), data, count, &read, nullptr) && read == count;
    }

    UniqueHandle board_;
    DeviceFile device_;
    IoBlock io_;
    UniqueHandle stop_;
    int lost_ = 0;
};

}  // namespace

TEST_F(TimedTransferTest, AWriteThatCompletesAtOnceSucceedsWithEveryByteMoved) {
    const char packet[16] = "SA..header.....";
    DWORD moved = 0;
    EXPECT_EQ(TransferOutcome::Done, TimedTransfer(Guard(), TransferDirection::Write, const_cast<char *>(packet), 16,
                                                   io_, 1000, false, &moved));
    EXPECT_EQ(16u, moved);
    char arrived[16] = {};
    ASSERT_TRUE(BoardReads(arrived, 16));
    EXPECT_EQ(0, std::memcmp(packet, arrived, 16));
}

TEST_F(TimedTransferTest, EachOutcomeOfARead) {
    struct Case {
        const char *what;
        DWORD boardBytes;  // written by the board before the read
        bool stopSet;
        DWORD timeoutMs;
        TransferOutcome expected;
        DWORD expectedMoved;
    };
    const Case cases[] = {
        {"all 16 bytes there", 16, false, 1000, TransferOutcome::Done, 16},
        {"10 of 16 bytes", 10, false, 1000, TransferOutcome::Short, 10},
        {"nothing within the time", 0, false, 100, TransferOutcome::TimedOut, 0},
        {"nothing, and the stop", 0, true, INFINITE, TransferOutcome::Stopped, 0},
        {"bytes there and the stop: the transfer wins", 16, true, INFINITE, TransferOutcome::Done, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t sent[16];
        for (int i = 0; i < 16; ++i) sent[i] = static_cast<uint8_t>(0xA0 + i);
        if (c.boardBytes) {
            ASSERT_TRUE(BoardWrites(sent, c.boardBytes));
        }
        if (c.stopSet) ::SetEvent(stop_.Get());
        uint8_t buffer[16] = {};
        DWORD moved = 99;
        EXPECT_EQ(c.expected, TimedTransfer(Guard(), TransferDirection::Read, buffer, 16, io_, c.timeoutMs, false, &moved));
        EXPECT_EQ(c.expectedMoved, moved);
        EXPECT_EQ(0, std::memcmp(sent, buffer, moved));
        ::ResetEvent(stop_.Get());
    }
    EXPECT_EQ(0, lost_);
}

// A cancelled read has let go of its buffer: what the board writes afterwards goes to the next read.
TEST_F(TimedTransferTest, ACancelledReadLeavesTheNextBytesToTheNextRead) {
    uint8_t buffer[16] = {};
    ASSERT_EQ(TransferOutcome::TimedOut, TimedTransfer(Guard(), TransferDirection::Read, buffer, 16, io_, 50, false));
    const char packet[16] = "after the cance";
    ASSERT_TRUE(BoardWrites(packet, 16));
    EXPECT_EQ(0u, std::memcmp(buffer, std::string(16, '\0').data(), 16)) << "the cancelled read wrote nothing";
    ASSERT_EQ(TransferOutcome::Done, TimedTransfer(Guard(), TransferDirection::Read, buffer, 16, io_, 1000, false));
    EXPECT_EQ(0, std::memcmp(packet, buffer, 16));
}

TEST_F(TimedTransferTest, ABoardThatLeavesDuringAReadIsALostDeviceReportedOnce) {
    // Whether the read is pending when the board leaves or starts after it, the board is gone.
    std::thread leave([this] { ::DisconnectNamedPipe(board_.Get()); });
    uint8_t buffer[16];
    const TransferOutcome read = TimedTransfer(Guard(), TransferDirection::Read, buffer, 16, io_, 5000, false);
    leave.join();
    EXPECT_EQ(TransferOutcome::DeviceGone, read);
    EXPECT_EQ(1, lost_);
    EXPECT_EQ(TransferOutcome::DeviceGone, TimedTransfer(Guard(), TransferDirection::Write, buffer, 16, io_, 1000, false));
    EXPECT_EQ(2, lost_);
}

TEST_F(TimedTransferTest, AClosedDeviceFailsAtOnceAsLost) {
    device_.Close();
    uint8_t buffer[16] = {};
    for (TransferDirection direction : {TransferDirection::Read, TransferDirection::Write}) {
        EXPECT_EQ(TransferOutcome::DeviceGone, TimedTransfer(Guard(), direction, buffer, 16, io_, 1000, false));
    }
    EXPECT_EQ(2, lost_);
}

TEST_F(TimedTransferTest, TheDeviceGoneErrorsAreThePipesAndTheBoards) {
    for (DWORD gone : {ERROR_DEVICE_NOT_CONNECTED, ERROR_PIPE_NOT_CONNECTED, ERROR_BROKEN_PIPE})
        EXPECT_TRUE(IsDeviceGoneError(gone)) << gone;
    for (DWORD other : {ERROR_SUCCESS, ERROR_TIMEOUT, ERROR_CRC, ERROR_OPERATION_ABORTED, ERROR_MORE_DATA})
        EXPECT_FALSE(IsDeviceGoneError(other)) << other;
}
