// `ImageTool list` and `ImageTool update` end to end: ImageTool.exe, Communicator.dll
// and Wirrow.dll as built for shipping, copied into a folder of their own, against
// simulated boards (this process) behind USB device interfaces of the board class.
// Each case checks the exit code a script would act on, the lines it prints and
// what reached the boards' flash.
#include "InstallationTest.h"
#include "Payloads.h"
#include "TextChecks.h"
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using boardsim::BoardConfig;
using boardsim::BoardEventKind;
using boardsim::FaultAction;
using boardsim::FaultPoint;
using boardsim::SimulatedBoard;

namespace {

constexpr DWORD kRunWaitMs = 120000;  // a 1 MiB update under Wine takes a few seconds
constexpr int kExitDone = 0, kExitNotAccepted = 1, kExitBadInput = 2, kExitNoBoard = 3, kExitLinkFailed = 4,
              kExitBoardRefused = 5, kExitInterrupted = 6;
const char kSucceeded[] = "Succeeded updating the firmware.";

// Ctrl+C as a user presses it in the tool's console: attach to that console, raise
// the event for the processes on it (this one ignores it), detach again.
bool PressCtrlC(DWORD processId) {
    ::FreeConsole();
    if (!::AttachConsole(processId)) return false;
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const BOOL sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    ::FreeConsole();
    return sent != FALSE;
}

size_t CountOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ImageToolUpdate : public InstallationTest {
protected:
    void SetUp() override {
        Install(ProgramFolder(), {"ImageTool.exe", "Communicator.dll", "Hivekey.dll", "Wirrow.dll"});
        ASSERT_TRUE(boardsim::ListPresentBoardInterfaces().empty()) << "boards left over from elsewhere";
    }

    // Starts the installed ImageTool.exe in a console of its own, as in a command window: Ctrl+C
    // there reaches the tool alone.
    bool StartTool(const std::string &arguments, ToolRun &run) {
        return run.Start(folder_.File("ImageTool.exe"), arguments, folder_.Path(), CREATE_NEW_CONSOLE);
    }

    // Runs ImageTool.exe to its end.
    int Tool(const std::string &arguments, ToolRun &run) {
        if (!StartTool(arguments, run)) {
            ADD_FAILURE() << "cannot start ImageTool " << arguments << ": " << ::GetLastError();
            return -1;
        }
        return run.Finish(kRunWaitMs);
    }

    // The boards in the order device setup lists them, which is the order `list` numbers.
    std::vector<SimulatedBoard *> BoardsInListOrder() {
        std::vector<SimulatedBoard *> ordered;
        for (const std::string &path : boardsim::ListPresentBoardInterfaces())
            for (auto &board : boards_)
                if (SameTextIgnoringCase(path, board->InterfacePath())) ordered.push_back(board.get());
        EXPECT_EQ(boards_.size(), ordered.size());
        return ordered;
    }
};

}  // namespace

TEST_F(ImageToolUpdate, ListShowsNoneOneAndTwoBoardsNumberedInFlashwellsOrder) {
    ToolRun none;
    EXPECT_EQ(kExitNoBoard, Tool("list", none));
    EXPECT_EQ("", none.out);
    EXPECT_EQ("ImageTool: No target found.\n", none.err);

    AddBoard();
    ToolRun one;
    EXPECT_EQ(kExitDone, Tool("list", one)) << one.err;
    EXPECT_EQ("1  " + boards_[0]->InterfacePath() + "\n", one.out);

    AddBoard();
    const std::vector<SimulatedBoard *> ordered = BoardsInListOrder();
    ASSERT_EQ(2u, ordered.size());
    ToolRun two;
    EXPECT_EQ(kExitDone, Tool("list", two)) << two.err;
    EXPECT_EQ("1  " + ordered[0]->InterfacePath() + "\n2  " + ordered[1]->InterfacePath() + "\n", two.out);
    EXPECT_EQ("", two.err);
}

