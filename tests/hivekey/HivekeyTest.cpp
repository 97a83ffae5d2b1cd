// Hivekey.dll against the real registry of the test's Wine prefix: the base key
// under HKEY_CURRENT_USER, the path rule, missing keys created on writing, and
// whole keys removed with their values and sub keys.
#include "Hivekey.h"
#include "RegistryKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class HivekeyTest : public testing::Test {
protected:
    // Every case starts from an absent store and leaves none behind.
    void SetUp() override { RemoveStore(); }
    void TearDown() override { RemoveStore(); }
    static void RemoveStore() { ::RegDeleteTreeA(HKEY_CURRENT_USER, HIVEKEY_BASE_KEY); }

    // Whether the key exists, looked up without CHivekey (base-relative path).
    static bool KeyExists(const std::string &key) {
        HKEY handle = nullptr;
        std::string full = std::string(HIVEKEY_BASE_KEY) + (key.empty() ? "" : "\\" + key);
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
        ::RegCloseKey(handle);
        return true;
    }

    static std::string ReadText(CHivekey &store, const char *path, DWORD *result) {
        char text[260];
        std::memset(text, 'x', sizeof(text));
        DWORD size = sizeof(text);
        *result = store.Read(text, path, size);
        if (*result != 0) return "<unread>";
        EXPECT_EQ(std::strlen(text) + 1, size);
        return text;
    }
};

TEST_F(HivekeyTest, OpensTheBaseKeyUnderTheCurrentUserCreatingIt) {
    CHivekey store;
    ASSERT_NE(nullptr, static_cast<HKEY>(store));
    EXPECT_TRUE(KeyExists(""));
    ASSERT_EQ(0u, store.Write(26214u, "Corvane\\ServicePort"));
    DWORD value = 0;
    DWORD size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueA(HKEY_CURRENT_USER, HIVEKEY_BASE_KEY "\\Corvane", "ServicePort",
                                            RRF_RT_REG_DWORD, nullptr, &value, &size));
    EXPECT_EQ(26214u, value);
}

TEST_F(HivekeyTest, TheKeyHandleServesTheRegistryFunctionsWithFullAccess) {
    CHivekey store;
    HKEY base = store;
    HKEY devices = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(base, "Devices", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &devices,
                                               nullptr));
    RegistryKey owned(devices);
    DWORD port = 7;
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(devices, "Port", 0, REG_DWORD, reinterpret_cast<BYTE *>(&port), 4));
    DWORD read = 0;
    EXPECT_EQ(0u, store.Read(read, "Devices\\Port"));
    EXPECT_EQ(7u, read);
}

struct NumberCase {
    const char *path;
    const char *key;  // the key that holds the value, relative to the base key
};

class HivekeyNumbers : public HivekeyTest, public testing::WithParamInterface<NumberCase> {};

TEST_P(HivekeyNumbers, WriteCreatesTheKeysAndReadGivesTheValueBack) {
    CHivekey store;
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), store.Read(value, GetParam().path));
    ASSERT_EQ(0u, store.Write(0xFEDCBA98u, GetParam().path));
    EXPECT_TRUE(KeyExists(GetParam().key));
    ASSERT_EQ(0u, store.Read(value, GetParam().path));
    EXPECT_EQ(0xFEDCBA98u, value);
    ASSERT_EQ(0u, store.Write(5u, GetParam().path));  // replaces
    ASSERT_EQ(0u, store.Read(value, GetParam().path));
    EXPECT_EQ(5u, value);
}

INSTANTIATE_TEST_SUITE_P(Paths, HivekeyNumbers,
                         testing::Values(NumberCase{"Device", ""}, NumberCase{"Corvane\\ServicePort", "Corvane"},
                                         NumberCase{"Devices\\Board-USB-0\\Port", "Devices\\Board-USB-0"},
                                         NumberCase{"A\\B\\C\\D", "A\\B\\C"}));

struct TextCase {
    std::string text;
    DWORD expected;  // result of reading it back into 260 bytes
};

class HivekeyTexts : public HivekeyTest, public testing::WithParamInterface<TextCase> {};

