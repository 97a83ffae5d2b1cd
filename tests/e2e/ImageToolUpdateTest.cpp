// `ImageTool list` and `ImageTool update` end to end: ImageTool.exe, Communicator.dll
// and Wirrow.dll as built for shipping, copied into a folder of their own, against
// simulated boards (this process) behind USB device interfaces of the board class.
// Each case checks the exit code a script would act on, the lines it prints and
// what reached the boards' flash.
#include "InstallationTest.h"
#include "Payloads.h"
#include "TextChecks.h"
#include <nlohmann/json.hpp>
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
// the event for the processes on it (this one ignores it meanwhile), detach again. Under Wine
// a later press misses its tool while this process still ignores the event.
bool PressCtrlC(DWORD processId) {
    ::FreeConsole();
    if (!::AttachConsole(processId)) return false;
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const BOOL sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    ::FreeConsole();
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    return sent != FALSE;
}

// The JSON records of `--json` or `--log`, one per line; a line that is no JSON object fails the test.
std::vector<nlohmann::json> Records(const std::string &lines) {
    std::vector<nlohmann::json> records;
    size_t start = 0;
    for (size_t end = lines.find('\n'); end != std::string::npos; start = end + 1, end = lines.find('\n', start)) {
        nlohmann::json record = nlohmann::json::parse(lines.substr(start, end - start), nullptr, false);
        EXPECT_TRUE(record.is_object()) << lines.substr(start, end - start);
        records.push_back(record);
    }
    EXPECT_EQ(start, lines.size()) << "a record without its line end";
    return records;
}

// The record whose path is the board's.
const nlohmann::json *RecordOf(const std::vector<nlohmann::json> &records, const SimulatedBoard &board) {
    for (const nlohmann::json &record : records)
        if (record.value("path", std::string()) == board.InterfacePath()) return &record;
    return nullptr;
}

