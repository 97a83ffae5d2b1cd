// ImageTool's records of finished boards (closing words, JSON lines, summaries) and the
// station's rule of which present boards it has yet to update.
#include "BoardRecord.h"
#include "ImageToolCommand.h"
#include "StationBoards.h"
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

BoardResult Result(unsigned number, UpdateOutcome outcome, uint32_t code = 0) {
    BoardResult result;
    result.number = number;
    result.path = "\\\\?\\usb#vid_1234&pid_5678#b" + std::to_string(number) + "#{guid}";
    result.outcome = outcome;
    result.code = code;
    result.bytes = 1048576;
    result.seconds = 4.0;
    result.start = "2026-12-10T05:01:02.345Z";
    return result;
}

}  // namespace

TEST(BoardRecord, EachOutcomeHasItsWordExitCodeAndKindOfCode) {
    struct Case {
        UpdateOutcome outcome;
        uint32_t code;
        const char *word;
        int exitCode;
        const char *codeKey;  // nullptr: the record carries no code
    };
    const Case cases[] = {
        {UpdateOutcome::Succeeded, 0, "done", 0, nullptr},
        {UpdateOutcome::NothingToSend, 0, "empty-image", 1, nullptr},
        {UpdateOutcome::NoTarget, 0, "no-board", 3, nullptr},
        {UpdateOutcome::CannotOpen, 2, "cannot-open", 4, "link_code"},
        {UpdateOutcome::CannotConnect, 233, "cannot-connect", 4, "link_code"},
        {UpdateOutcome::LinkFailed, 1167, "link-failed", 4, "link_code"},
        {UpdateOutcome::LinkFailed, 0, "link-failed", 4, nullptr},  // an incomplete reply has no code
        {UpdateOutcome::ImageUnreadable, 0, "image-unreadable", 2, nullptr},
        {UpdateOutcome::OutOfMemory, 0, "out-of-memory", 4, nullptr},
        {UpdateOutcome::BoardRefused, 513, "refused", 5, "board_code"},
        {UpdateOutcome::BoardSilent, 1460, "silent", 4, "link_code"},
        {UpdateOutcome::Interrupted, 0, "interrupted", 6, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        const BoardResult result = Result(7, c.outcome, c.code);
        const std::string line = FormatJsonRecord(result);
        EXPECT_EQ(std::string::npos, line.find('\n'));
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        EXPECT_EQ(c.word, std::string(ResultWord(c.outcome)));
        EXPECT_EQ(c.word, record["result"]);
        EXPECT_EQ(c.exitCode, record["exit_code"]);
        EXPECT_EQ(7, record["number"]);
        EXPECT_EQ(result.path, record["path"]);
        EXPECT_EQ(1048576, record["bytes"]);
        EXPECT_EQ(4.0, record["seconds"]);
        EXPECT_EQ(result.start, record["start"]);
        EXPECT_EQ(c.codeKey != nullptr && std::string(c.codeKey) == "board_code", record.contains("board_code"));
        EXPECT_EQ(c.codeKey != nullptr && std::string(c.codeKey) == "link_code", record.contains("link_code"));
        if (c.codeKey) {
            EXPECT_EQ(c.code, record[c.codeKey]);
        }
    }
}

TEST(BoardRecord, JsonLineIsExactAndSurvivesOddPaths) {
    BoardResult result = Result(2, UpdateOutcome::BoardRefused, 513);
    result.seconds = 0.41249;
    EXPECT_EQ("{\"number\":2,\"path\":\"\\\\\\\\?\\\\usb#vid_1234&pid_5678#b2#{guid}\",\"result\":\"refused\","
              "\"exit_code\":5,\"board_code\":513,\"bytes\":1048576,\"seconds\":0.412,"
              "\"start\":\"2026-12-10T05:01:02.345Z\"}",
              FormatJsonRecord(result));
    // A path in the system's code page that is no UTF-8, and quotes and control characters, still
    // make one line of valid JSON.
    result.path = "a\"b\tc\xE9\xFF";
    const nlohmann::json record = nlohmann::json::parse(FormatJsonRecord(result), nullptr, false);
    ASSERT_TRUE(record.is_object());
    EXPECT_EQ("a\"b\tc\xEF\xBF\xBD\xEF\xBF\xBD", record["path"]);
}

TEST(BoardRecord, ListSummaryAndTime) {
    EXPECT_EQ("[]", FormatJsonBoardList({}));
    EXPECT_EQ("[{\"number\":1,\"path\":\"p1\"},{\"number\":2,\"path\":\"p2\"}]", FormatJsonBoardList({"p1", "p2"}));
    EXPECT_EQ("3  \\\\?\\usb#vid_1234&pid_5678#b3#{guid}  done  4.0 s  256 KiB/s",
              FormatSummaryLine(Result(3, UpdateOutcome::Succeeded)));
    EXPECT_EQ("3  \\\\?\\usb#vid_1234&pid_5678#b3#{guid}  refused (board code 513)  4.0 s  256 KiB/s",
              FormatSummaryLine(Result(3, UpdateOutcome::BoardRefused, 513)));
    BoardResult instant = Result(1, UpdateOutcome::CannotOpen, 2);
    instant.seconds = 0;
    instant.bytes = 0;
    EXPECT_EQ("1  \\\\?\\usb#vid_1234&pid_5678#b1#{guid}  cannot-open (link code 2)  0.0 s  0 KiB/s",
              FormatSummaryLine(instant));
    SYSTEMTIME utc{};
    utc.wYear = 2026;
    utc.wMonth = 1;
    utc.wDay = 2;
    utc.wHour = 3;
    utc.wMinute = 4;
    utc.wSecond = 5;
    utc.wMilliseconds = 6;
    EXPECT_EQ("2026-01-02T03:04:05.006Z", FormatUtcTime(utc));
}

TEST(BoardRecord, StationSummaryAndExitCodeFollowTheFirstFailure) {
    struct Case {
        std::vector<BoardResult> results;
        std::string summary;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{}, "Boards done: 0, failed: 0.", 0},
        {{Result(1, UpdateOutcome::Succeeded), Result(2, UpdateOutcome::Succeeded)}, "Boards done: 2, failed: 0.", 0},
        {{Result(1, UpdateOutcome::Succeeded), Result(2, UpdateOutcome::BoardSilent, 1460),
          Result(3, UpdateOutcome::BoardRefused, 513)},
         "Boards done: 1, failed: 2 (board 2: code 4, board 3: code 5).", 4},
        {{Result(4, UpdateOutcome::Interrupted), Result(1, UpdateOutcome::LinkFailed)},
         "Boards done: 0, failed: 2 (board 4: code 6, board 1: code 4).", 6},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.summary, FormatStationSummary(c.results));
        EXPECT_EQ(c.exitCode, FirstFailureExitCode(c.results)) << c.summary;
    }
}

