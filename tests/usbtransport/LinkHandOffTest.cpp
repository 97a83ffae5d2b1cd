// The hand-offs between a link's threads, without a device: the write lock, the
// packet ring, the request queues and the stop that ends every wait on them.
// Each wait runs on a second thread; the test waits for its end with a bound and
// raises the stop before joining, so a wait that never ends fails instead of hanging.
#include "LinkStop.h"
#include "PacketRing.h"
#include "RequestQueue.h"
#include "UniqueHandle.h"
#include "WriteLock.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace wirrow;

namespace {

constexpr DWORD kEndWaitMs = 5000;

// A wait on its own thread; Ended tells whether it returned within the time. One that has not
// ended when the case is over (it failed) is released with `unblock` before it is joined.
class Background {
public:
    Background(std::function<void()> body, std::function<void()> unblock)
        : ended_(MakeEvent(true, false)), unblock_(std::move(unblock)) {
        thread_ = std::thread([this, body] {
            body();
            ::SetEvent(ended_.Get());
        });
    }
    ~Background() { Join(); }
    bool Ended(DWORD timeoutMs = kEndWaitMs) const {
        return ::WaitForSingleObject(ended_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }
    bool StillWaiting() const { return !Ended(100); }
    void Join() {
        if (!thread_.joinable()) return;
        if (!Ended(0)) unblock_();
        thread_.join();
    }

private:
    UniqueHandle ended_;
    std::function<void()> unblock_;
    std::thread thread_;
};

class LinkHandOff : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, stop_.Create()); }
    // Ends every wait a failed case left behind, then the threads can be joined.
    void TearDown() override { RaiseStop(); }
    std::function<void()> Unblock() {
        return [this] { RaiseStop(); };
    }
    void RaiseStop() {
        stop_.Raise();
        lock_.WakeWaiters();
        ring_.WakeWaiters();
        queue_.WakeWaiters();
        done_.WakeWaiters();
    }

    LinkStop stop_;
    WriteLock lock_;
    PacketRing ring_;
    RequestQueue<SendRequest> queue_;
    RequestQueue<SendRequest> done_;
};

}  // namespace

TEST_F(LinkHandOff, AStopRaisedSetsItsEventForTheWaitsOnTransfers) {
    EXPECT_FALSE(stop_.Raised());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stop_.Event(), 0));
    stop_.Raise();
    EXPECT_TRUE(stop_.Raised());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(stop_.Event(), 0));
    // A new stop for the next start of the workers is not raised.
    ASSERT_EQ(0u, stop_.Create());
    EXPECT_FALSE(stop_.Raised());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stop_.Event(), 0));
}

TEST_F(LinkHandOff, TheWriteLockHasOneHolderAndLetsGoAtTheEndOfTheHoldsScope) {
    {
        WriteLockHold first(lock_, stop_, 0);
        ASSERT_TRUE(first.Held());
        WriteLockHold second(lock_, stop_, 50);
        EXPECT_FALSE(second.Held());
        EXPECT_EQ(Waited::TimedOut, second.Outcome());
    }
    WriteLockHold again(lock_, stop_, 0);
    EXPECT_TRUE(again.Held());
}

TEST_F(LinkHandOff, AWriterWaitingForTheLockGetsItWhenTheHolderLetsGo) {
    auto first = std::make_unique<WriteLockHold>(lock_, stop_, 0);
    ASSERT_TRUE(first->Held());
    std::atomic<bool> held{false};
    Background waiter([&] {
        WriteLockHold second(lock_, stop_, INFINITE);
        held = second.Held();
    }, Unblock());
    EXPECT_TRUE(waiter.StillWaiting());
    first.reset();
    ASSERT_TRUE(waiter.Ended());
    EXPECT_TRUE(held);
}

