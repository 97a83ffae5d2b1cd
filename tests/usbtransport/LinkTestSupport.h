// Helpers shared by the Wirrow tests: a call run on its own thread with a bounded
// wait for its end, the connect exchange with a scripted board, and process
// resource counts for leak checks.
#pragma once
#include "CommApi.h"
#include "PipeBoard.h"
#include "ThreadCount.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <functional>
#include <thread>

// Runs a Comm API call on its own thread; the test waits for it with a bound.
class AsyncCall {
public:
    explicit AsyncCall(std::function<CommResult()> call) : done_(MakeEvent(true, false)) {
        thread_ = std::thread([this, call] {
            result_ = call();
            ::SetEvent(done_.Get());
        });
    }
    ~AsyncCall() {
        if (thread_.joinable()) thread_.join();
    }
    AsyncCall(const AsyncCall &) = delete;
    AsyncCall &operator=(const AsyncCall &) = delete;

    bool Finished(DWORD timeoutMs = 10000) const { return ::WaitForSingleObject(done_.Get(), timeoutMs) == WAIT_OBJECT_0; }
    CommResult Result() const { return result_; }

private:
    UniqueHandle done_;
    CommResult result_ = 0xDEADBEEF;
    std::thread thread_;
};

struct LinkParametersForTest {
    uint8_t attempts = 6;
    uint8_t packetTimeout = 1;
    uint8_t replyTimeout = 3;
    uint8_t flags = 0;
    uint32_t maxPayload = 16384;
};

// CommConnect with the board answering the connect request on its own thread.
inline CommResult ConnectWithBoard(PipeBoard &board, HCOMM handle, const LinkParametersForTest &p = {},
                                   uint32_t channel = 'B', uint8_t subchannel = 1) {
    bool answered = false;
    std::thread boardSide([&] {
        answered = board.AnswerConnect(p.attempts, p.packetTimeout, p.replyTimeout, p.flags, p.maxPayload);
    });
    CommResult result = CommConnect(handle, channel, &subchannel, nullptr, nullptr);
    boardSide.join();
    return answered ? result : 0xBAD0BAD0u;
}

DWORD ProcessHandleCount();

#include <gtest/gtest.h>
#include <memory>
#include <vector>

// One opened handle on a scripted board, library started; everything is torn down by CommCleanup.
class BoardLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, CommStartup());
        board_ = std::make_unique<PipeBoard>(UniqueName("wl"));
        ASSERT_TRUE(board_->Ready());
        ASSERT_EQ(0u, CommOpen(board_->Path().c_str(), 0, &handle_, nullptr, 0));
        ASSERT_TRUE(board_->AcceptHost());
    }
    void TearDown() override {
        CommCleanup();
        board_.reset();
    }
    PipeBoard &Board() { return *board_; }
    void ConnectRunning(const LinkParametersForTest &p = {}, uint32_t channel = 'B', uint8_t subchannel = 1) {
        ASSERT_EQ(0u, ConnectWithBoard(*board_, handle_, p, channel, subchannel));
    }
    // The next message on the handle (its first `capacity` bytes); empty when the receive failed.
    std::vector<uint8_t> ReceiveMessage(uint32_t capacity = 1000) {
        std::vector<uint8_t> buffer(capacity);
        uint32_t length = capacity;
        const CommResult result = CommReceiveData(handle_, buffer.data(), &length, nullptr, nullptr);
        EXPECT_EQ(0u, result);
        buffer.resize(result == 0 ? length : 0);
        return buffer;
    }
    template <typename T> T Option(uint32_t id) {
        T value{};
        EXPECT_EQ(0u, CommGetOption(handle_, id, &value));
        return value;
    }

    HCOMM handle_ = nullptr;
    std::unique_ptr<PipeBoard> board_;
};
