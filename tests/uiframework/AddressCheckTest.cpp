#include "AddressCheck.h"
#include <gtest/gtest.h>

namespace {

// Two committed pages: the first with the given protection, the second reserved only.
struct Pages {
    explicit Pages(DWORD protect) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        page = info.dwPageSize;
        base = static_cast<char *>(::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE, PAGE_NOACCESS));
        ::VirtualAlloc(base, page, MEM_COMMIT, protect);
    }
    ~Pages() { ::VirtualFree(base, 0, MEM_RELEASE); }
    char *base;
    DWORD page;
};

}  // namespace

TEST(AddressCheck, NullAndWrapAroundAreInvalid) {
    EXPECT_FALSE(AfxIsValidAddress(nullptr, 16, FALSE));
    char local[16];
    EXPECT_FALSE(AfxIsValidAddress(local, ~static_cast<UINT_PTR>(0), FALSE));
    EXPECT_TRUE(AfxIsValidAddress(local, sizeof(local), TRUE));
}

TEST(AddressCheck, ReadOnlyPageIsReadableButNotWritable) {
    Pages pages(PAGE_READONLY);
    ASSERT_NE(nullptr, pages.base);
    EXPECT_TRUE(AfxIsValidAddress(pages.base, 16, FALSE));
    EXPECT_FALSE(AfxIsValidAddress(pages.base, 16, TRUE));
}

TEST(AddressCheck, BlockRunningIntoReservedPageIsInvalid) {
    Pages pages(PAGE_READWRITE);
    ASSERT_NE(nullptr, pages.base);
    char *nearEnd = pages.base + pages.page - 8;
    EXPECT_TRUE(AfxIsValidAddress(nearEnd, 8, TRUE));
    EXPECT_FALSE(AfxIsValidAddress(nearEnd, 16, FALSE));
    EXPECT_FALSE(AfxIsValidAddress(pages.base + pages.page, 1, FALSE));
}
