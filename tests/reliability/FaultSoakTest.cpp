// Fault soak: firmware updates and message exchanges through Communicator and
// Wirrow against a simulated board that misbehaves at random (seeded): answers
// dropped, delayed or doubled, packets refused, ignored or asked again, board
// packets losing header or payload, duplicated or late, chunks rejected, stalls,
// dropped connections and unplugs. Runs until the board has injected the asked
// number of faults and prints the figures. Every call must return within its
// bound (no hangs), every delivered message must be byte-exact and one that was
// sent (no corruption, nothing invented), and every success reported must be real:
// a sent message is on the board, an update reported done is in its flash.
//
//   communicator_fault_soak_test.exe [--faults=N] [--seed=S]
//   (300 faults by default)
#include "CommApi.h"
#include "ImageFiles.h"
#include "ReliabilitySupport.h"
#include "SimulatedBoard.h"
#include "TempFolder.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include "UpdateSession.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t faultsWanted = 300;  // the short run of the test suite
uint64_t seed = 12;

constexpr DWORD kWait = 10000;
// The longest any call may take with the board's link parameters below (3 sends of a packet,
// 1 s answer wait, a 1 s stall or delay on top), with room to spare.
constexpr DWORD kCallBoundMs = 60000;
// How long a host waits for a board message (or an update reply) before it gives up and
// disconnects: the board may have given up on a message whose packets were all lost.
constexpr DWORD kBoardMessageWaitMs = 15000;
const char kSucceededText[] = "Succeeded updating the firmware.";
const char kNoPacketsReplyText[] = "The board's reply belonged to no packet sent.";

struct Figures {
    std::atomic<uint32_t> exchanges{0}, updates{0}, updatesSucceeded{0}, messagesSent{0}, messagesReceived{0};
    std::atomic<uint32_t> hangs{0}, corrupted{0}, falseSuccesses{0}, duplicates{0}, waitsGivenUp{0}, staleDelivered{0},
        repliesOutOfStep{0};
};

// Runs a call on the soak's thread under a watchdog: past `giveUpMs` the watchdog disconnects the
// handle (a wait for a board message that will not come), and past kCallBoundMs after that the
// call counts as hung.
class Watchdog {
public:
    explicit Watchdog(Figures &figures) : figures_(figures), armed_(MakeEvent(false, false)), quit_(MakeEvent(true, false)) {
        thread_.Start([this] { Run(); });
    }
    ~Watchdog() {
        ::SetEvent(quit_.Get());
        thread_.Join(kWait);
    }
    template <typename Call> CommResult Watch(HCOMM handle, DWORD giveUpMs, Call call) {
        handle_ = handle;
        giveUpMs_ = giveUpMs;
        done_ = false;
        ::SetEvent(armed_.Get());
        const CommResult result = call();
        done_ = true;
        return result;
    }

private:
    void Run() {
        HANDLE waits[2] = {quit_.Get(), armed_.Get()};
        while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            const DWORD start = ::GetTickCount();
            bool disconnected = false;
            while (!done_) {
                const DWORD spent = ::GetTickCount() - start;
                if (!disconnected && spent >= giveUpMs_) {
                    ++figures_.waitsGivenUp;
                    CommDisconnect(handle_);
                    disconnected = true;
                }
                if (spent >= giveUpMs_ + kCallBoundMs) {
                    ++figures_.hangs;
                    std::printf("soak: a call hangs\n");
                    std::fflush(stdout);
                    std::abort();
                }
                if (::WaitForSingleObject(quit_.Get(), 20) == WAIT_OBJECT_0) return;
            }
        }
    }
    Figures &figures_;
    UniqueHandle armed_, quit_;
    std::atomic<HCOMM> handle_{nullptr};
    std::atomic<DWORD> giveUpMs_{0};
    std::atomic<bool> done_{true};
    Thread thread_;
};

thread_local Watchdog *theWatchdog = nullptr;

// The update session's receive runs under the watchdog: a board reply may be lost for good.
CommResult COMM_CALL WatchedReceive(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel, uint8_t *subchannel) {
    return theWatchdog->Watch(handle, kBoardMessageWaitMs,
                              [&] { return CommReceiveData(handle, buffer, length, channel, subchannel); });
}

