// ImageTool: its command line and header report, and the program itself run as
// a firmware engineer runs it.
#include "HeaderReport.h"
#include "ImageFile.h"
#include "ImageFiles.h"
#include "ImageToolCommand.h"
#include "ProgramFolder.h"
#include "ProgressText.h"
#include "TempFolder.h"
#include "TextChecks.h"
#include "ToolRun.h"
#include <gtest/gtest.h>
#include <windows.h>

namespace {

bool Parse(std::vector<std::string> arguments, ImageToolCommand &command, std::string &error) {
    return ParseImageToolCommand(arguments, command, error);
}

bool FileExists(const std::string &path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ImageToolProgramTest : public ::testing::Test {
protected:
    TempFolder folder{"updater-test-"};

    // Runs ImageTool.exe (beside this test program) with `arguments`, its output in files.
    ToolRun Tool(const std::string &arguments) {
        ToolRun run;
        if (!run.Start(ProgramFolder() + "\\ImageTool.exe", arguments, folder.Path()))
            ADD_FAILURE() << "cannot start ImageTool: " << ::GetLastError();
        else if (run.Finish(60000) == -1)
            ADD_FAILURE() << "ImageTool did not finish: " << arguments;
        return run;
    }

    static std::string Quoted(const std::string &path) { return "\"" + path + "\""; }
};

}  // namespace

// --- command line -------------------------------------------------------------

TEST(ImageToolCommandLine, MakeTakesTextsVersionAndTwoFiles) {
    ImageToolCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"make", "--model", "Board-7", "--version", "4.1", "--requires", "1.2.0.9", "in.bin", "out.img"},
                      command, error))
        << error;
    EXPECT_EQ(ImageToolAction::Make, command.action);
    EXPECT_EQ("Board-7", command.model);
    EXPECT_EQ("4.1", command.versionText);
    EXPECT_EQ(0x01020009u, command.requiredVersion);
    EXPECT_EQ("in.bin", command.payloadPath);
    EXPECT_EQ("out.img", command.outputPath);
}

TEST(ImageToolCommandLine, DefaultsToThisReleasesVersion) {
    ImageToolCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"make", "in.bin", "--version", "1", "--model", "M", "out.img"}, command, error)) << error;
    EXPECT_EQ(0x01000002u, command.requiredVersion);
    ASSERT_TRUE(Parse({"show", "x.img"}, command, error)) << error;
    EXPECT_EQ(ImageToolAction::Show, command.action);
    EXPECT_EQ("x.img", command.imagePath);
    EXPECT_EQ(0x01000002u, command.programVersion);
    ASSERT_TRUE(Parse({"show", "--program-version", "2.0.0.0", "x.img"}, command, error)) << error;
    EXPECT_EQ(0x02000000u, command.programVersion);
}

TEST(ImageToolCommandLine, SixteenCharacterTextsFitSeventeenDoNot) {
    ImageToolCommand command;
    std::string error;
    EXPECT_TRUE(Parse({"make", "--model", "0123456789ABCDEF", "--version", "FEDCBA9876543210", "a", "b"}, command, error));
    EXPECT_FALSE(Parse({"make", "--model", "0123456789ABCDEFG", "--version", "1", "a", "b"}, command, error));
    EXPECT_TRUE(Contains(error, "17")) << error;
    EXPECT_FALSE(Parse({"make", "--model", "M", "--version", "0123456789ABCDEFG", "a", "b"}, command, error));
    EXPECT_TRUE(Contains(error, "version")) << error;
}

