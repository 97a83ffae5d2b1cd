// The store's texts as pure code: a router's stored value read back, the router
// value's text and name, the key names of new devices, and records copied into a
// caller's array.
#include "StoreFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct RouterValueCase {
    const char *text;
    bool listed;
    const char *address;
    std::uint16_t port;
};

class ParseRouterValue : public testing::TestWithParam<RouterValueCase> {};

TEST_P(ParseRouterValue, GivesTheTrimmedHostAndTheNumberAfterTheFirstColon) {
    RouterRecord router;
    std::memset(&router, 0x5A, sizeof(router));
    ASSERT_EQ(GetParam().listed, store::ParseRouterValue("Bench", GetParam().text, &router)) << GetParam().text;
    if (!GetParam().listed) return;
    EXPECT_STREQ("Bench", router.name);
    EXPECT_STREQ(GetParam().address, router.address) << GetParam().text;
    EXPECT_EQ(GetParam().port, router.port) << GetParam().text;
    // Built from all zero: nothing of the earlier bytes after the texts.
    EXPECT_EQ(0, router.name[sizeof(router.name) - 1]);
    EXPECT_EQ(0, router.address[sizeof(router.address) - 1]);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRouterValue,
    testing::Values(RouterValueCase{"10.0.0.5:26214", true, "10.0.0.5", 26214},
                    RouterValueCase{"10.0.0.5", false, "", 0}, RouterValueCase{"", false, "", 0},
                    RouterValueCase{" \t10.0.0.5 \r\n: 26215", true, "10.0.0.5", 26215},
                    RouterValueCase{"host:  +80x", true, "host", 80}, RouterValueCase{"host:-1", true, "host", 65535},
                    RouterValueCase{"host:70000", true, "host", 4464}, RouterValueCase{"host:", true, "host", 0},
                    RouterValueCase{"host:abc", true, "host", 0}, RouterValueCase{"host:+-5", true, "host", 0},
                    RouterValueCase{"a:1:2", true, "a", 1}, RouterValueCase{":26214", true, "", 26214},
                    RouterValueCase{"   :5", true, "", 5},
                    // More digits than any integer holds: the low 16 bits of the
                    // number (99999999999999999999 mod 65536), without overflow.
                    RouterValueCase{"h:99999999999999999999", true, "h", 65535},
                    RouterValueCase{"\xE4" "ber Host \xA0:1", true, "\xE4" "ber Host \xA0", 1}));

TEST(ParseRouterValueLimits, CutsTextsAtTheirFields) {
    std::string name(300, 'n');
    std::string text = std::string(300, 'a') + ":9";
    RouterRecord router;
    ASSERT_TRUE(store::ParseRouterValue(name.c_str(), text.c_str(), &router));
    EXPECT_EQ(std::string(259, 'n'), router.name);
    EXPECT_EQ(std::string(259, 'a'), router.address);
    EXPECT_EQ(9, router.port);
}

TEST(RouterValue, IsHostColonLowSixteenBitsOfThePort) {
    EXPECT_EQ("10.0.0.5:26214", store::RouterValueText("10.0.0.5", 26214));
    EXPECT_EQ("lab:26215", store::RouterValueText("lab", 0x10000u + 26215));
    EXPECT_EQ("lab:65535", store::RouterValueText("lab", 0xFFFFFFFFu));
}

TEST(RouterValue, NameMustBeOneNonEmptyValueNameThatFitsARecord) {
    EXPECT_TRUE(store::IsRouterValueName("10.0.0.5"));
    EXPECT_TRUE(store::IsRouterValueName(std::string(259, 'h').c_str()));
    EXPECT_FALSE(store::IsRouterValueName(std::string(260, 'h').c_str()));
    EXPECT_FALSE(store::IsRouterValueName(""));
    EXPECT_FALSE(store::IsRouterValueName(nullptr));
    EXPECT_FALSE(store::IsRouterValueName("lab\\router"));
    EXPECT_FALSE(store::IsRouterValueName("\\"));
}

bool NoLeadByte(unsigned char) { return false; }
bool HighLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; }  // as in code page 932

struct KeyCase {
    std::string displayName;
    const char *kind;
    std::uint16_t port;
    unsigned suffix;
    LeadBytePredicate isLeadByte;
    std::string path;
};

class DeviceKeyPath : public testing::TestWithParam<KeyCase> {};

TEST_P(DeviceKeyPath, NamesTheKeyFromDisplayNameKindPortAndSuffix) {
    EXPECT_EQ(GetParam().path, store::DeviceKeyPath(GetParam().displayName, GetParam().kind, GetParam().port,
                                                    GetParam().suffix, GetParam().isLeadByte));
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceKeyPath,
    testing::Values(KeyCase{"Board", "USB", 0, 0, NoLeadByte, "Devices\\Board-USB-0"},
                    KeyCase{"", "USB", 0, 0, NoLeadByte, "Devices\\Anonymous-USB-0"},
                    KeyCase{"Board", "USB", 0, 1, NoLeadByte, "Devices\\Board-USB-0_1"},
                    KeyCase{"Board", "COM", 65535, 12, NoLeadByte, "Devices\\Board-COM-65535_12"},
                    KeyCase{"Lab\\Bench 2", "TCP", 7, 0, NoLeadByte, "Devices\\Lab/Bench 2-TCP-7"},
                    // 0x95 0x5C is one character in code page 932: its second byte stays.
                    KeyCase{"\x95\\\\", "COM", 1, 0, HighLeadByte, "Devices\\\x95\\/-COM-1"},
                    KeyCase{"\x95\\\\", "COM", 1, 0, NoLeadByte, "Devices\\\x95//-COM-1"}));

TEST(FieldText, StopsAtTheZeroOrAfter259Characters) {
    char field[COMM_TEXT_FIELD_SIZE];
    std::memset(field, 'x', sizeof(field));
    EXPECT_EQ(std::string(259, 'x'), store::FieldText(field));
    std::strcpy(field, "COM1");
    EXPECT_EQ("COM1", store::FieldText(field));
}

TEST(CopyRecordOut, WritesNumbersAndEachTextWithItsZeroOnly) {
    DeviceRecord from{};
    std::strcpy(from.displayName, "Board");
    std::strcpy(from.address, "COM3");
    from.port = 0x1234;
    from.extra = 0x5678;
    from.features = 0x9ABCDEF0u;
    DeviceRecord to;
    std::memset(&to, 0x5A, sizeof(to));
    store::CopyRecordOut(from, &to);
    EXPECT_STREQ("Board", to.displayName);
    EXPECT_EQ(0x5A, to.displayName[6]) << "the rest of the field is the caller's";
    EXPECT_STREQ("COM3", to.address);
    EXPECT_EQ(0x5A, to.address[5]);
    EXPECT_EQ(0x1234, to.port);
    EXPECT_EQ(0x5678, to.extra);
    EXPECT_EQ(0x9ABCDEF0u, to.features);

    RouterRecord router{};
    std::strcpy(router.name, "R");
    router.port = 26214;
    RouterRecord out;
    std::memset(&out, 0x5A, sizeof(out));
    store::CopyRecordOut(router, &out);
    EXPECT_STREQ("R", out.name);
    EXPECT_EQ(0x5A, out.name[2]);
    EXPECT_EQ(0, out.address[0]);
    EXPECT_EQ(0x5A, out.address[1]);
    EXPECT_EQ(26214, out.port);
}

}  // namespace