// Waits until the file holds `lines` lines, woken by the folder's change notices.
bool WaitFileLines(const std::string &folder, const std::string &path, size_t lines, DWORD timeoutMs) {
    struct ChangeNotice {
        HANDLE handle;
        ~ChangeNotice() {
            if (handle != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(handle);
        }
    } notice{::FindFirstChangeNotificationA(folder.c_str(), FALSE,
                                            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                                FILE_NOTIFY_CHANGE_FILE_NAME)};
    if (notice.handle == INVALID_HANDLE_VALUE) return false;
    const DWORD start = ::GetTickCount();
    for (;;) {
        const std::string text = ReadWholeFile(path);
        if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return true;
        const DWORD spent = ::GetTickCount() - start;
        if (spent >= timeoutMs || ::WaitForSingleObject(notice.handle, timeoutMs - spent) != WAIT_OBJECT_0 ||
            !::FindNextChangeNotification(notice.handle))
            return false;
    }
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

// --- several boards at once, and the station ----------------------------------

TEST_F(ImageToolUpdate, ParallelFlashesEveryBoardButTheRefusingOneAndNamesIt) {
    const std::vector<uint8_t> payload = PatternPayload(400000, 17);
    const std::string image = MakeImage(payload);
    BoardConfig refusing;
    refusing.faults.rules.push_back({FaultPoint::UpdateChunk, 3, 1, FaultAction::RejectChunk, 0, 0x0201});
    AddBoard();
    SimulatedBoard &refuser = AddBoard(refusing);
    AddBoard();

    ToolRun run;
    ASSERT_EQ(kExitBoardRefused, Tool("update " + image + " --all --parallel --json", run)) << run.err;
    const std::vector<nlohmann::json> records = Records(run.out);
    ASSERT_EQ(3u, records.size()) << run.out;
    for (auto &board : boards_) {
        const nlohmann::json *record = RecordOf(records, *board);
        ASSERT_NE(nullptr, record) << board->InterfacePath() << "\n" << run.out;
        if (board.get() == &refuser) {
            EXPECT_EQ("refused", (*record)["result"]);
            EXPECT_EQ(kExitBoardRefused, (*record)["exit_code"]);
            EXPECT_EQ(0x0201, (*record)["board_code"]);
            EXPECT_FALSE(record->contains("link_code"));
            EXPECT_LT((*record)["bytes"].get<uint64_t>(), payload.size());
            EXPECT_EQ(0u, board->FlashWrites());
            EXPECT_TRUE(Contains(run.err, "ImageTool: board " + std::to_string((*record)["number"].get<unsigned>()) +
                                              " (" + board->InterfacePath() +
                                              "): Failed to download image file to the board. Error code is 513\n"))
                << run.err;
        } else {
            EXPECT_EQ("done", (*record)["result"]);
            EXPECT_EQ(kExitDone, (*record)["exit_code"]);
            EXPECT_EQ(payload.size(), (*record)["bytes"].get<uint64_t>());
            EXPECT_FALSE(record->contains("board_code") || record->contains("link_code"));
            EXPECT_EQ(1u, board->FlashWrites());
            EXPECT_TRUE(board->FlashImage() == payload);
        }
        EXPECT_GT((*record)["seconds"].get<double>(), 0.0);
        EXPECT_EQ(24u, (*record)["start"].get<std::string>().size()) << *record;
    }
    // Plain progress lines start with the board's number; the summary goes to stderr beside --json.
    EXPECT_TRUE(Contains(run.err, "\n1: Connecting target ...\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "\n3: 100%  390 / 390 KiB")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Summary:\n  1  ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "  refused (board code 513)  ")) << run.err;
}

TEST_F(ImageToolUpdate, CtrlCDuringAParallelUpdateDisconnectsEveryBoard) {
    const std::vector<uint8_t> payload = PatternPayload(1024 * 1024, 19);
    const std::string image = MakeImage(payload);
    BoardConfig holding;  // holds the 10th chunk for the interrupt to find every update waiting
    holding.faults.rules.push_back({FaultPoint::UpdateChunk, 10, 1, FaultAction::Stall, 5000, 0});
    for (int i = 0; i < 3; ++i) AddBoard(holding);

    ToolRun run;
    ASSERT_TRUE(StartTool("update " + image + " --all --parallel --json --log station.log", run));
    for (auto &board : boards_) ASSERT_TRUE(board->WaitUpdateReplies(9, kRunWaitMs));
    ASSERT_TRUE(PressCtrlC(run.ProcessId())) << ::GetLastError();
    EXPECT_EQ(kExitInterrupted, run.Finish(30000)) << run.err;
    const std::vector<nlohmann::json> records = Records(run.out);
    EXPECT_EQ(3u, records.size()) << run.out;
    for (const nlohmann::json &record : records) EXPECT_EQ("interrupted", record["result"]) << record;
    EXPECT_EQ(run.out, ReadWholeFile(folder_.File("station.log")));
    EXPECT_FALSE(Contains(run.err, kSucceeded));
    for (auto &board : boards_) {
        ASSERT_TRUE(board->WaitListening(20000));
        const std::vector<boardsim::BoardEvent> events = board->Events();
        EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                                [](const boardsim::BoardEvent &e) { return e.kind == BoardEventKind::SessionEnded; }));
        EXPECT_EQ(0u, board->FlashWrites());
    }
}

TEST_F(ImageToolUpdate, TheLogKeepsEveryFinishedBoardWhenTheToolIsKilled) {
    const std::vector<uint8_t> payload = PatternPayload(100000, 23);
    const std::string image = MakeImage(payload);
    ASSERT_TRUE(WriteWholeFile(folder_.File("station.log"), std::string("{\"earlier\":1}\n").data(), 14));
    SimulatedBoard &quick = AddBoard();
    BoardConfig silent;  // takes the second chunk, then says nothing for a minute
    silent.faults.rules.push_back({FaultPoint::UpdateChunk, 2, 1, FaultAction::Stall, 60000, 0});
    AddBoard(silent);

    ToolRun run;
    ASSERT_TRUE(StartTool("update " + image + " --all --parallel --log station.log", run));
    ASSERT_TRUE(WaitFileLines(folder_.Path(), folder_.File("station.log"), 2, kRunWaitMs));
    EXPECT_EQ(-1, run.Finish(0)) << "killed while the silent board is still waited for";
    const std::vector<nlohmann::json> records = Records(ReadWholeFile(folder_.File("station.log")));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(1, records[0]["earlier"]) << "the log is appended to";
    EXPECT_EQ(quick.InterfacePath(), records[1]["path"]);
    EXPECT_EQ("done", records[1]["result"]);
    EXPECT_EQ(payload.size(), records[1]["bytes"].get<uint64_t>());
    EXPECT_TRUE(quick.FlashImage() == payload);
}

TEST_F(ImageToolUpdate, WatchUpdatesEachArrivalOnceAndAReplugAgain) {
    const std::vector<uint8_t> payload = PatternPayload(200000, 29);
    const std::string image = MakeImage(payload);
    ToolRun run;
    ASSERT_TRUE(StartTool("watch " + image + " --count 5 --json --log station.log", run));

    // One at a time.
    SimulatedBoard &first = AddBoard();
    ASSERT_TRUE(first.WaitFlashWrites(1, kRunWaitMs));
    SimulatedBoard &second = AddBoard();
    ASSERT_TRUE(second.WaitFlashWrites(1, kRunWaitMs));
    // Two at once: the slow one holds a packet while the other is flashed beside it.
    BoardConfig slow;
    slow.faults.rules.push_back({FaultPoint::UpdateChunk, 3, 1, FaultAction::Stall, 3000, 0});
    SimulatedBoard &third = AddBoard(slow);
    SimulatedBoard &fourth = AddBoard();
    ASSERT_TRUE(fourth.WaitFlashWrites(1, kRunWaitMs));
    EXPECT_EQ(0u, third.FlashWrites()) << "the two boards were not updated at the same time";
    ASSERT_TRUE(third.WaitFlashWrites(1, kRunWaitMs));
    // The first board stayed plugged in all along: not updated again until it is replugged.
    EXPECT_EQ(1u, first.FlashWrites());
    ASSERT_TRUE(first.WaitListening(20000));
    ASSERT_EQ(0u, first.Unplug());
    ASSERT_EQ(0u, first.Replug());

    EXPECT_EQ(kExitDone, run.Finish(kRunWaitMs)) << run.err;
    EXPECT_EQ(2u, first.FlashWrites());
    for (auto &board : boards_) EXPECT_TRUE(board->FlashImage() == payload);
    for (SimulatedBoard *once : {&second, &third, &fourth}) EXPECT_EQ(1u, once->FlashWrites());
    const std::vector<nlohmann::json> records = Records(run.out);
    ASSERT_EQ(5u, records.size()) << run.out;
    std::vector<unsigned> numbers;
    for (const nlohmann::json &record : records) {
        EXPECT_EQ("done", record["result"]) << record;
        numbers.push_back(record["number"].get<unsigned>());
    }
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3, 4, 5}), numbers);
    EXPECT_EQ(first.InterfacePath(), records.back()["path"]);
    EXPECT_EQ(run.out, ReadWholeFile(folder_.File("station.log")));
    EXPECT_TRUE(Contains(run.err, "Boards done: 5, failed: 0.\n")) << run.err;
}
