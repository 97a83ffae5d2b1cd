// SimBoard.exe's command line.
#include "SimBoardOptions.h"
#include <gtest/gtest.h>

using namespace boardsim;

namespace {
bool Parse(std::vector<std::string> args, SimBoardOptions *options, std::string *error = nullptr) {
    std::string ignored;
    return ParseSimBoardOptions(args, options, error ? error : &ignored);
}
}  // namespace

TEST(SimBoardOptions, DefaultsAreALittleEndianUpdateBoard) {
    SimBoardOptions options;
    ASSERT_TRUE(Parse({}, &options));
    EXPECT_EQ("sim0", options.board.instance);
    EXPECT_EQ(0x10, options.board.link.linkFlags);
    EXPECT_EQ(6, options.board.link.attempts);
    EXPECT_EQ(16384u, options.board.maxPayload);
    EXPECT_TRUE(options.board.updateMode);
    EXPECT_TRUE(options.readStdin);
}

TEST(SimBoardOptions, EveryOptionLandsInItsField) {
    SimBoardOptions options;
    ASSERT_TRUE(Parse({"--instance", "demo1", "--attempts", "4", "--packet-timeout", "2", "--reply-timeout", "5",
                       "--byte-order", "big", "--no-timeouts", "--max-payload", "0x400", "--update-mode", "off",
                       "--reject-chunk", "3:0x0102", "--flash-delay", "250", "--answer-timeout", "700",
                       "--payload-timeout", "600", "--send-attempts", "9", "--seed", "77", "--fault",
                       "host:2:3:refuse", "--random", "board:drop-payload:100", "--output", "out.bin",
                       "--stop-event", "Local\\stopme", "--unlisted", "--verbose"},
                      &options));
    const BoardConfig &b = options.board;
    EXPECT_EQ("demo1", b.instance);
    EXPECT_EQ(4, b.link.attempts);
    EXPECT_EQ(2, b.link.packetTimeoutSeconds);
    EXPECT_EQ(5, b.link.replyTimeoutSeconds);
    EXPECT_EQ(0x01, b.link.linkFlags);  // big-endian, no time-outs
    EXPECT_EQ(1024u, b.maxPayload);
    EXPECT_FALSE(b.updateMode);
    EXPECT_EQ(250u, b.flashWriteDelayMs);
    EXPECT_EQ(700u, b.answerTimeoutMs);
    EXPECT_EQ(600u, b.payloadTimeoutMs);
    EXPECT_EQ(9u, b.sendAttempts);
    EXPECT_EQ(77u, b.faults.seed);
    ASSERT_EQ(2u, b.faults.rules.size());
    EXPECT_EQ(FaultPoint::UpdateChunk, b.faults.rules[0].point);
    EXPECT_EQ(3u, b.faults.rules[0].first);
    EXPECT_EQ(FaultAction::RejectChunk, b.faults.rules[0].action);
    EXPECT_EQ(0x0102u, b.faults.rules[0].value);
    EXPECT_EQ(FaultAction::Refuse, b.faults.rules[1].action);
    ASSERT_EQ(1u, b.faults.randomFaults.size());
    EXPECT_EQ(100u, b.faults.randomFaults[0].perMille);
    EXPECT_EQ("out.bin", options.outputFile);
    EXPECT_EQ("Local\\stopme", options.stopEventName);
    EXPECT_FALSE(b.listInterface);
    EXPECT_TRUE(options.verbose);
}

TEST(SimBoardOptions, LinkFlagsThenByteOrder) {
    SimBoardOptions options;
    ASSERT_TRUE(Parse({"--link-flags", "0x21", "--byte-order", "little"}, &options));
    EXPECT_EQ(0x31, options.board.link.linkFlags);
}

TEST(SimBoardOptions, BadValuesAreRefused) {
    SimBoardOptions options;
    std::string error;
    EXPECT_FALSE(Parse({"--attempts", "256"}, &options, &error));
    EXPECT_NE(std::string::npos, error.find("--attempts"));
    EXPECT_FALSE(Parse({"--max-payload", "0"}, &options));
    EXPECT_FALSE(Parse({"--byte-order", "middle"}, &options));
    EXPECT_FALSE(Parse({"--reject-chunk", "2"}, &options));
    EXPECT_FALSE(Parse({"--reject-chunk", "0:5"}, &options));
    EXPECT_FALSE(Parse({"--reject-chunk", "2:0"}, &options));
    EXPECT_FALSE(Parse({"--instance", "a#b"}, &options));
    EXPECT_FALSE(Parse({"--instance"}, &options));
    EXPECT_FALSE(Parse({"--fault", "host:1:refuse"}, &options));
    EXPECT_FALSE(Parse({"--frobnicate"}, &options, &error));
    EXPECT_NE(std::string::npos, error.find("--frobnicate"));
    EXPECT_FALSE(Parse({"--no-stdin"}, &options));
    EXPECT_TRUE(Parse({"--no-stdin", "--stop-event", "x"}, &options));
}
