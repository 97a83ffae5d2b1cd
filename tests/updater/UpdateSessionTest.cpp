// The update session against a scripted board: packets, byte orders, chunking,
// progress, every outcome's text and the Comm API calls that follow it.
#include "ImageFiles.h"
#include "ScriptedBoard.h"
#include "TempFolder.h"
#include "UniqueHandle.h"
#include "UpdateSession.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <functional>
#include <new>

namespace {

const char kFirstBoard[] = "\\\\?\\usb#vid_1234&pid_5678#first#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
const char kSecondBoard[] = "\\\\?\\usb#vid_1234&pid_5678#second#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";

uint32_t BigEndian32(const std::vector<uint8_t> &bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

uint32_t LittleEndian32(const std::vector<uint8_t> &bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset + 3]) << 24 | static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 1]) << 8 | bytes[offset];
}

bool IsCommCall(const std::string &entry) { return entry.compare(0, 4, "Comm") == 0; }

class UpdateSessionTest : public ::testing::Test {
protected:
    std::vector<std::string> log;
    ScriptedBoard board{log};
    RecordingView view{log};
    TempFolder folder{"updater-test-"};
    std::vector<std::string> targets = {kFirstBoard, kSecondBoard};

    void UseImage(const std::vector<uint8_t> &payload) { view.imagePath = folder.Write("image.img", ImageBytes(payload)); }

    void Run() {
        RunUpdateSession(view, board.Functions(), [this](std::vector<std::string> &paths) {
            paths.insert(paths.end(), targets.begin(), targets.end());
            return targets.size();
        });
    }

    std::vector<std::string> CommCalls() const {
        std::vector<std::string> calls;
        std::copy_if(log.begin(), log.end(), std::back_inserter(calls), IsCommCall);
        return calls;
    }

    std::vector<std::string> Entries(const std::string &prefix) const {
        std::vector<std::string> found;
        for (const auto &entry : log)
            if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry.substr(prefix.size()));
        return found;
    }

    // Every session ends the same way: the final text in the status line, then in
    // the message box, then both buttons back on; they were off from the start.
    void ExpectEnding(const std::string &text) {
        ASSERT_GE(log.size(), 4u);
        EXPECT_EQ("buttons: off", log.front());
        EXPECT_EQ("status: " + text, log[log.size() - 3]);
        EXPECT_EQ("message: " + text, log[log.size() - 2]);
        EXPECT_EQ("buttons: on", log.back());
        EXPECT_EQ(1u, Entries("message: ").size());
        EXPECT_EQ(1u, std::count(log.begin(), log.end(), "buttons: off"));
        EXPECT_EQ(1u, std::count(log.begin(), log.end(), "buttons: on"));
    }

    void ExpectImageClosed() {
        if (view.imagePath.empty()) return;
        UniqueHandle exclusive(::CreateFileA(view.imagePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(exclusive) << "the session left the image file open";
    }

    const std::vector<std::string> kConnectedThenClosed = {"CommOpen", "CommConnect", "CommDisconnect", "CommClose"};
    // The calls of a session that connected and read both link options, then `rest`.
    static std::vector<std::string> AfterConnect(std::initializer_list<std::string> rest) {
        std::vector<std::string> calls = {"CommOpen", "CommConnect", "CommGetOption 1", "CommGetOption 16"};
        calls.insert(calls.end(), rest);
        return calls;
    }
};

}  // namespace

// --- the successful run -------------------------------------------------------

