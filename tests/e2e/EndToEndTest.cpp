// A firmware update from the user's click to the board's flash, with nothing
// replaced: Flashwell.exe, Communicator.dll and Wirrow.dll as built for
// shipping, copied into a folder of their own, an image made by ImageTool.exe,
// and simulated boards (this process) behind USB device interfaces of the board
// class. Flashwell is driven through its real windows from outside.
#include "FlashwellDriver.h"
#include "InstallationTest.h"
#include "Payloads.h"
#include "TextChecks.h"
#include <windows.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using boardsim::BoardConfig;
using boardsim::FaultAction;
using boardsim::FaultPoint;
using boardsim::SimulatedBoard;
using flashwelltest::FlashwellDriver;
using flashwelltest::WaitUntil;

namespace {

constexpr int IDC_STATUS = 1000, IDC_UPDATE = 1001, IDC_SELECT_IMAGE = 1003;
constexpr int kMessageBoxText = 0xFFFF;
constexpr DWORD kUpdateWaitMs = 60000;  // a 1 MiB update under Wine takes a few seconds
constexpr size_t kOneMiB = 1024 * 1024;

const char kSucceeded[] = "Succeeded updating the firmware.";

// The mixed-width run names the 32-bit build's folder in FLASHWELL_SHIPPED32_BIN; empty otherwise.
std::string Shipped32Folder() {
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("FLASHWELL_SHIPPED32_BIN", folder, MAX_PATH);
    return length < MAX_PATH ? std::string(folder, length) : std::string();
}

// Where the programs under test come from: this build's own folder, or the 32-bit build's.
std::string ProductFolder() {
    const std::string shipped32 = Shipped32Folder();
    return shipped32.empty() ? ProgramFolder() : shipped32;
}

// What the user saw when the closing message box came up.
struct Outcome {
    bool boxShown = false;
    std::string message;
    std::string status;
    int progress = -1;
    bool buttonsDisabledUnderBox = false;
    bool buttonsEnabledAfter = false;
    double seconds = 0;
};

class EndToEnd : public InstallationTest {
protected:
    void SetUp() override {
        const std::string bin = ProductFolder();
        Install(bin, {"Flashwell.exe", "Communicator.dll", "Hivekey.dll", "Wirrow.dll"});
        if (!Shipped32Folder().empty()) {
            DWORD type = 0;
            ASSERT_TRUE(::GetBinaryTypeA(folder_.File("Flashwell.exe").c_str(), &type));
            ASSERT_EQ(static_cast<DWORD>(SCS_32BIT_BINARY), type) << "not the 32-bit build: " << bin;
        }
    }

    void TearDown() override {
        flashwell_.reset();
        InstallationTest::TearDown();
    }

    // Starts Flashwell.exe and selects the image `name` through its open-file dialog.
    FlashwellDriver &StartWithImage(const std::string &name) {
        flashwell_ = std::make_unique<FlashwellDriver>();
        EXPECT_TRUE(flashwell_->Start(folder_.Path()));
        EXPECT_TRUE(flashwell_->ChooseImage(folder_.File(name)));
        EXPECT_TRUE(WaitUntil([&] { return flashwell_->Enabled(IDC_UPDATE); }, 10000));
        return *flashwell_;
    }

    // Clicks Update, waits for the closing message box, reads the dialog while
    // the box is up, then closes it with OK.
    static Outcome RunUpdate(FlashwellDriver &app) {
        Outcome outcome;
        const auto start = std::chrono::steady_clock::now();
        app.Click(IDC_UPDATE);
        HWND box = app.WaitForWindow("", kMessageBoxText, kUpdateWaitMs);
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!box) return outcome;
        outcome.boxShown = true;
        outcome.status = app.Text(IDC_STATUS);
        outcome.progress = app.ProgressPosition();
        outcome.buttonsDisabledUnderBox = !app.Enabled(IDC_UPDATE) && !app.Enabled(IDC_SELECT_IMAGE);
        if (!app.AnswerMessageBox(outcome.message)) return outcome;
        outcome.buttonsEnabledAfter =
            WaitUntil([&] { return app.Enabled(IDC_UPDATE) && app.Enabled(IDC_SELECT_IMAGE); }, 10000);
        return outcome;
    }