TEST(ImageToolCommandLine, RejectsBadInput) {
    ImageToolCommand command;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"build"},
        {"make", "--model", "M", "a", "b"},
        {"make", "--version", "V", "a", "b"},
        {"make", "--model", "M", "--version", "V", "a"},
        {"make", "--model", "M", "--version", "V", "a", "b", "c"},
        {"make", "--model", "M", "--version", "V", "--requires", "1.0.0", "a", "b"},
        {"make", "--model", "M", "--version", "V", "--requires", "1.0.0.300", "a", "b"},
        {"make", "--model", "M", "--version", "V", "--fast", "a", "b"},
        {"make", "--model"},
        {"show"},
        {"show", "a.img", "b.img"},
        {"show", "--program-version", "one", "a.img"},
        {"show", "--model", "M", "a.img"},
        {"list", "x"},
        {"update"},
        {"update", "a.img", "b.img"},
        {"update", "a.img", "--board"},
        {"update", "a.img", "--board", "0"},
        {"update", "a.img", "--board", "two"},
        {"update", "a.img", "--board", "1", "--all"},
        {"update", "a.img", "--path", "p", "--board", "1"},
        {"update", "a.img", "--fast"},
        {"update", "a.img", "--reply-timeout"},
        {"update", "a.img", "--reply-timeout", "0"},
        {"update", "a.img", "--flash-timeout", "3601"},
        {"update", "a.img", "--flash-timeout", "1.5"},
    };
    for (const auto &arguments : bad) {
        error.clear();
        EXPECT_FALSE(Parse(arguments, command, error)) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ImageToolCommandLine, ListAndUpdateChooseTheirBoards) {
    ImageToolCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"list"}, command, error)) << error;
    EXPECT_EQ(ImageToolAction::List, command.action);
    ASSERT_TRUE(Parse({"update", "a.img"}, command, error)) << error;
    EXPECT_EQ(ImageToolAction::Update, command.action);
    EXPECT_EQ("a.img", command.imagePath);
    EXPECT_EQ(BoardChoice::First, command.board);
    EXPECT_FALSE(command.quiet);
    EXPECT_EQ(30000u, command.replyTimeouts.chunkMs);
    EXPECT_EQ(90000u, command.replyTimeouts.lastChunkMs);
    ASSERT_TRUE(Parse({"update", "--flash-timeout", "3600", "a.img", "--reply-timeout", "5"}, command, error)) << error;
    EXPECT_EQ(5000u, command.replyTimeouts.chunkMs);
    EXPECT_EQ(3600000u, command.replyTimeouts.lastChunkMs);
    ASSERT_TRUE(Parse({"update", "--board", "12", "a.img", "--quiet"}, command, error)) << error;
    EXPECT_EQ(BoardChoice::ByNumber, command.board);
    EXPECT_EQ(12u, command.boardNumber);
    EXPECT_TRUE(command.quiet);
    ASSERT_TRUE(Parse({"update", "--path", "\\\\?\\usb#x", "--", "-odd.img"}, command, error)) << error;
    EXPECT_EQ(BoardChoice::ByPath, command.board);
    EXPECT_EQ("\\\\?\\usb#x", command.boardPath);
    EXPECT_EQ("-odd.img", command.imagePath);
    ASSERT_TRUE(Parse({"update", "-q", "--all", "a.img"}, command, error)) << error;
    EXPECT_EQ(BoardChoice::All, command.board);
    EXPECT_TRUE(command.quiet);
}

TEST(ImageToolProgressText, BarLineAndTenths) {
    EXPECT_EQ("[..........]   0%  0 / 1048576 KiB", FormatProgressBar(0, 1u << 30, 0, 10));
    EXPECT_EQ("[#####.....]  50%  512 / 1024 KiB  256 KiB/s", FormatProgressBar(512 * 1024, 1024 * 1024, 2.0, 10));
    EXPECT_EQ("[##########] 100%  5000 / 5000 bytes  5 KiB/s", FormatProgressBar(5000, 5000, 0.9765625, 10));
    EXPECT_EQ("33%  1000 / 3000 bytes", FormatProgressLine(1000, 3000, 0));
    EXPECT_EQ(100u / 10, ProgressTenths(0, 0));
    EXPECT_EQ(0u, ProgressTenths(99, 1000));
    EXPECT_EQ(1u, ProgressTenths(100, 1000));
    EXPECT_EQ(9u, ProgressTenths(999, 1000));
    EXPECT_EQ(10u, ProgressTenths(1000, 1000));
    // 64-bit amounts do not overflow the percentage.
    EXPECT_EQ(5u, ProgressTenths(0x80000000ull * 0x10, 0x100000000ull * 0x10));
}

TEST(ImageToolHeaderReport, ShowsFieldsAndWhatTheChecksExpect) {
    ImageHeader header;
    ASSERT_TRUE(BuildImageHeader(header, "Board-7", "4.1", 0x01000002, 1009, 0x0001F7C8));
    std::string report = FormatHeaderReport(header, 1137);
    EXPECT_TRUE(Contains(report, "Magic:             0x42340199 (good)")) << report;
    EXPECT_TRUE(Contains(report, "Required version:  1.0.0.2 (0x01000002)")) << report;
    EXPECT_TRUE(Contains(report, "Model:             \"Board-7\"")) << report;
    EXPECT_TRUE(Contains(report, "Version text:      \"4.1\"")) << report;
    EXPECT_TRUE(Contains(report, "Data checksum:     0x0001F7C8")) << report;
    EXPECT_TRUE(Contains(report, "Data length:       1009")) << report;
    EXPECT_TRUE(Contains(report, "File length:       1137 (good)")) << report;

    header.magic[0] = 0;
    report = FormatHeaderReport(header, 1138);
    EXPECT_TRUE(Contains(report, "(expected 0x42340199)")) << report;
    EXPECT_TRUE(Contains(report, "(computed 0x")) << report;
    EXPECT_TRUE(Contains(report, "1138 (expected 1137)")) << report;
}

// --- the program --------------------------------------------------------------

