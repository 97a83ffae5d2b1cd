#include "CommApi.h"
#include <gtest/gtest.h>
#include <windows.h>

extern "C" int HeaderCompilesAsC(void);

// Stand-in definitions so the C unit links; the real ones live in the libraries.
extern "C" {
CommResult COMM_CALL CommOpen(const char *, uint32_t, HCOMM *, const char *, uint32_t) { return 0; }
CommResult COMM_CALL CommReceiveData(HCOMM, void *, uint32_t *, uint8_t *, uint8_t *) { return 0; }
}

TEST(CommApiHeader, UsableFromCAndPointerSizedHandle) {
    EXPECT_EQ(1, HeaderCompilesAsC());
    EXPECT_EQ(sizeof(void *), sizeof(HCOMM));
}

TEST(CommApiHeader, ResultCodesAreTheSystemCodes) {
    EXPECT_EQ(static_cast<CommResult>(ERROR_INVALID_HANDLE), COMM_ERROR_INVALID_HANDLE);
    EXPECT_EQ(static_cast<CommResult>(ERROR_NOT_ENOUGH_MEMORY), COMM_ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(static_cast<CommResult>(ERROR_INVALID_PARAMETER), COMM_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(static_cast<CommResult>(ERROR_MOD_NOT_FOUND), COMM_ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(static_cast<CommResult>(ERROR_PROC_NOT_FOUND), COMM_ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(static_cast<CommResult>(ERROR_ALREADY_EXISTS), COMM_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(static_cast<CommResult>(ERROR_MORE_DATA), COMM_ERROR_MORE_DATA);
    EXPECT_EQ(static_cast<CommResult>(ERROR_DEVICE_NOT_CONNECTED), COMM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(static_cast<CommResult>(ERROR_CONNECTION_ACTIVE), COMM_ERROR_CONNECTION_ACTIVE);
    EXPECT_EQ(static_cast<CommResult>(ERROR_TIMEOUT), COMM_ERROR_TIMEOUT);
    EXPECT_EQ(static_cast<CommResult>(E_POINTER), COMM_E_POINTER);
}