    std::unique_ptr<FlashwellDriver> flashwell_;
};

bool EndsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST_F(EndToEnd, UpdatesABoardWithA1MiBRandomImageByteForByte) {
    const uint32_t seed = static_cast<uint32_t>(::GetTickCount());
    SCOPED_TRACE("payload seed " + std::to_string(seed));
    const std::vector<uint8_t> payload = PatternPayload(kOneMiB, seed);
    const std::string image = MakeImage(payload);
    ASSERT_FALSE(image.empty());
    SimulatedBoard &board = AddBoard();
    FlashwellDriver &app = StartWithImage(image);

    const Outcome outcome = RunUpdate(app);
    ASSERT_TRUE(outcome.boxShown);
    EXPECT_TRUE(EndsWith(outcome.status, kSucceeded)) << outcome.status;
    EXPECT_EQ(kSucceeded, outcome.message);
    EXPECT_EQ(100, outcome.progress);
    EXPECT_TRUE(outcome.buttonsDisabledUnderBox);
    EXPECT_TRUE(outcome.buttonsEnabledAfter);
    ASSERT_EQ(1u, board.FlashWrites());
    EXPECT_TRUE(board.FlashImage() == payload) << "the written image differs from the payload";
    std::printf("[ figures  ] 1 MiB update, click to closing message: %.2f s (%.0f KiB/s)\n", outcome.seconds,
                1024.0 / outcome.seconds);
    std::fflush(stdout);
}

TEST_F(EndToEnd, WithoutABoardSaysNoTargetFound) {
    const std::string image = MakeImage(PatternPayload(4096, 7));
    ASSERT_FALSE(image.empty());
    ASSERT_TRUE(boardsim::ListPresentBoardInterfaces().empty());
    FlashwellDriver &app = StartWithImage(image);

    const Outcome outcome = RunUpdate(app);
    ASSERT_TRUE(outcome.boxShown);
    EXPECT_EQ("No target found.", outcome.status);
    EXPECT_EQ("No target found.", outcome.message);
    EXPECT_EQ(0, outcome.progress);
    EXPECT_TRUE(outcome.buttonsEnabledAfter);
}

TEST_F(EndToEnd, ARejectedChunkEndsTheUpdateWithTheBoardsErrorCode) {
    const std::vector<uint8_t> payload = PatternPayload(200000, 11);
    const std::string image = MakeImage(payload);
    ASSERT_FALSE(image.empty());
    BoardConfig config;
    config.faults.rules.push_back({FaultPoint::UpdateChunk, 3, 1, FaultAction::RejectChunk, 0, 0x0201});
    SimulatedBoard &board = AddBoard(config);
    FlashwellDriver &app = StartWithImage(image);

    const Outcome outcome = RunUpdate(app);
    ASSERT_TRUE(outcome.boxShown);
    EXPECT_EQ("Failed to download image file to the board. Error code is 513", outcome.status);
    EXPECT_EQ(outcome.status, outcome.message);
    // Two chunks were acknowledged before the refusal; the flash stays untouched.
    EXPECT_GT(outcome.progress, 0);
    EXPECT_LT(outcome.progress, 30);
    EXPECT_TRUE(outcome.buttonsEnabledAfter);
    EXPECT_EQ(0u, board.FlashWrites());
    // No chunk after the refused one was sent.
    EXPECT_TRUE(board.WaitUpdateReplies(3, 1000));
    EXPECT_FALSE(board.WaitUpdateReplies(4, 0));
}