TEST_F(UpdateSessionTest, OneChunkImageRunsThroughEveryStepInOrder) {
    auto payload = PatternPayload(1008);
    UseImage(payload);
    Run();
    const std::vector<std::string> expected = {
        "buttons: off",
        "status: Searching target...",
        "status: Connecting target ...",
        "CommOpen",
        "CommConnect",
        "CommGetOption 1",
        "CommGetOption 16",
        "status: Downloading the image file...",
        "status: Burning flash, please wait...",
        "CommSendData",
        "CommReceiveData",
        "progress: 30",
        "progress: 100",
        "CommDisconnect",
        "CommClose",
        "status: Succeeded updating the firmware.",
        "message: Succeeded updating the firmware.",
        "buttons: on",
    };
    EXPECT_EQ(expected, log);
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, UsesOnlyTheFirstBoardWithTheUpdaterAddress) {
    UseImage(PatternPayload(2000));
    board.maxPayload = 1016;
    Run();
    ASSERT_EQ(1u, board.opens.size());
    EXPECT_EQ(kFirstBoard, board.opens[0].address);
    EXPECT_EQ(0u, board.opens[0].reserved);
    EXPECT_TRUE(board.opens[0].handleOutGiven);
    EXPECT_TRUE(board.opens[0].routerHostNull);
    EXPECT_EQ(26214u, board.opens[0].routerPort);
    ASSERT_EQ(1u, board.connects.size());
    EXPECT_EQ(66u, board.connects[0].channel);
    EXPECT_EQ(1, board.connects[0].subchannel);
    EXPECT_TRUE(board.connects[0].requestNull);
    EXPECT_TRUE(board.connects[0].replyNull);
    ASSERT_EQ(1u, board.hostOrderOnEntry.size());
    EXPECT_EQ(1u, board.hostOrderOnEntry[0]);
    ASSERT_EQ(2u, board.sends.size());
    for (const auto &send : board.sends) {
        EXPECT_EQ(66u, send.channel);
        EXPECT_EQ(1u, send.subchannel);
    }
    ASSERT_EQ(2u, board.receives.size());
    for (const auto &receive : board.receives) {
        EXPECT_EQ(16u, receive.capacity);
        EXPECT_EQ(0, receive.channelOnEntry);
        EXPECT_EQ(0, receive.subchannelOnEntry);
    }
}

TEST_F(UpdateSessionTest, LittleEndianBoardGetsLittleEndianFields) {
    auto payload = PatternPayload(1008);
    UseImage(payload);
    board.hostOrder = 1;
    Run();
    ASSERT_EQ(1u, board.sends.size());
    const auto &packet = board.sends[0].packet;
    ASSERT_EQ(1024u, packet.size());
    const std::vector<uint8_t> head(packet.begin(), packet.begin() + 12);
    const std::vector<uint8_t> expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xF0, 0x03, 0x00, 0x00};
    EXPECT_EQ(expected, head);
    EXPECT_EQ(SumOf(payload), LittleEndian32(packet, 12));
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packet.begin() + 16));
}

TEST_F(UpdateSessionTest, BigEndianBoardGetsNetworkOrderFields) {
    auto payload = PatternPayload(1008);
    UseImage(payload);
    board.hostOrder = 0;
    Run();
    ASSERT_EQ(1u, board.sends.size());
    const auto &packet = board.sends[0].packet;
    ASSERT_EQ(1024u, packet.size());
    const std::vector<uint8_t> head(packet.begin(), packet.begin() + 12);
    const std::vector<uint8_t> expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xF0};
    EXPECT_EQ(expected, head);
    EXPECT_EQ(SumOf(payload), BigEndian32(packet, 12));
    ExpectEnding("Succeeded updating the firmware.");
}

TEST_F(UpdateSessionTest, OneByteOverAChunkMakesTwoPackets) {
    auto payload = PatternPayload(1009);
    UseImage(payload);
    board.hostOrder = 0;
    Run();
    ASSERT_EQ(2u, board.sends.size());
    const auto &first = board.sends[0].packet;
    const auto &second = board.sends[1].packet;
    ASSERT_EQ(1024u, first.size());
    ASSERT_EQ(17u, second.size());
    EXPECT_EQ(0, first[6]);
    EXPECT_EQ(0, first[7]);
    EXPECT_EQ(1008u, BigEndian32(first, 8));
    EXPECT_EQ(0u, BigEndian32(first, 12));
    EXPECT_EQ(0xFF, second[6]);
    EXPECT_EQ(0xFF, second[7]);
    EXPECT_EQ(1u, BigEndian32(second, 8));
    EXPECT_EQ(SumOf(payload), BigEndian32(second, 12));
    std::vector<uint8_t> sent(first.begin() + 16, first.end());
    sent.insert(sent.end(), second.begin() + 16, second.end());
    EXPECT_EQ(payload, sent);
    // Burning is announced only before the last packet.
    auto burning = std::find(log.begin(), log.end(), "status: Burning flash, please wait...");
    ASSERT_NE(log.end(), burning);
    EXPECT_EQ(2, std::count(burning, log.end(), "CommReceiveData") + std::count(burning, log.end(), "CommSendData"));
    ExpectEnding("Succeeded updating the firmware.");
}