TEST_F(ImageToolUpdate, UpdatesTheBoardChosenByNumberAndLeavesTheOtherAlone) {
    const std::vector<uint8_t> payload = PatternPayload(300000, 3);
    const std::string image = MakeImage(payload);
    AddBoard();
    AddBoard();
    const std::vector<SimulatedBoard *> ordered = BoardsInListOrder();
    ASSERT_EQ(2u, ordered.size());

    ToolRun run;
    ASSERT_EQ(kExitDone, Tool("update " + image + " --board 2", run)) << run.err;
    EXPECT_EQ("board 2 (" + ordered[1]->InterfacePath() + "): " + kSucceeded + "\n", run.out);
    // Plain progress lines, as stderr is a file here.
    EXPECT_TRUE(Contains(run.err, "Image firmware.img: model \"KV-220\", version \"3.1.4\"\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Connecting target ...\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Burning flash, please wait...\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "100%  292 / 292 KiB")) << run.err;
    EXPECT_FALSE(Contains(run.err, "\r")) << "a bar drawn into a file";
    EXPECT_TRUE(ordered[1]->FlashImage() == payload);
    EXPECT_EQ(0u, ordered[0]->FlashWrites());
    EXPECT_TRUE(ordered[0]->Events().empty()) << "the other board was opened";
}

TEST_F(ImageToolUpdate, UpdatesTheBoardChosenByPathQuietly) {
    const std::vector<uint8_t> payload = PatternPayload(50000, 5);
    const std::string image = MakeImage(payload);
    AddBoard();
    SimulatedBoard &chosen = AddBoard();

    ToolRun run;
    ASSERT_EQ(kExitDone, Tool("update --quiet --path \"" + chosen.InterfacePath() + "\" " + image, run)) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(chosen.FlashImage() == payload);
    EXPECT_EQ(0u, boards_[0]->FlashWrites());
}

TEST_F(ImageToolUpdate, AllUpdatesEveryBoardOneAfterAnother) {
    const std::vector<uint8_t> payload = PatternPayload(200000, 7);
    const std::string image = MakeImage(payload);
    AddBoard();
    AddBoard();
    const std::vector<SimulatedBoard *> ordered = BoardsInListOrder();
    ASSERT_EQ(2u, ordered.size());

    ToolRun run;
    ASSERT_EQ(kExitDone, Tool("update " + image + " --all", run)) << run.err;
    EXPECT_EQ("board 1 (" + ordered[0]->InterfacePath() + "): " + kSucceeded + "\nboard 2 (" +
                  ordered[1]->InterfacePath() + "): " + kSucceeded + "\n",
              run.out);
    for (SimulatedBoard *board : ordered) {
        EXPECT_EQ(1u, board->FlashWrites());
        EXPECT_TRUE(board->FlashImage() == payload);
    }
}

// Every failure: its exit code and its one line on stderr; nothing claims success.
TEST_F(ImageToolUpdate, EachFailureHasItsExitCodeAndOneLine) {
    const std::string image = MakeImage(PatternPayload(100000, 9));
    const std::string newer = MakeImage(PatternPayload(1000, 10), "newer.img", "--requires 1.0.0.3");
    const std::string empty = MakeImage({}, "empty.img");
    std::string bytes = ReadWholeFile(folder_.File(image));
    bytes[5000] = static_cast<char>(bytes[5000] ^ 0x40);
    ASSERT_TRUE(WriteWholeFile(folder_.File("corrupted.img"), bytes.data(), bytes.size()));
    struct Case {
        const char *what;
        std::vector<BoardConfig> boards;
        std::string arguments;
        int exitCode;
        std::string errorLine;  // stderr ends with "ImageTool: " and this
    };
    BoardConfig refusing;
    refusing.faults.rules.push_back({FaultPoint::UpdateChunk, 3, 1, FaultAction::RejectChunk, 0, 0x0201});
    BoardConfig dropping;
    dropping.faults.rules.push_back({FaultPoint::UpdateChunk, 2, 1, FaultAction::Disconnect, 0, 0});
    BoardConfig notConnecting;
    notConnecting.faults.rules.push_back({FaultPoint::ConnectRequest, 1, 1, FaultAction::Disconnect, 0, 0});
    BoardConfig silent;  // takes the second chunk, then says nothing for a minute
    silent.faults.rules.push_back({FaultPoint::UpdateChunk, 2, 1, FaultAction::Stall, 60000, 0});
    BoardConfig neverDoneWriting;
    neverDoneWriting.flashWriteDelayMs = 60000;
    const std::vector<Case> cases = {
        {"corrupted", {BoardConfig()}, "update corrupted.img", kExitNotAccepted,
         "corrupted.img: This file is corrupted or not an image file!"},
        {"needs a newer updater", {BoardConfig()}, "update newer.img", kExitNotAccepted, "newer.img: Version misMatch."},
        {"empty payload", {BoardConfig()}, "update empty.img", kExitNotAccepted,
         "empty.img: the image's payload is empty; there is nothing to write"},
        {"no image named", {BoardConfig()}, "update --all", kExitBadInput, "update takes exactly one image file"},
        {"two choices", {BoardConfig()}, "update firmware.img --all --board 1", kExitBadInput,
         "update takes one of --board, --path and --all"},
        {"missing file", {BoardConfig()}, "update missing.img", kExitBadInput, "cannot read 'missing.img': "},
        {"no board", {}, "update firmware.img", kExitNoBoard, "No target found."},
        {"board 2 of 1", {BoardConfig()}, "update firmware.img --board 2", kExitNoBoard,
         "board 2 is not present (1 found)"},
        {"absent path", {BoardConfig()}, "update firmware.img --path \\\\?\\usb#nothing", kExitNoBoard,
         "no board present at \\\\?\\usb#nothing"},
        {"connect fails", {notConnecting}, "update firmware.img", kExitLinkFailed, "Can't connect target. Error code is "},
        {"link drops", {dropping}, "update firmware.img", kExitLinkFailed, "Error code is "},
        {"board refuses", {refusing}, "update firmware.img", kExitBoardRefused,
         "Failed to download image file to the board. Error code is 513"},
        {"board goes silent", {silent}, "update firmware.img --reply-timeout 1", kExitLinkFailed,
         "The board did not answer within 1 second; it was disconnected."},
        {"flash never written", {neverDoneWriting}, "update firmware.img --flash-timeout 2", kExitLinkFailed,
         "The board did not answer within 2 seconds; it was disconnected."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boards_.clear();
        for (const BoardConfig &config : c.boards) AddBoard(config);
        ToolRun run;
        EXPECT_EQ(c.exitCode, Tool(c.arguments, run)) << run.err;
        EXPECT_EQ("", run.out);
        const size_t lineStart = run.err.rfind('\n', run.err.size() >= 2 ? run.err.size() - 2 : 0);
        const std::string lastLine = run.err.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
        EXPECT_EQ(0u, lastLine.find("ImageTool: ")) << run.err;
        EXPECT_TRUE(Contains(lastLine, c.errorLine)) << run.err;
        if (c.exitCode == kExitLinkFailed) std::printf("[ figures  ] %s: %s", c.what, lastLine.c_str());
        EXPECT_FALSE(Contains(run.err, kSucceeded)) << run.err;
        for (auto &board : boards_) EXPECT_EQ(0u, board->FlashWrites());
    }
}

TEST_F(ImageToolUpdate, CtrlCInTheMiddleDisconnectsAndTheNextUpdateSucceeds) {
    const std::vector<uint8_t> payload = PatternPayload(1024 * 1024, 13);
    const std::string image = MakeImage(payload);
    BoardConfig config;
    // The board holds the 10th chunk long enough for the interrupt to find the update waiting.
    config.faults.rules.push_back({FaultPoint::UpdateChunk, 10, 1, FaultAction::Stall, 5000, 0});
    SimulatedBoard &board = AddBoard(config);

    ToolRun run;
    ASSERT_TRUE(StartTool("update " + image, run));
    ASSERT_TRUE(board.WaitUpdateReplies(9, kRunWaitMs));
    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(PressCtrlC(run.ProcessId())) << ::GetLastError();
    EXPECT_EQ(kExitInterrupted, run.Finish(30000)) << run.err;
    std::printf("[ figures  ] Ctrl+C to exit: %.2f s (the board held the packet for 5 s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count());
    std::fflush(stdout);
    EXPECT_EQ("", run.out);
    EXPECT_TRUE(Contains(run.err, "ImageTool: board 1 (" + board.InterfacePath() +
                                      "): The update was interrupted; the board was disconnected.\n"))
        << run.err;
    EXPECT_FALSE(Contains(run.err, kSucceeded));
    // The board sees the link end and waits for the next host; nothing went to flash.
    ASSERT_TRUE(board.WaitListening(20000));
    const std::vector<boardsim::BoardEvent> events = board.Events();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                            [](const boardsim::BoardEvent &e) { return e.kind == BoardEventKind::SessionEnded; }));
    EXPECT_EQ(0u, board.FlashWrites());

    ToolRun again;
    ASSERT_EQ(kExitDone, Tool("update " + image, again)) << again.err;
    EXPECT_EQ(1u, board.FlashWrites());
    EXPECT_TRUE(board.FlashImage() == payload);
    EXPECT_EQ(1u, CountOf(again.out, kSucceeded));
}
