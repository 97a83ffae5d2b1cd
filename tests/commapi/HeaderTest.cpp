#include "CommApi.h"
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <type_traits>
#include <utility>

extern "C" int HeaderCompilesAsC(void);

// Stand-in definitions so the C unit links; the real ones live in the libraries.
extern "C" {
CommResult COMM_CALL CommOpen(const char *, uint32_t, HCOMM *, const char *, uint32_t) { return 0; }
CommResult COMM_CALL CommReceiveData(HCOMM, void *, uint32_t *, uint8_t *, uint8_t *) { return 0; }
}

// As a host program sees the header (no COMM_TRANSPORT_LIBRARY here): a call of CommStartup or
// CommCleanup finds only these stand-ins, never a declaration from CommApi.h.
namespace host_view {
struct Undeclared {};
Undeclared CommStartup(...);
Undeclared CommCleanup(...);
}  // namespace host_view

void AsAHostProgramSeesIt() {
    using namespace host_view;
    static_assert(std::is_same_v<decltype(CommStartup()), host_view::Undeclared> &&
                      std::is_same_v<decltype(CommCleanup()), host_view::Undeclared>,
                  "CommApi.h declares CommStartup and CommCleanup to host programs, which cannot link them");
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

extern "C" size_t RecordStrideFromC(int which);
extern "C" size_t RecordSizeFromC89(int which);
extern "C" size_t ConnectionPortBFromC89(void);

// The layouts host programs allocate: C, C89 and C++ agree on every size and
// stride, and a field written through the struct lands at its wire offset.
class CommRecordsLayout : public testing::TestWithParam<std::pair<int, size_t>> {};

TEST_P(CommRecordsLayout, SameSizeAndStrideInCAndCpp) {
    EXPECT_EQ(GetParam().second, RecordStrideFromC(GetParam().first));
    EXPECT_EQ(GetParam().second, RecordSizeFromC89(GetParam().first));
}

INSTANTIATE_TEST_SUITE_P(Records, CommRecordsLayout,
                         testing::Values(std::make_pair(0, sizeof(RouterRecord)), std::make_pair(1, sizeof(DeviceRecord)),
                                         std::make_pair(2, sizeof(ConnectionRecord)),
                                         std::make_pair(3, sizeof(SelectionRecord))));

TEST(CommRecordsFields, LittleEndianNumbersAtTheirOffsets) {
    DeviceRecord device{};
    device.port = 0x1234;
    device.extra = 0x5678;
    device.features = 0x9ABCDEF0u;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&device);
    const unsigned char expected[] = {0x34, 0x12, 0x78, 0x56, 0xF0, 0xDE, 0xBC, 0x9A};
    EXPECT_EQ(0, std::memcmp(expected, bytes + 520, sizeof(expected)));

    ConnectionRecord connection{};
    connection.portB = 0xBEEF;
    EXPECT_EQ(ConnectionPortBFromC89(), offsetof(ConnectionRecord, portB));
    EXPECT_EQ(0xEF, reinterpret_cast<const unsigned char *>(&connection)[1044]);

    // The selection's first three fields are a DeviceRecord's.
    EXPECT_EQ(offsetof(DeviceRecord, port), offsetof(SelectionRecord, port));
    EXPECT_EQ(offsetof(DeviceRecord, address), offsetof(SelectionRecord, address));
}
