// The board-selection dialog's entry texts, without any window: the entry
// pattern both ways, the "Anonymous" name, the host name of a router added by
// hand and what the remove button reads.
#include "SelectionText.h"

#include <gtest/gtest.h>

#include <string>

using namespace selection;

namespace {

struct ScanCase {
    const char *text;
    int fields;
    const char *name;
    const char *address;
    std::uint16_t port;
};

const ScanCase kScanCases[] = {
    {"Lab-Router (127.0.0.1 : 26214)", 3, "Lab-Router", "127.0.0.1", 26214},
    {"Anonymous (\\\\?\\usb#vid_1234&pid_0001#1 : 0)", 3, "Anonymous", "\\\\?\\usb#vid_1234&pid_0001#1", 0},
    {"  a\t(  b :7)", 3, "a", "b", 7},              // any white space, or none, where the pattern has some
    {"a (b: 7)", 2, "a", "b:", 0},                 // a word runs up to white space
    {"a (b : +7)", 3, "a", "b", 7},                // a sign before the number
    {"a (b : -1)", 3, "a", "b", 0xFFFF},           // kept to its low 16 bits
    {"a (b : 65537)", 3, "a", "b", 1},
    {"a (b : 26214 trailing", 3, "a", "b", 26214},  // nothing after the port is read
    {"Lab Router (10.0.0.5 : 26214)", 1, "Lab", "", 0},  // a blank in the name
    {"Bench board (COM3 : 0)", 1, "Bench", "", 0},
    {"a (b c : 5)", 2, "a", "b", 0},                // a blank in the address
    {"a (b : x)", 2, "a", "b", 0},                  // no digits
    {"a (b 5)", 2, "a", "b", 0},                    // no colon
    {"a b", 1, "a", "", 0},
    {"", 0, "", "", 0},
    {"   ", 0, "", "", 0},
};

class ItemScan : public testing::TestWithParam<ScanCase> {};

}  // namespace

TEST_P(ItemScan, DeliversTheFieldsBeforeTheFirstMismatch) {
    const ScanCase &c = GetParam();
    const ScannedItem item = ScanItemText(c.text);
    EXPECT_EQ(c.fields, item.fields);
    EXPECT_EQ(c.name, item.name);
    EXPECT_EQ(c.address, item.address);
    EXPECT_EQ(c.port, item.port);
}

INSTANTIATE_TEST_SUITE_P(EntryTexts, ItemScan, testing::ValuesIn(kScanCases));

TEST(SelectionText, EntryTextsAreMadeWithTheEntryPatternAndScanBack) {
    EXPECT_EQ("Lab (127.0.0.1 : 26214)", ItemText("Lab", "127.0.0.1", 26214));
    EXPECT_EQ("Anonymous (COM1 : 0)", ItemText(ToDisplayName(""), "COM1", 0));
    EXPECT_EQ("Board (COM1 : 65535)", ItemText(ToDisplayName("Board"), "COM1", 65535));
    const ScannedItem back = ScanItemText(ItemText("x", "y", 9));
    EXPECT_EQ(3, back.fields);
    EXPECT_EQ("x", back.name);
    EXPECT_EQ("y", back.address);
    EXPECT_EQ(9, back.port);
}

TEST(SelectionText, NamesThatBeginWithEightLettersOfAnonymousBecomeEmpty) {
    const struct {
        const char *listed;
        const char *displayName;
    } cases[] = {
        {"Anonymous", ""}, {"ANONYMOUS", ""}, {"anonymou", ""}, {"Anonymou-7", ""}, {"AnonymousBoard", ""},
        {"Anonymo", "Anonymo"},  // 7 letters only
        {"Anonymus", "Anonymus"}, {"Board", "Board"}, {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(c.displayName, FromDisplayName(c.listed)) << c.listed;
}

TEST(SelectionText, HostNamesAreCutBeforeTheirFirstDot) {
    const struct {
        const char *official;
        const char *name;
    } cases[] = {
        {"lab.example.com", "lab"}, {"localhost", "localhost"}, {".hidden.net", ".hidden.net"}, {"a.", "a"}, {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(c.name, ShortHostName(c.official)) << c.official;
}

TEST(SelectionText, TheRemoveButtonReadsTheNameBeforeTheParenthesisAndThePortAfterTheColon) {
    const struct {
        const char *text;
        const char *name;
        std::uint16_t port;
    } cases[] = {
        {"localhost (127.0.0.1 : 26214)", "localhost", 26214},
        {"  Lab Router  (10.0.0.5 : 7)", "Lab Router", 7},  // blanks are fine here
        {"no parenthesis", "no parenthesis", 0},
        {"x (y)", "x", 0},
        {"", "", 0},
    };
    for (const auto &c : cases) {
        const RemovalTarget target = ReadRemovalTarget(c.text);
        EXPECT_EQ(c.name, target.name) << c.text;
        EXPECT_EQ(c.port, target.port) << c.text;
    }
}

TEST(SelectionText, OnlyEntriesWithAColonAndTheEmptyEntryListDevices) {
    EXPECT_TRUE(ListsDevices("Lab (127.0.0.1 : 26214)"));
    EXPECT_TRUE(ListsDevices(""));
    EXPECT_TRUE(ListsDevices("Lab Router (x : 1)"));
    EXPECT_FALSE(ListsDevices("Lab"));
}