class SoakView : public UpdateView {
public:
    explicit SoakView(std::string path) : path_(std::move(path)) {}
    std::string ImagePath() override { return path_; }
    void EnableButtons(bool) override {}
    void ShowStatus(const std::string &) override {}
    void SetProgress(unsigned) override {}
    void ShowMessage(const std::string &text) override { message = text; }
    std::string message;

private:
    std::string path_;
};

boardsim::FaultPlan SoakPlan(uint64_t planSeed) {
    using boardsim::FaultAction;
    using boardsim::FaultPoint;
    boardsim::FaultPlan plan;
    plan.seed = planSeed;
    auto add = [&](FaultPoint point, FaultAction action, uint32_t perMille, uint32_t delayMs = 0) {
        plan.randomFaults.push_back({point, action, perMille, delayMs, 0});
    };
    add(FaultPoint::ConnectRequest, FaultAction::StalePackets, 60);
    add(FaultPoint::ConnectRequest, FaultAction::DropAnswer, 40);
    add(FaultPoint::ConnectRequest, FaultAction::DuplicateAnswer, 40);
    add(FaultPoint::ConnectRequest, FaultAction::DelayAnswer, 30, 400);
    add(FaultPoint::HostPacket, FaultAction::DropAnswer, 25);
    add(FaultPoint::HostPacket, FaultAction::DelayAnswer, 20, 700);
    add(FaultPoint::HostPacket, FaultAction::DuplicateAnswer, 30);
    add(FaultPoint::HostPacket, FaultAction::IgnorePacket, 20);
    add(FaultPoint::HostPacket, FaultAction::Refuse, 30);
    add(FaultPoint::HostPacket, FaultAction::RepeatRequest, 20);
    add(FaultPoint::HostPacket, FaultAction::Stall, 10, 500);
    add(FaultPoint::HostPacket, FaultAction::Disconnect, 3);
    add(FaultPoint::HostPacket, FaultAction::Unplug, 2);
    add(FaultPoint::BoardPacket, FaultAction::DropHeader, 25);
    add(FaultPoint::BoardPacket, FaultAction::DropPayload, 20);
    add(FaultPoint::BoardPacket, FaultAction::DelayPayload, 15, 300);
    add(FaultPoint::BoardPacket, FaultAction::DuplicatePacket, 25);
    add(FaultPoint::BoardPacket, FaultAction::DelayHeader, 15, 300);
    add(FaultPoint::BoardPacket, FaultAction::DuplicateHeader, 25);
    add(FaultPoint::UpdateChunk, FaultAction::RejectChunk, 15);
    return plan;
}

// One board and the host thread that drives it; several lanes run at once.
class SoakLane {
public:
    SoakLane(Figures &figures, unsigned index) : figures_(figures), index_(index), random_{seed * 7919 + index} {}
    ~SoakLane() { TearDown(); }

    void SetUp() {
        boardsim::BoardConfig config;
        config.instance = UniqueName("soak");
        config.link.attempts = 3;
        config.link.replyTimeoutSeconds = 1;
        config.link.packetTimeoutSeconds = 1;
        config.maxPayload = 4096;
        config.sendAttempts = 3;
        // The board waits longer for an answer than the host waits for a payload, so its resends
        // follow the host's refusals rather than cross them.
        config.answerTimeoutMs = 2500;
        config.faults = SoakPlan(seed * 1000 + index_);
        board_ = std::make_unique<boardsim::SimulatedBoard>(config);
        ASSERT_EQ(0u, board_->Start());
        watchdog_ = std::make_unique<Watchdog>(figures_);
    }
    void TearDown() {
        watchdog_.reset();
        board_.reset();
    }

    size_t Faults() const { return board_ ? board_->FaultLog().size() : 0; }