TEST_F(LinkHandOff, TheStopEndsAWaitForTheWriteLockAndWinsOverAFreeLock) {
    auto first = std::make_unique<WriteLockHold>(lock_, stop_, 0);
    Waited outcome = Waited::Ready;
    Background waiter([&] { outcome = WriteLockHold(lock_, stop_, INFINITE).Outcome(); }, Unblock());
    EXPECT_TRUE(waiter.StillWaiting());
    RaiseStop();
    ASSERT_TRUE(waiter.Ended());
    EXPECT_EQ(Waited::Stopped, outcome);
    first.reset();
    EXPECT_EQ(Waited::Stopped, WriteLockHold(lock_, stop_, 0).Outcome());
}

TEST_F(LinkHandOff, AFullRingHoldsTheWriterBackUntilAPacketIsConsumed) {
    ASSERT_EQ(0u, ring_.Init(1, 32));
    ASSERT_EQ(Waited::Ready, ring_.WaitFree(stop_));
    std::memset(ring_.WriteSlot(), 0x11, ring_.SlotSize());
    ring_.Commit();
    Waited outcome = Waited::Stopped;
    Background writer([&] { outcome = ring_.WaitFree(stop_); }, Unblock());
    EXPECT_TRUE(writer.StillWaiting());
    ASSERT_EQ(Waited::Ready, ring_.WaitFilled(stop_));
    EXPECT_EQ(0x11, ring_.ReadSlot()[0]);
    ring_.Consume();
    ASSERT_TRUE(writer.Ended());
    EXPECT_EQ(Waited::Ready, outcome);
}

TEST_F(LinkHandOff, APacketLeftOnTheRingWaitsForTheNextReaderAndTheSlotsGoRound) {
    ASSERT_EQ(0u, ring_.Init(3, 16));
    EXPECT_EQ(3u, ring_.Slots());
    EXPECT_EQ(32u, ring_.SlotSize());
    uint8_t *first = ring_.WriteSlot();
    for (uint8_t packet = 1; packet <= 7; ++packet) {
        ASSERT_EQ(Waited::Ready, ring_.WaitFree(stop_));
        uint8_t *slot = ring_.WriteSlot();
        EXPECT_EQ(first + ((packet - 1) % 3) * ring_.SlotSize(), slot) << "packet " << int(packet);
        slot[0] = packet;
        ring_.Commit();
        // Looked at and left, then looked at again and taken.
        ASSERT_EQ(Waited::Ready, ring_.WaitFilled(stop_));
        EXPECT_EQ(packet, ring_.ReadSlot()[0]);
        ASSERT_EQ(Waited::Ready, ring_.WaitFilled(stop_));
        EXPECT_EQ(packet, ring_.ReadSlot()[0]);
        ring_.Consume();
    }
}

TEST_F(LinkHandOff, TheStopEndsTheWaitsOfBothSidesOfTheRing) {
    ASSERT_EQ(0u, ring_.Init(1, 16));
    Waited readerOutcome = Waited::Ready;
    Background reader([&] { readerOutcome = ring_.WaitFilled(stop_); }, Unblock());
    ring_.Commit();  // fills the only slot; the reader may take it before the stop
    Waited writerOutcome = Waited::Ready;
    Background writer([&] { writerOutcome = ring_.WaitFree(stop_); }, Unblock());
    EXPECT_TRUE(writer.StillWaiting());
    RaiseStop();
    ASSERT_TRUE(writer.Ended());
    ASSERT_TRUE(reader.Ended());
    EXPECT_EQ(Waited::Stopped, writerOutcome);
    EXPECT_EQ(Waited::Stopped, ring_.WaitFilled(stop_));
}

TEST_F(LinkHandOff, ARingThatCannotBeMadeSaysWhy) {
    struct Case {
        uint32_t slots;
        uint32_t maxPayload;
        DWORD error;
    };
    const Case cases[] = {
        {0, 16, ERROR_INVALID_PARAMETER},
        {0x80000000u, 16, ERROR_INVALID_PARAMETER},
        {0x7FFFFFFFu, 0xFFFFFFF0u, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.error, ring_.Init(c.slots, c.maxPayload)) << c.slots << " slots of " << c.maxPayload;
        EXPECT_EQ(0u, ring_.Slots());
    }
}

