// ReadProgramVersion packs the running program's product version, 1.2.3.260 here.
#include "ImageFile.h"
#include <windows.h>
#include <gtest/gtest.h>

TEST(ReadProgramVersion, PacksTheLowByteOfEachProductVersionNumber) {
    EXPECT_EQ(0x01020304u, ReadProgramVersion());
}

TEST(ReadProgramVersion, ReadsAnyModuleFile) {
    char path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    uint32_t packed = 0;
    ASSERT_TRUE(ReadPackedProductVersion(path, packed));
    EXPECT_EQ(0x01020304u, packed);
}