TEST_F(UpdateSessionTest, ProgressFollowsAcknowledgedPayload) {
    UseImage(PatternPayload(2000));
    board.maxPayload = 1016;
    Run();
    ASSERT_EQ(2u, board.sends.size());
    EXPECT_EQ(1016u, board.sends[0].length);
    EXPECT_EQ(1016u, board.sends[1].length);
    EXPECT_EQ((std::vector<std::string>{"15", "30", "100"}), Entries("progress: "));
}

TEST_F(UpdateSessionTest, SmallPayloadTravelsInOneFittingPacket) {
    auto payload = PatternPayload(100);
    UseImage(payload);
    Run();
    ASSERT_EQ(1u, board.sends.size());
    EXPECT_EQ(116u, board.sends[0].length);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), board.sends[0].packet.begin() + 16));
    ExpectEnding("Succeeded updating the firmware.");
}

TEST_F(UpdateSessionTest, ProgressOfLargeImagesDoesNotOverflow) {
    // 200 MiB of zeros (sparse) in 64 MiB chunks: 30 times the acknowledged
    // length passes 2^32 after the third chunk.
    const uint32_t payloadLength = 200u << 20;
    view.imagePath = folder.WriteSparse("large.img", ImageBytes({}), 128 + static_cast<uint64_t>(payloadLength));
    ASSERT_FALSE(view.imagePath.empty());
    board.maxPayload = (64u << 20) + 16;
    board.packetPrefixKept = 16;
    Run();
    ASSERT_EQ(4u, board.sends.size());
    EXPECT_EQ((std::vector<std::string>{"9", "19", "28", "30", "100"}), Entries("progress: "));
    ExpectEnding("Succeeded updating the firmware.");
}

TEST_F(UpdateSessionTest, MaxPayloadOfSeventeenSendsOneBytePerPacket) {
    UseImage({1, 2, 3});
    board.maxPayload = 17;
    Run();
    ASSERT_EQ(3u, board.sends.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(17u, board.sends[i].length);
        EXPECT_EQ(i + 1, board.sends[i].packet[16]);
    }
    EXPECT_EQ((std::vector<std::string>{"10", "20", "30", "100"}), Entries("progress: "));
}

TEST_F(UpdateSessionTest, HostOrderDefaultsToLittleEndian) {
    UseImage(PatternPayload(10));
    board.writeHostOrder = false;
    Run();
    ASSERT_EQ(1u, board.sends.size());
    EXPECT_EQ(10u, LittleEndian32(board.sends[0].packet, 8));
}

TEST_F(UpdateSessionTest, FailedHostOrderReadAssumesLittleEndian) {
    UseImage(PatternPayload(10));
    board.hostOrderResult = COMM_ERROR_INVALID_PARAMETER;
    Run();
    ASSERT_EQ(1u, board.sends.size());
    EXPECT_EQ(10u, LittleEndian32(board.sends[0].packet, 8));
    ExpectEnding("Succeeded updating the firmware.");
}

// --- the board's verdict ------------------------------------------------------

TEST_F(UpdateSessionTest, ErrorReplyStopsTheDownloadWithTheBoardCode) {
    UseImage(PatternPayload(3000));
    board.hostOrder = 0;
    board.replies[0].status[0] = 0x01;
    board.replies[0].status[1] = 0x02;
    Run();
    EXPECT_EQ(1u, board.sends.size());
    EXPECT_EQ(AfterConnect({"CommSendData", "CommReceiveData", "CommDisconnect", "CommClose"}), CommCalls());
    EXPECT_TRUE(Entries("progress: ").empty());
    ExpectEnding("Failed to download image file to the board. Error code is 258");
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, ErrorReplyCodeFollowsLittleEndianOrder) {
    UseImage(PatternPayload(10));
    board.hostOrder = 1;
    board.replies[0].status[0] = 0x01;
    board.replies[0].status[1] = 0x02;
    Run();
    ExpectEnding("Failed to download image file to the board. Error code is 513");
}