    // Rounds until `done` says so: one in four an update, the others exchanges.
    void Run(const std::function<bool()> &done) {
        theWatchdog = watchdog_.get();
        uint32_t serial = 0;
        std::set<uint32_t> hostReceived;
        while (!done()) {
            if (random_.Next() % 4 == 0) Update();
            else Exchange(serial, hostReceived);
        }
        theWatchdog = nullptr;
    }

private:
    // An unplugged board is plugged in again before the next round; the open waits for the board
    // to take it.
    CommResult OpenBoard(HCOMM *handle) {
        CommResult result = 0;
        for (int attempt = 0; attempt < 200; ++attempt) {
            board_->WaitListening(kWait);
            result = CommOpen(board_->InterfacePath().c_str(), 0, handle, nullptr, 26214);
            if (result == 0) return 0;
            if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) board_->Replug();
            else ::Sleep(5);
        }
        return result;
    }

    // Takes board-side host messages until the one with `serial`; every one met must be intact.
    bool BoardHas(uint32_t serial) {
        boardsim::HostMessage message;
        while (board_->WaitHostMessage(&message, kWait)) {
            const uint32_t got = CheckedSerial(message.data.data(), message.data.size());
            if (got == 0) {
                ++figures_.corrupted;
                std::printf("soak: corrupted on the board: %zu bytes, serial %u expected\n", message.data.size(), serial);
            }
            if (got == serial) return true;
            if (got > serial) return false;
        }
        return false;
    }

    void Exchange(uint32_t &serial, std::set<uint32_t> &hostReceived) {
        ++figures_.exchanges;
        HCOMM handle = nullptr;
        if (OpenBoard(&handle) != 0) return;
        const uint8_t subchannel = 1;
        if (theWatchdog->Watch(handle, kCallBoundMs, [&] { return CommConnect(handle, 'B', &subchannel, nullptr, nullptr); }) == 0) {
            // Host to board.
            const std::vector<uint8_t> sent = MessageBytes(++serial, 1 + random_.Next() % 12000);
            const CommResult result = theWatchdog->Watch(handle, kCallBoundMs, [&] {
                return CommSendData(handle, sent.data(), static_cast<uint32_t>(sent.size()), 'B', 2);
            });
            ++figures_.messagesSent;
            if (result == 0 && !BoardHas(serial)) ++figures_.falseSuccesses;
            // Board to host.
            const uint32_t boardSerial = 0x80000000u | ++serial;
            board_->QueueMessage('B', 0xFF, MessageBytes(boardSerial, 1 + random_.Next() % 12000));
            std::vector<uint8_t> buffer(16384);
            uint32_t length = static_cast<uint32_t>(buffer.size());
            uint8_t gotChannel = 0, gotSubchannel = 0;
            const CommResult received = theWatchdog->Watch(handle, kBoardMessageWaitMs, [&] {
                return CommReceiveData(handle, buffer.data(), &length, &gotChannel, &gotSubchannel);
            });
            if (received == 0) {
                ++figures_.messagesReceived;
                const uint32_t got = CheckedSerial(buffer.data(), length);
                if (length == 0 && gotChannel == 'B' && gotSubchannel == 1) {
                    // The board's left-over packet (an empty last packet on the update address) that it
                    // writes before a connect reply: when the host repeated its connect request, the
                    // board answers both, and the second answer's left-overs come on the running link.
                    ++figures_.staleDelivered;
                } else if (got == 0 || (got & 0x80000000u) == 0) {
                    ++figures_.corrupted;
                    std::printf("soak: corrupted on the host: %u bytes on %02x/%02x, serial %x expected\n", length, gotChannel,
                                gotSubchannel, boardSerial);
                }
                else if (!hostReceived.insert(got).second) ++figures_.duplicates;
            }
        }
        theWatchdog->Watch(handle, kCallBoundMs, [&] { return CommDisconnect(handle); });
        theWatchdog->Watch(handle, kCallBoundMs, [&] { return CommClose(handle); });
    }

    void Update() {
        const uint32_t size = 1 + random_.Next() % 40000;
        std::vector<uint8_t> payload(size);
        for (auto &byte : payload) byte = static_cast<uint8_t>(random_.Next());
        // The image file is the test's own; a failure to make it ends the round without counting.
        const std::string imagePath = folder_.Write("image.img", ImageBytes(payload, 0, "SOAK", "1.0"));
        if (imagePath.empty()) return;
        // Each round starts from a board that can be opened.
        HCOMM probe = nullptr;
        if (OpenBoard(&probe) == 0) CommClose(probe);
        ++figures_.updates;
        SoakView view(imagePath);
        CommFunctions comm = LinkedCommunicator();
        comm.receiveData = &WatchedReceive;
        const std::string path = board_->InterfacePath();
        RunUpdateSession(view, comm, [&](std::vector<std::string> &paths) {
            paths.push_back(path);
            return size_t{1};
        });
        if (view.message == kSucceededText) {
            ++figures_.updatesSucceeded;
            // A reply the board sent twice is two replies on the link; the board's replies repeat
            // their packet's header, so the session passes a copy over instead of taking it for the
            // next packet's reply.
            if (board_->FlashImage() != payload) ++figures_.falseSuccesses;
        }
        if (view.message == kNoPacketsReplyText) ++figures_.repliesOutOfStep;
    }

    Figures &figures_;
    unsigned index_;
    std::unique_ptr<boardsim::SimulatedBoard> board_;
    std::unique_ptr<Watchdog> watchdog_;
    boardsim::SeededRandom random_;
    TempFolder folder_{"soak-"};
};