TEST_F(LinkHandOff, AWorkerWaitingForWorkGetsTheHeadAndTheStopGivesItNone) {
    SendRequest request(66, 1, "x", 1);
    SendRequest *head = nullptr;
    {
        Background worker([&] { head = queue_.WaitForHead(stop_); }, Unblock());
        EXPECT_TRUE(worker.StillWaiting());
        queue_.Push(&request);
        ASSERT_TRUE(worker.Ended());
    }
    EXPECT_EQ(&request, head);
    EXPECT_EQ(&request, queue_.Peek());  // the head stays until it is completed
    EXPECT_EQ(&request, queue_.Pop());
    Background worker([&] { head = queue_.WaitForHead(stop_); }, Unblock());
    EXPECT_TRUE(worker.StillWaiting());
    RaiseStop();
    ASSERT_TRUE(worker.Ended());
    EXPECT_EQ(nullptr, head);
}

TEST_F(LinkHandOff, ACallerWaitsUntilItsOwnRequestIsCompleteAndTakesItOffTheDoneQueue) {
    SendRequest mine(66, 1, "a", 1), other(66, 1, "b", 1);
    queue_.Push(&other);
    queue_.Push(&mine);
    std::atomic<bool> returned{false};
    Background caller(
        [&] {
            done_.AwaitCompletion(&mine);
            returned = true;
        },
        // A caller's wait has no stop: a stuck one is released by completing its request.
        [&] { done_.Complete(&mine, TransferOutcome::DeviceGone); });
    // Another caller's completion wakes, but does not release, this one.
    CompleteRequest(queue_, done_, &other, TransferOutcome::Done);
    EXPECT_TRUE(caller.StillWaiting());
    EXPECT_FALSE(returned);
    CompleteRequest(queue_, done_, &mine, TransferOutcome::TimedOut);
    ASSERT_TRUE(caller.Ended());
    EXPECT_EQ(TransferOutcome::TimedOut, mine.result);
    EXPECT_TRUE(queue_.Empty());
    EXPECT_EQ(&other, done_.Peek());  // left for its own caller
    done_.AwaitCompletion(&other);
    EXPECT_TRUE(done_.Empty());
}

TEST_F(LinkHandOff, AnAnswerMatchedToTheRequestInFlightEndsTheSendersWait) {
    SendRequest request(66, 1, "x", 1);
    request.sequence = 5;
    queue_.Push(&request);
    uint8_t letter = 0;
    Waited outcome = Waited::Stopped;
    Background sender([&] {
        outcome = queue_.WaitFor(stop_, INFINITE, [&] {
            if (!request.answered) return false;
            request.answered = false;
            letter = request.replyLetter;
            return true;
        });
    }, Unblock());
    EXPECT_TRUE(sender.StillWaiting());
    EXPECT_FALSE(queue_.VisitFirstWithAddress(66, 2, [](SendRequest &) {}));  // another address
    EXPECT_TRUE(queue_.VisitFirstWithAddress(66, 1, [](SendRequest &r) {
        r.replyLetter = 'a';
        r.answered = true;
    }));
    ASSERT_TRUE(sender.Ended());
    EXPECT_EQ(Waited::Ready, outcome);
    EXPECT_EQ('a', letter);
    EXPECT_FALSE(request.answered);  // taken by the wait that saw it
}

TEST_F(LinkHandOff, AnUnansweredWaitEndsWithinItsTime) {
    SendRequest request(66, 1, "x", 1);
    queue_.Push(&request);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(Waited::TimedOut, queue_.WaitFor(stop_, 200, [&] { return request.answered; }));
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    EXPECT_GE(elapsed, 190u);
    EXPECT_LT(elapsed, 3000u);
    // The stop wins over an answer that is there as well.
    request.answered = true;
    stop_.Raise();
    EXPECT_EQ(Waited::Stopped, queue_.WaitFor(stop_, 0, [&] { return request.answered; }));
}