// Each step: the boards present, the removals reported before the search, the boards the station
// starts (of those it is offered), and what it is offered.
TEST(StationBoards, EachBoardOnceWhilePluggedAndAgainAfterAReplug) {
    struct Step {
        const char *what;
        std::vector<std::string> removed;
        std::vector<std::string> present;
        std::vector<std::string> waiting;
        std::vector<std::string> take;
    };
    const std::vector<Step> steps = {
        {"nothing yet", {}, {}, {}, {}},
        {"one arrives", {}, {"A"}, {"A"}, {"A"}},
        {"it stays", {}, {"A"}, {}, {}},
        {"two arrive together", {}, {"A", "B", "C"}, {"B", "C"}, {"B", "C"}},
        {"letter case is the same board", {}, {"a", "B", "c"}, {}, {}},
        {"one left untaken waits on", {}, {"A", "B", "C", "D"}, {"D"}, {}},
        {"and is offered again", {}, {"A", "B", "C", "D"}, {"D"}, {"D"}},
        {"B unplugged", {}, {"A", "C", "D"}, {}, {}},
        {"B plugged in again", {}, {"A", "B", "C", "D"}, {"B"}, {"B"}},
        {"C unplugged and back between two searches", {"c"}, {"A", "B", "C", "D"}, {"C"}, {"C"}},
        {"a removal of an unknown board", {"E"}, {"A", "B", "C", "D"}, {}, {}},
        {"listed twice", {}, {"A", "B", "C", "D", "F", "f"}, {"F"}, {"F"}},
        {"everything gone", {}, {}, {}, {}},
        {"the same boards are new again", {}, {"D", "A"}, {"D", "A"}, {"D", "A"}},
    };
    StationBoards boards;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        for (const std::string &path : step.removed) boards.Removed(path);
        EXPECT_EQ(step.waiting, boards.Waiting(step.present));
        for (const std::string &path : step.take) boards.Take(path);
    }
}