constexpr unsigned kLanes = 6;

}  // namespace

TEST(FaultSoak, UpdatesAndExchangesUnderSeededFaults) {
    Figures figures_;
    std::vector<std::unique_ptr<SoakLane>> lanes;
    for (unsigned i = 0; i < kLanes; ++i) {
        lanes.push_back(std::make_unique<SoakLane>(figures_, i));
        lanes.back()->SetUp();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
    }
    auto Faults = [&] {
        size_t faults = 0;
        for (auto &lane : lanes) faults += lane->Faults();
        return faults;
    };
    std::atomic<size_t> injected{0};
    auto done = [&] {
        injected = Faults();
        return injected >= faultsWanted;
    };
    const DWORD start = ::GetTickCount();
    std::vector<Thread> threads(kLanes);
    for (unsigned i = 0; i < kLanes; ++i) ASSERT_TRUE(threads[i].Start([&, i] { lanes[i]->Run(done); }));
    for (Thread &thread : threads) ASSERT_TRUE(thread.Join());
    const DWORD elapsed = ::GetTickCount() - start;
    std::printf("soak: seed %llu, %u boards, %zu faults injected in %lu s: %u exchanges (%u messages sent, %u received), "
                "%u updates (%u reported done, %u stopped on a reply that belonged to no packet sent)\n"
                "soak: %u hangs, 0 crashes, %u corrupted deliveries, %u false successes; "
                "%u duplicate deliveries, %u left-over packets of the board delivered, "
                "%u waits for a board message given up\n",
                static_cast<unsigned long long>(seed), kLanes, Faults(), static_cast<unsigned long>(elapsed / 1000),
                figures_.exchanges.load(), figures_.messagesSent.load(), figures_.messagesReceived.load(),
                figures_.updates.load(), figures_.updatesSucceeded.load(), figures_.repliesOutOfStep.load(),
                figures_.hangs.load(),
                figures_.corrupted.load(), figures_.falseSuccesses.load(), figures_.duplicates.load(),
                figures_.staleDelivered.load(), figures_.waitsGivenUp.load());
    EXPECT_EQ(0u, figures_.hangs.load());
    EXPECT_EQ(0u, figures_.corrupted.load());
    EXPECT_EQ(0u, figures_.falseSuccesses.load());
    EXPECT_GT(figures_.updatesSucceeded.load(), 0u);
    EXPECT_GT(figures_.messagesReceived.load(), 0u);
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--faults=", 9) == 0) faultsWanted = static_cast<uint32_t>(std::strtoul(argv[i] + 9, nullptr, 10));
        if (std::strncmp(argv[i], "--seed=", 7) == 0) seed = std::strtoull(argv[i] + 7, nullptr, 10);
    }
    return RUN_ALL_TESTS();
}
