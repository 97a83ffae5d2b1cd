#include "AddressCheck.h"
#include "ProtectedPage.h"
#include <gtest/gtest.h>

TEST(AddressCheck, NullAndWrapAroundAreInvalid) {
    EXPECT_FALSE(AfxIsValidAddress(nullptr, 16, FALSE));
    char local[16];
    EXPECT_FALSE(AfxIsValidAddress(local, ~static_cast<UINT_PTR>(0), FALSE));
    EXPECT_TRUE(AfxIsValidAddress(local, sizeof(local), TRUE));
}

TEST(AddressCheck, ReadOnlyPageIsReadableButNotWritable) {
    ProtectedPage pages(PAGE_READONLY);
    ASSERT_NE(nullptr, pages.Base());
    EXPECT_TRUE(AfxIsValidAddress(pages.Base(), 16, FALSE));
    EXPECT_FALSE(AfxIsValidAddress(pages.Base(), 16, TRUE));
}

TEST(AddressCheck, BlockRunningIntoReservedPageIsInvalid) {
    ProtectedPage pages(PAGE_READWRITE);
    ASSERT_NE(nullptr, pages.Base());
    auto *nearEnd = pages.Base() + pages.Size() - 8;
    EXPECT_TRUE(AfxIsValidAddress(nearEnd, 8, TRUE));
    EXPECT_FALSE(AfxIsValidAddress(nearEnd, 16, FALSE));
    EXPECT_FALSE(AfxIsValidAddress(pages.Base() + pages.Size(), 1, FALSE));
}