TEST_F(EndToEnd, ABoardUnpluggedWhileWritingItsFlashFailsCleanlyAndTheNextUpdateSucceeds) {
    const std::vector<uint8_t> payload = PatternPayload(kOneMiB, 23);
    const std::string image = MakeImage(payload);
    ASSERT_FALSE(image.empty());
    BoardConfig config;
    config.flashWriteDelayMs = 2000;  // long enough to pull the board while it writes
    SimulatedBoard &board = AddBoard(config);
    FlashwellDriver &app = StartWithImage(image);

    app.Click(IDC_UPDATE);
    ASSERT_TRUE(
        WaitUntil([&] { return app.Text(IDC_STATUS) == "Burning flash, please wait..."; }, kUpdateWaitMs));
    const auto unplugged = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, board.Unplug());
    HWND box = app.WaitForWindow("", kMessageBoxText, 30000);
    ASSERT_NE(nullptr, box) << "Flashwell still waits for the unplugged board: " << app.Text(IDC_STATUS);
    const double secondsToMessage =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - unplugged).count();
    const std::string status = app.Text(IDC_STATUS);
    EXPECT_NE(std::string::npos, status.find("Failed")) << status;
    EXPECT_FALSE(EndsWith(status, kSucceeded)) << status;
    EXPECT_NE(100, app.ProgressPosition());
    // The board was pulled before it could report its flash written.
    EXPECT_EQ(0u, board.FlashWrites());
    std::string message;
    ASSERT_TRUE(app.AnswerMessageBox(message));
    EXPECT_EQ(status, message);
    EXPECT_TRUE(WaitUntil([&] { return app.Enabled(IDC_UPDATE) && app.Enabled(IDC_SELECT_IMAGE); }, 10000));
    std::printf("[ figures  ] unplug to closing message: %.2f s; status \"%s\"\n", secondsToMessage,
                status.c_str());
    std::fflush(stdout);

    // Plugged in again, the same image goes through.
    ASSERT_EQ(0u, board.Replug());
    ASSERT_TRUE(board.WaitListening(10000));
    const Outcome second = RunUpdate(app);
    ASSERT_TRUE(second.boxShown);
    EXPECT_EQ(kSucceeded, second.status);
    EXPECT_EQ(kSucceeded, second.message);
    EXPECT_EQ(100, second.progress);
    EXPECT_TRUE(second.buttonsEnabledAfter);
    EXPECT_TRUE(board.FlashImage() == payload) << "the written image differs from the payload";
}

TEST_F(EndToEnd, ABoardUnpluggedDuringTheDownloadFailsCleanlyAndTheNextUpdateSucceeds) {
    const std::vector<uint8_t> payload = PatternPayload(kOneMiB, 29);
    const std::string image = MakeImage(payload);
    ASSERT_FALSE(image.empty());
    BoardConfig config;
    // The board disappears when the 20th of the 65 chunks arrives.
    config.faults.rules.push_back({FaultPoint::UpdateChunk, 20, 1, FaultAction::Unplug, 0, 0});
    SimulatedBoard &board = AddBoard(config);
    FlashwellDriver &app = StartWithImage(image);

    const Outcome outcome = RunUpdate(app);
    ASSERT_TRUE(outcome.boxShown) << "Flashwell still waits for the unplugged board";
    EXPECT_NE(std::string::npos, outcome.status.find("Failed")) << outcome.status;
    EXPECT_EQ(outcome.status, outcome.message);
    EXPECT_GT(outcome.progress, 0);
    EXPECT_LT(outcome.progress, 30);
    EXPECT_TRUE(outcome.buttonsEnabledAfter);
    EXPECT_EQ(0u, board.FlashWrites());
    std::printf("[ figures  ] unplugged during the download: \"%s\" after %.2f s\n", outcome.status.c_str(),
                outcome.seconds);
    std::fflush(stdout);

    ASSERT_EQ(0u, board.Replug());
    ASSERT_TRUE(board.WaitListening(10000));
    const Outcome second = RunUpdate(app);
    ASSERT_TRUE(second.boxShown);
    EXPECT_EQ(kSucceeded, second.message);
    EXPECT_EQ(100, second.progress);
    EXPECT_EQ(1u, board.FlashWrites());
    EXPECT_TRUE(board.FlashImage() == payload) << "the written image differs from the payload";
}