TEST_P(HivekeyTexts, ReadGivesTheTextBackWhenItFitsWithItsZero) {
    CHivekey store;
    ASSERT_EQ(0u, store.Write(GetParam().text.c_str(), "Routers\\10.0.0.5", REG_SZ));
    DWORD result = 1;
    std::string read = ReadText(store, "Routers\\10.0.0.5", &result);
    EXPECT_EQ(GetParam().expected, result);
    if (GetParam().expected == 0) {
        EXPECT_EQ(GetParam().text, read);
    } else {
        EXPECT_EQ("<unread>", read);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, HivekeyTexts,
                         testing::Values(TextCase{"", 0}, TextCase{"10.0.0.5:26214", 0},
                                         TextCase{std::string(259, 'a'), 0},
                                         TextCase{std::string(260, 'b'), static_cast<DWORD>(ERROR_MORE_DATA)}));

TEST_F(HivekeyTest, ATextStoredWithoutItsZeroIsTerminated) {
    CHivekey store;
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(store, "Router", 0, REG_SZ, reinterpret_cast<const BYTE *>("abc"), 3));
    char text[260];
    std::memset(text, 'x', sizeof(text));
    DWORD size = 4;
    ASSERT_EQ(0u, store.Read(text, "Router", size));
    EXPECT_STREQ("abc", text);
    EXPECT_EQ(4u, size);
    // Without room for the zero the text does not fit.
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(store, "Router", 0, REG_SZ, reinterpret_cast<const BYTE *>("abcd"), 4));
    size = 4;
    std::memset(text, 'x', sizeof(text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), store.Read(text, "Router", size));
    EXPECT_EQ('x', text[0]);
}

TEST_F(HivekeyTest, AValueOfTheOtherTypeIsNotRead) {
    CHivekey store;
    ASSERT_EQ(0u, store.Write(1u, "Device"));
    ASSERT_EQ(0u, store.Write("text", "Router", REG_SZ));
    DWORD value = 99;
    EXPECT_NE(0u, store.Read(value, "Router"));
    EXPECT_EQ(99u, value);
    DWORD result = 0;
    EXPECT_EQ("<unread>", ReadText(store, "Device", &result));
    EXPECT_NE(0u, result);
}

TEST_F(HivekeyTest, DeleteRemovesTheValueThePathNames) {
    CHivekey store;
    ASSERT_EQ(0u, store.Write("10.0.0.5:26214", "Routers\\10.0.0.5", REG_SZ));
    ASSERT_EQ(0u, store.Write("10.0.0.6:26214", "Routers\\10.0.0.6", REG_SZ));
    EXPECT_EQ(0u, store.Delete("Routers\\10.0.0.5"));
    DWORD result = 0;
    ReadText(store, "Routers\\10.0.0.5", &result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), result);
    EXPECT_EQ("10.0.0.6:26214", ReadText(store, "Routers\\10.0.0.6", &result));
    EXPECT_TRUE(KeyExists("Routers"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), store.Delete("Routers\\10.0.0.5"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), store.Delete("Nowhere\\Value"));
}

TEST_F(HivekeyTest, ATrailingBackslashRemovesTheKeyWithItsValuesAndSubKeys) {
    CHivekey store;
    ASSERT_EQ(0u, store.Write("Board", "Devices\\Board-COM-0\\DisplayName", REG_SZ));
    ASSERT_EQ(0u, store.Write(9600u, "Devices\\Board-COM-0\\BaudRate"));
    ASSERT_EQ(0u, store.Write(1u, "Devices\\Board-COM-0\\Deeper\\Value"));
    ASSERT_EQ(0u, store.Write(0u, "Devices\\Board-USB-0\\Port"));
    EXPECT_EQ(0u, store.Delete("Devices\\Board-COM-0\\"));
    EXPECT_FALSE(KeyExists("Devices\\Board-COM-0"));
    EXPECT_TRUE(KeyExists("Devices\\Board-USB-0"));
    EXPECT_NE(0u, store.Delete("Devices\\Board-COM-0\\"));
}

TEST_F(HivekeyTest, RefusesPathsWithoutAValueOrKeyName) {
    CHivekey store;
    ASSERT_EQ(0u, store.Write(1u, "Device"));
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), store.Delete("\\"));  // the store itself stays
    EXPECT_EQ(0u, store.Read(value, "Device"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), store.Write(1u, "Devices\\"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), store.Read(value, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), store.Write(nullptr, "Router", REG_SZ));
    DWORD size = 260;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), store.Read(nullptr, "Router", size));
}

}  // namespace
