// CopyText, the one way Communicator puts a text into a fixed-size field: up to
// the text's zero, the length given and the field's size less one, and nothing
// written after the zero.
#include "CopyText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct CopyCase {
    const char *what;
    std::string text;  // may hold a zero of its own
    std::size_t length;
    std::string expected;
};

class CopyTextCases : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyTextCases, CopyUpToTheZeroTheLengthAndTheFieldLessOne) {
    char field[8];
    std::memset(field, 'x', sizeof(field));
    CopyText(field, GetParam().text.c_str(), GetParam().length);
    EXPECT_EQ(GetParam().expected, std::string(field)) << GetParam().what;
    EXPECT_EQ(std::string(sizeof(field) - GetParam().expected.size() - 1, 'x'),
              std::string(field + GetParam().expected.size() + 1, field + sizeof(field)))
        << GetParam().what << ": the bytes after the zero keep what they held";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CopyTextCases,
    testing::Values(CopyCase{"shorter than the field", "abc", 7, "abc"},
                    CopyCase{"the field's size less one", "abcdefg", 7, "abcdefg"},
                    CopyCase{"longer than the field", "abcdefghij", 10, "abcdefg"},
                    CopyCase{"a length beyond the field", "abcdefghij", 100, "abcdefg"},
                    CopyCase{"a length shorter than the text", "abcdef", 2, "ab"},
                    CopyCase{"a zero within the length", std::string("ab\0cd", 5), 5, "ab"},
                    CopyCase{"empty", "", 7, ""}, CopyCase{"no length", "abc", 0, ""}));

TEST(CopyText, ReadsNoMoreOfAFieldWithoutZeroThanTheTargetTakes) {
    const char full[4] = {'a', 'b', 'c', 'd'};  // no zero: a caller's field filled to the end
    char field[4];
    CopyText(field, full);
    EXPECT_STREQ("abc", field);
}

}  // namespace