TEST_F(EndToEnd, WithTwoBoardsOnlyTheFirstListedOneIsUpdated) {
    const std::vector<uint8_t> payload = PatternPayload(100000, 31);
    const std::string image = MakeImage(payload);
    ASSERT_FALSE(image.empty());
    SimulatedBoard &one = AddBoard();
    SimulatedBoard &two = AddBoard();
    const std::vector<std::string> listed = boardsim::ListPresentBoardInterfaces();
    ASSERT_EQ(2u, listed.size());
    const bool oneFirst = SameTextIgnoringCase(listed[0], one.InterfacePath());
    ASSERT_TRUE(oneFirst || SameTextIgnoringCase(listed[0], two.InterfacePath())) << listed[0];
    SimulatedBoard &first = oneFirst ? one : two;
    SimulatedBoard &other = oneFirst ? two : one;
    FlashwellDriver &app = StartWithImage(image);

    const Outcome outcome = RunUpdate(app);
    ASSERT_TRUE(outcome.boxShown);
    EXPECT_EQ(kSucceeded, outcome.message);
    EXPECT_TRUE(first.FlashImage() == payload);
    EXPECT_EQ(1u, first.FlashWrites());
    EXPECT_EQ(0u, other.FlashWrites());
    EXPECT_TRUE(other.Events().empty()) << "the other board was opened: "
                                        << boardsim::DescribeEvent(other.Events().front());
}

// The guide's host example against a board that answers on its channel and one that does not:
// the example never waits for an answer longer than its 5 seconds.
struct HostExampleCase {
    const char *what;
    bool boardAnswers;
    int exitCode;
    const char *lastLine;
    double atLeastSeconds;  // the silent board's: the example's whole wait
};

class GuideHostExample : public EndToEnd, public testing::WithParamInterface<HostExampleCase> {};

TEST_P(GuideHostExample, ExchangesAMessageOrGivesUpAfterItsWait) {
    const HostExampleCase &row = GetParam();
    Install(ProductFolder(), {"HostExample.exe"});
    BoardConfig config;
    config.updateMode = false;
    SimulatedBoard &board = AddBoard(config);

    ToolRun example;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(example.Start(folder_.File("HostExample.exe"), "\"" + board.InterfacePath() + "\"", folder_.Path()));

    boardsim::HostMessage message;
    ASSERT_TRUE(board.WaitHostMessage(&message, 20000));
    EXPECT_EQ(65, message.channel);
    EXPECT_EQ(1, message.subchannel);
    EXPECT_EQ("hello, board", std::string(message.data.begin(), message.data.end()));
    if (row.boardAnswers) {
        const std::string answer = "hello, host";
        const uint32_t ticket = board.QueueMessage(65, 1, std::vector<uint8_t>(answer.begin(), answer.end()));
        EXPECT_EQ(0u, board.WaitMessageSent(ticket, 10000));
    }

    const int code = example.Finish(20000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(-1, code) << "the example still waits";
    EXPECT_EQ(row.exitCode, code) << example.out << example.err;
    EXPECT_TRUE(EndsWith(example.out, std::string(row.lastLine) + "\n")) << example.out;
    EXPECT_GE(seconds, row.atLeastSeconds) << "gave up before its wait was over";
}

INSTANTIATE_TEST_SUITE_P(
    Boards, GuideHostExample,
    testing::Values(HostExampleCase{"answering", true, 0, "reply: hello, host (11 bytes, channel 65/1)", 0.0},
                    HostExampleCase{"silent", false, 3, "no answer within 5 seconds", 4.5}),
    [](const testing::TestParamInfo<HostExampleCase> &info) { return std::string(info.param.what); });

// The guide's board lookup lists the paths of the boards plugged in, in the order Flashwell takes
// them, each one a line; with none it says so and ends with 3.
TEST_F(EndToEnd, TheGuidesBoardLookupListsEveryBoardInFlashwellsOrder) {
    Install(ProductFolder(), {"FindBoards.exe"});
    for (size_t boards : {0u, 2u}) {
        SCOPED_TRACE(std::to_string(boards) + " boards");
        while (boards_.size() < boards) AddBoard();
        const std::vector<std::string> listed = boardsim::ListPresentBoardInterfaces();
        ASSERT_GE(listed.size(), boards);
        std::string expected;
        for (const std::string &path : listed) expected += path + "\n";

        ToolRun lookup;
        ASSERT_TRUE(lookup.Start(folder_.File("FindBoards.exe"), "", folder_.Path()));
        EXPECT_EQ(listed.empty() ? 3 : 0, lookup.Finish(20000)) << lookup.err;
        EXPECT_EQ(expected, lookup.out);
        for (const auto &board : boards_) EXPECT_TRUE(boardsim::IsBoardInterfaceListed(board->InterfacePath()));
        EXPECT_EQ(listed.empty(), lookup.err.find("No board found") != std::string::npos) << lookup.err;
    }
}