TEST_F(UpdateSessionTest, ErrorCodeIsShownUnsigned) {
    UseImage(PatternPayload(10));
    board.replies[0].status[0] = 0xFF;
    board.replies[0].status[1] = 0xFF;
    Run();
    ExpectEnding("Failed to download image file to the board. Error code is 65535");
}

TEST_F(UpdateSessionTest, ErrorReplyToTheLastPacketKeepsEarlierProgress) {
    UseImage(PatternPayload(2000));
    board.maxPayload = 1016;
    board.replies[1].status[1] = 0x07;
    Run();
    EXPECT_EQ(2u, board.sends.size());
    EXPECT_EQ((std::vector<std::string>{"15"}), Entries("progress: "));
    ExpectEnding("Failed to download image file to the board. Error code is 1792");
}

// --- failures before the download ---------------------------------------------

TEST_F(UpdateSessionTest, NoBoardMeansNoCommCall) {
    UseImage(PatternPayload(10));
    targets.clear();
    Run();
    EXPECT_EQ((std::vector<std::string>{"buttons: off", "status: Searching target...", "status: No target found.",
                                        "message: No target found.", "buttons: on"}),
              log);
}

TEST_F(UpdateSessionTest, FailedOpenIsNeitherDisconnectedNorClosed) {
    UseImage(PatternPayload(10));
    board.openResult = 2;
    Run();
    EXPECT_EQ((std::vector<std::string>{"CommOpen"}), CommCalls());
    ExpectEnding("Can't open target.");
}

TEST_F(UpdateSessionTest, FailedConnectIsDisconnectedAndClosed) {
    UseImage(PatternPayload(10));
    board.connectResult = COMM_ERROR_DEVICE_NOT_CONNECTED;
    Run();
    EXPECT_EQ(kConnectedThenClosed, CommCalls());
    ExpectEnding("Can't connect target.");
}

TEST_F(UpdateSessionTest, MissingImageFileIsReportedAfterConnecting) {
    view.imagePath = folder.Path() + "\\gone.img";
    Run();
    EXPECT_EQ(kConnectedThenClosed, CommCalls());
    ExpectEnding("Firmware image file not found.");
}

TEST_F(UpdateSessionTest, ImageShorterThanItsHeaderIsNotSent) {
    view.imagePath = folder.Write("short.img", std::vector<uint8_t>(50, 0xAA));
    Run();
    EXPECT_EQ(kConnectedThenClosed, CommCalls());
    ExpectEnding("Failed to read the image file.");
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, PayloadBeyondAPacketLengthIsNotSent) {
    // 2^32 - 16 payload bytes (sparse) cannot travel behind a 16-byte header.
    view.imagePath = folder.WriteSparse("oversized.img", ImageBytes({}), 128 + 0xFFFFFFF0ull);
    ASSERT_FALSE(view.imagePath.empty());
    Run();
    EXPECT_EQ(kConnectedThenClosed, CommCalls());
    ExpectEnding("The image file is too large.");
}

TEST_F(UpdateSessionTest, FailedMaxPayloadReadSendsNothing) {
    UseImage(PatternPayload(10));
    board.maxPayloadResult = COMM_ERROR_INVALID_HANDLE;
    Run();
    EXPECT_EQ((std::vector<std::string>{"CommOpen", "CommConnect", "CommGetOption 1", "CommDisconnect", "CommClose"}),
              CommCalls());
    ExpectEnding("The target reported an unusable packet size.");
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, MaxPayloadWithoutRoomForDataSendsNothing) {
    for (uint32_t maxPayload : {0u, 1u, 16u}) {
        log.clear();
        board.sends.clear();
        UseImage(PatternPayload(10));
        board.maxPayload = maxPayload;
        Run();
        EXPECT_TRUE(board.sends.empty()) << maxPayload;
        EXPECT_EQ((std::vector<std::string>{"CommOpen", "CommConnect", "CommGetOption 1", "CommDisconnect", "CommClose"}),
                  CommCalls());
        ExpectEnding("The target reported an unusable packet size.");
    }
}