TEST(ImageToolCommandLine, ParallelJsonLogAndWatch) {
    ImageToolCommand command;
    std::string error;
    ASSERT_TRUE(ParseImageToolCommand({"list", "--json"}, command, error)) << error;
    EXPECT_TRUE(command.json);
    ASSERT_TRUE(ParseImageToolCommand({"update", "a.img", "--all"}, command, error)) << error;
    EXPECT_EQ(1u, command.jobs);
    EXPECT_FALSE(command.json);
    EXPECT_EQ("", command.logPath);
    ASSERT_TRUE(ParseImageToolCommand({"update", "a.img", "--all", "--parallel", "--json", "--log", "s.log"}, command,
                                      error))
        << error;
    EXPECT_EQ(kEveryBoardAtOnce, command.jobs);
    EXPECT_TRUE(command.json);
    EXPECT_EQ("s.log", command.logPath);
    ASSERT_TRUE(ParseImageToolCommand({"update", "--jobs", "4", "--all", "a.img"}, command, error)) << error;
    EXPECT_EQ(4u, command.jobs);
    ASSERT_TRUE(ParseImageToolCommand({"watch", "a.img"}, command, error)) << error;
    EXPECT_EQ(ImageToolAction::Watch, command.action);
    EXPECT_EQ("a.img", command.imagePath);
    EXPECT_EQ(kEveryBoardAtOnce, command.jobs);
    EXPECT_EQ(0u, command.count);
    ASSERT_TRUE(ParseImageToolCommand({"watch", "--count", "20", "--jobs", "8", "--quiet", "--reply-timeout", "5",
                                       "a.img", "--json", "--log", "l"},
                                      command, error))
        << error;
    EXPECT_EQ(20u, command.count);
    EXPECT_EQ(8u, command.jobs);
    EXPECT_TRUE(command.quiet && command.json);
    EXPECT_EQ(5000u, command.replyTimeouts.chunkMs);

    const std::vector<std::vector<std::string>> bad = {
        {"list", "--json", "x"},
        {"list", "--log", "l"},
        {"update", "a.img", "--parallel"},
        {"update", "a.img", "--board", "1", "--jobs", "2"},
        {"update", "a.img", "--all", "--parallel", "--jobs", "2"},
        {"update", "a.img", "--all", "--jobs", "0"},
        {"update", "a.img", "--all", "--jobs"},
        {"update", "a.img", "--count", "2"},
        {"update", "a.img", "--log"},
        {"update", "a.img", "--log", ""},
        {"watch"},
        {"watch", "a.img", "b.img"},
        {"watch", "a.img", "--all"},
        {"watch", "a.img", "--board", "1"},
        {"watch", "a.img", "--parallel"},
        {"watch", "a.img", "--count", "0"},
        {"watch", "a.img", "--count", "12345"},
    };
    for (const auto &arguments : bad) {
        error.clear();
        EXPECT_FALSE(ParseImageToolCommand(arguments, command, error)) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(error.empty());
    }
}