TEST_F(ImageToolProgramTest, MakeWritesAnImageTheUpdaterAccepts) {
    auto payload = PatternPayload(2500);
    const std::string in = folder.Write("payload.bin", payload);
    const std::string out = folder.File("made.img");
    ToolRun made = Tool("make --model Board-7 --version \"fw 4.1\" " + Quoted(in) + " " + Quoted(out));
    ASSERT_EQ(0, made.exitCode) << made.err;
    EXPECT_TRUE(made.err.empty()) << made.err;

    std::string bytes = ReadWholeFile(out);
    auto expected = ImageBytes(payload, 0x01000002, "Board-7", "fw 4.1");
    EXPECT_EQ(std::string(expected.begin(), expected.end()), bytes);
    auto check = CheckImageFile(out, 0x01000002);
    EXPECT_EQ(ImageCheckOutcome::Accepted, check.outcome);
    EXPECT_EQ("fw 4.1", check.versionText);

    ToolRun shown = Tool("show " + Quoted(out));
    EXPECT_EQ(0, shown.exitCode) << shown.err;
    EXPECT_TRUE(Contains(shown.out, "Model:             \"Board-7\"")) << shown.out;
    EXPECT_TRUE(Contains(shown.out, "Data length:       2500")) << shown.out;
    EXPECT_TRUE(Contains(shown.out, "accepted by Flashwell 1.0.0.2")) << shown.out;
}

TEST_F(ImageToolProgramTest, ShowAppliesTheGivenUpdaterVersion) {
    const std::string in = folder.Write("payload.bin", PatternPayload(10));
    const std::string out = folder.File("needs2.img");
    ASSERT_EQ(0, Tool("make --model M --version V --requires 2.0.0.0 " + Quoted(in) + " " + Quoted(out)).exitCode);
    ToolRun older = Tool("show " + Quoted(out));
    EXPECT_EQ(1, older.exitCode);
    EXPECT_TRUE(Contains(older.out, "rejected by Flashwell 1.0.0.2: Version misMatch.")) << older.out;
    ToolRun newer = Tool("show --program-version 2.0.0.0 " + Quoted(out));
    EXPECT_EQ(0, newer.exitCode) << newer.out;
}

TEST_F(ImageToolProgramTest, ShowReportsACorruptedFile) {
    auto bytes = ImageBytes(PatternPayload(300));
    bytes[200] ^= 0x40;
    const std::string path = folder.Write("bad.img", bytes);
    ToolRun shown = Tool("show " + Quoted(path));
    EXPECT_EQ(1, shown.exitCode);
    EXPECT_TRUE(Contains(shown.out, "This file is corrupted or not an image file!")) << shown.out;

    const std::string tiny = folder.Write("tiny.img", std::vector<uint8_t>(20, 0));
    shown = Tool("show " + Quoted(tiny));
    EXPECT_EQ(1, shown.exitCode);
    EXPECT_TRUE(Contains(shown.out, "shorter than the 128-byte header")) << shown.out;
}

TEST_F(ImageToolProgramTest, EmptyPayloadMakesAHeaderOnlyImage) {
    const std::string in = folder.Write("empty.bin", {});
    const std::string out = folder.File("empty.img");
    ASSERT_EQ(0, Tool("make --model M --version V " + Quoted(in) + " " + Quoted(out)).exitCode);
    EXPECT_EQ(128u, ReadWholeFile(out).size());
    EXPECT_EQ(0, Tool("show " + Quoted(out)).exitCode);
}

TEST_F(ImageToolProgramTest, BadInputFailsWithAMessageAndNoOutput) {
    const std::string in = folder.Write("payload.bin", PatternPayload(10));
    const std::string out = folder.File("never.img");
    struct Case {
        std::string arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"make --model M --version V " + Quoted(folder.Path() + "\\missing.bin") + " " + Quoted(out), "cannot open payload"},
        {"make --model 0123456789ABCDEFG --version V " + Quoted(in) + " " + Quoted(out), "at most 16"},
        {"make --model M --version 0123456789ABCDEFG " + Quoted(in) + " " + Quoted(out), "at most 16"},
        {"make --model M --version V --requires 1.0 " + Quoted(in) + " " + Quoted(out), "bad version text"},
        {"show " + Quoted(folder.Path() + "\\missing.img"), "cannot open"},
        {"show --program-version x " + Quoted(in), "bad version text"},
        {"", "no command"},
    };
    for (const auto &c : cases) {
        ToolRun run = Tool(c.arguments);
        EXPECT_EQ(2, run.exitCode) << c.arguments;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.arguments << "\n" << run.err;
        EXPECT_FALSE(FileExists(out)) << c.arguments;
    }
}

TEST_F(ImageToolProgramTest, PayloadOfFourGibibytesIsRefused) {
    const std::string in = folder.WriteSparse("huge.bin", {}, 0x100000000ull);
    ASSERT_FALSE(in.empty());
    const std::string out = folder.File("huge.img");
    ToolRun run = Tool("make --model M --version V " + Quoted(in) + " " + Quoted(out));
    EXPECT_EQ(2, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "smaller than 4 GiB")) << run.err;
    EXPECT_FALSE(FileExists(out));
}