TEST_F(UpdateSessionTest, MemoryShortageWhileSearchingEndsTheSessionCleanly) {
    UseImage(PatternPayload(10));
    RunUpdateSession(view, board.Functions(), [](std::vector<std::string> &) -> size_t { throw std::bad_alloc(); });
    EXPECT_TRUE(CommCalls().empty());
    ExpectEnding("Memory allocation failed.");
}

TEST_F(UpdateSessionTest, MemoryShortageWhileConnectedStillDisconnectsAndCloses) {
    class ExhaustedView : public RecordingView {
    public:
        using RecordingView::RecordingView;
        std::string ImagePath() override { throw std::bad_alloc(); }
    } exhausted(log);
    RunUpdateSession(exhausted, board.Functions(), [](std::vector<std::string> &paths) {
        paths.push_back(kFirstBoard);
        return size_t{1};
    });
    EXPECT_EQ(kConnectedThenClosed, CommCalls());
    ExpectEnding("Memory allocation failed.");
}

TEST_F(UpdateSessionTest, EmptyPayloadSendsNothingAndEndsOnTheDownloadNotice) {
    UseImage({});
    Run();
    EXPECT_EQ(AfterConnect({"CommDisconnect", "CommClose"}), CommCalls());
    EXPECT_TRUE(Entries("progress: ").empty());
    ExpectEnding("Downloading the image file...");
    ExpectImageClosed();
}

// --- transport failures during the download ---------------------------------

TEST_F(UpdateSessionTest, FailedSendIsNeverWaitedFor) {
    UseImage(PatternPayload(3000));
    board.sendResults[1] = COMM_ERROR_TIMEOUT;
    Run();
    EXPECT_EQ(AfterConnect({"CommSendData", "CommReceiveData", "CommSendData", "CommDisconnect", "CommClose"}),
              CommCalls());
    EXPECT_EQ((std::vector<std::string>{"10"}), Entries("progress: "));
    ExpectEnding("Failed to send image data to the board. Error code is 1460");
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, FailedLastSendShowsTheFailureNotBurning) {
    UseImage(PatternPayload(10));
    board.sendResults[0] = COMM_E_POINTER;
    Run();
    EXPECT_EQ(1u, board.sends.size());
    EXPECT_TRUE(board.receives.empty());
    ExpectEnding("Failed to send image data to the board. Error code is 2147500035");
}

TEST_F(UpdateSessionTest, FailedReceiveStopsSending) {
    UseImage(PatternPayload(3000));
    board.replies[0].result = COMM_ERROR_DEVICE_NOT_CONNECTED;
    Run();
    EXPECT_EQ(AfterConnect({"CommSendData", "CommReceiveData", "CommDisconnect", "CommClose"}), CommCalls());
    EXPECT_TRUE(Entries("progress: ").empty());
    ExpectEnding("Failed to receive the board's reply. Error code is 1167");
}

TEST_F(UpdateSessionTest, IncompleteReplyIsNotTakenAsAcceptance) {
    UseImage(PatternPayload(3000));
    board.replies[0].length = 4;
    Run();
    EXPECT_EQ(1u, board.sends.size());
    ExpectEnding("The board's reply was incomplete.");
}

TEST_F(UpdateSessionTest, EarlierReplyIsNotReadAgain) {
    // The second reply stores no bytes; a stale accepted status must not count.
    UseImage(PatternPayload(3000));
    board.replies[1].length = 0;
    Run();
    EXPECT_EQ(2u, board.sends.size());
    ExpectEnding("The board's reply was incomplete.");
}

TEST_F(UpdateSessionTest, ImageThatShrinksWhileSendingIsNotPaddedWithStaleBytes) {
    UseImage(PatternPayload(2000));
    board.maxPayload = 1016;
    board.afterSend = [this](size_t packet) {
        if (packet != 0) return;
        UniqueHandle file(::CreateFileA(view.imagePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = 128 + 1500;
        if (!file || !::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get()))
            log.push_back("test could not shrink the image");
    };
    Run();
    EXPECT_EQ(1u, board.sends.size());
    EXPECT_EQ(AfterConnect({"CommSendData", "CommReceiveData", "CommDisconnect", "CommClose"}), CommCalls());
    ExpectEnding("Failed to read the image file.");
    ExpectImageClosed();
}

TEST_F(UpdateSessionTest, SessionCanRunAgainWithTheSameImage) {
    UseImage(PatternPayload(1500));
    Run();
    ExpectEnding("Succeeded updating the firmware.");
    log.clear();
    Run();
    EXPECT_EQ(2u, board.opens.size());
    EXPECT_EQ(4u, board.sends.size());
    EXPECT_EQ(board.sends[0].packet, board.sends[2].packet);
    EXPECT_EQ(board.sends[1].packet, board.sends[3].packet);
    ExpectEnding("Succeeded updating the firmware.");
}

// What callers other than the dialog act on: how the session ended, with the code.
TEST_F(UpdateSessionTest, ResultNamesTheOutcomeAndItsCode) {
    struct Case {
        const char *what;
        std::function<void(ScriptedBoard &, std::vector<std::string> &)> script;
        UpdateOutcome outcome;
        uint32_t code;
    };
    const std::vector<Case> cases = {
        {"success", [](ScriptedBoard &, std::vector<std::string> &) {}, UpdateOutcome::Succeeded, 0},
        {"no board", [](ScriptedBoard &, std::vector<std::string> &t) { t.clear(); }, UpdateOutcome::NoTarget, 0},
        {"open", [](ScriptedBoard &b, std::vector<std::string> &) { b.openResult = 2; }, UpdateOutcome::CannotOpen, 2},
        {"connect", [](ScriptedBoard &b, std::vector<std::string> &) { b.connectResult = 1167; },
         UpdateOutcome::CannotConnect, 1167},
        {"send", [](ScriptedBoard &b, std::vector<std::string> &) { b.sendResults[1] = 1460; },
         UpdateOutcome::LinkFailed, 1460},
        {"refusal", [](ScriptedBoard &b, std::vector<std::string> &) { b.replies[1].status[0] = 0x03; },
         UpdateOutcome::BoardRefused, 3},
        {"replies repeating their packet's header",
         [](ScriptedBoard &b, std::vector<std::string> &) { b.repliesRepeatHeader = true; }, UpdateOutcome::Succeeded, 0},
        // The copy of the second reply comes when the last packet has gone: it is passed over.
        {"the second reply sent twice",
         [](ScriptedBoard &b, std::vector<std::string> &) {
             b.repliesRepeatHeader = true;
             b.replies[1].twice = true;
         },
         UpdateOutcome::Succeeded, 0},
        // Passed over, the copy leaves the last packet's refusal to decide.
        {"the second reply twice, the last refused",
         [](ScriptedBoard &b, std::vector<std::string> &) {
             b.repliesRepeatHeader = true;
             b.replies[1].twice = true;
             b.replies[2].status[0] = 0x07;
         },
         UpdateOutcome::BoardRefused, 7},
        {"a reply for no packet sent",
         [](ScriptedBoard &b, std::vector<std::string> &) {
             b.repliesRepeatHeader = true;
             b.replies[2].foreignHeader = true;
         },
         UpdateOutcome::LinkFailed, 0},
        // A board that leaves the header out cannot be checked: its copy counts as the last reply.
        {"a reply twice from a board that leaves the header out",
         [](ScriptedBoard &b, std::vector<std::string> &) { b.replies[1].twice = true; }, UpdateOutcome::Succeeded, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> caseLog;
        ScriptedBoard caseBoard(caseLog);
        RecordingView caseView(caseLog);
        caseView.imagePath = folder.Write("image.img", ImageBytes(PatternPayload(3000)));
        std::vector<std::string> caseTargets = {kFirstBoard};
        c.script(caseBoard, caseTargets);
        const UpdateResult result = RunUpdateSession(caseView, caseBoard.Functions(), [&](std::vector<std::string> &paths) {
            paths.insert(paths.end(), caseTargets.begin(), caseTargets.end());
            return caseTargets.size();
        });
        EXPECT_EQ(c.outcome, result.outcome);
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ("message: " + result.message, caseLog[caseLog.size() - 2]);
    }
}

// Another thread's interrupt disconnects the open connection (which ends a wait for
// the board); the session sends nothing more, closes, and never claims success.
TEST_F(UpdateSessionTest, InterruptDisconnectsSendsNothingMoreAndCloses) {
    UseImage(PatternPayload(5000));
    SessionInterrupt interrupt;
    board.afterSend = [&](size_t packetNumber) {
        if (packetNumber == 1) interrupt.Interrupt();
    };
    const UpdateResult result = RunUpdateSession(
        view, board.Functions(),
        [this](std::vector<std::string> &paths) {
            paths.push_back(kFirstBoard);
            return size_t{1};
        },
        &interrupt);
    EXPECT_EQ(UpdateOutcome::Interrupted, result.outcome);
    EXPECT_EQ(2u, board.sends.size());
    EXPECT_EQ(AfterConnect({"CommSendData", "CommReceiveData", "CommSendData", "CommDisconnect", "CommReceiveData",
                            "CommDisconnect", "CommClose"}),
              CommCalls());
    EXPECT_EQ(0u, std::count(log.begin(), log.end(), "progress: 100"));
    ExpectEnding("The update was interrupted; the board was disconnected.");
    ExpectImageClosed();

    // Once closed, the connection is out of the interrupt's reach.
    log.clear();
    interrupt.Interrupt();
    EXPECT_TRUE(CommCalls().empty());
}

// A board that stops answering is given up once the packet's deadline passes: the connection is
// cut (which ends the waiting call), then closed, and the session reports the silence.
TEST_F(UpdateSessionTest, SilentBoardIsGivenUpAtTheDeadline) {
    struct Case {
        const char *what;
        std::function<void(ScriptedBoard &)> script;
        size_t sends;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"no reply to a chunk", [](ScriptedBoard &b) { b.replies[1].silent = true; }, 2,
         "The board did not answer within 0.2 seconds; it was disconnected."},
        {"no reply to the last chunk", [](ScriptedBoard &b) { b.replies[2].silent = true; }, 3,
         "The board did not answer within 2 seconds; it was disconnected."},
        {"a chunk never acknowledged", [](ScriptedBoard &b) { b.silentSend = 0; }, 1,
         "The board did not answer within 0.2 seconds; it was disconnected."},
    };
    ReplyTimeouts timeouts;
    timeouts.chunkMs = 200;
    timeouts.lastChunkMs = 2000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        ScriptedBoard caseBoard(log);
        c.script(caseBoard);
        UseImage(PatternPayload(2500));  // three packets of at most 1008 bytes
        const UpdateResult result = RunUpdateSession(
            view, caseBoard.Functions(),
            [](std::vector<std::string> &paths) {
                paths.push_back(kFirstBoard);
                return size_t{1};
            },
            nullptr, timeouts);
        EXPECT_EQ(UpdateOutcome::BoardSilent, result.outcome);
        EXPECT_EQ(1460u, result.code);
        EXPECT_EQ(c.sends, caseBoard.sends.size());
        const std::vector<std::string> calls = CommCalls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ((std::vector<std::string>{"CommDisconnect", "CommDisconnect", "CommClose"}),
                  std::vector<std::string>(calls.end() - 3, calls.end()));
        EXPECT_EQ(0u, std::count(log.begin(), log.end(), "progress: 100"));
        for (const std::string &entry : log) EXPECT_EQ(std::string::npos, entry.find("waited 20 s")) << entry;
        ExpectEnding(c.message);
        ExpectImageClosed();
    }
}
