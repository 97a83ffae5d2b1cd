// The simulated board's presence: listed by device setup while present, and its
// interface path opens the named pipe behind it.
#include "BoardInterface.h"
#include "BoardInterfaceGuid.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <setupapi.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> PresentBoardPaths() {
    std::vector<std::string> paths;
    HDEVINFO set = ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &BoardInterfaceGuid, i, &iface); ++i) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (::SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool Contains(const std::vector<std::string> &paths, const std::string &path) {
    for (const auto &p : paths)
        if (_stricmp(p.c_str(), path.c_str()) == 0) return true;
    return false;
}

}  // namespace

TEST(BoardInterface, ListedOnlyWhilePresent) {
    const std::string path = boardsim::BoardInterfacePath("bitest0");
    ASSERT_EQ(0u, boardsim::RegisterBoardInterface("bitest0"));
    EXPECT_TRUE(Contains(PresentBoardPaths(), path));
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("bitest0", false));
    EXPECT_FALSE(Contains(PresentBoardPaths(), path));
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("bitest0", true));
    EXPECT_TRUE(Contains(PresentBoardPaths(), path));
    boardsim::RemoveBoardInterface("bitest0");
    EXPECT_FALSE(Contains(PresentBoardPaths(), path));
}

TEST(BoardInterface, PathOpensThePipeAsOverlappedStream) {
    const std::string pipe = "boardinterface-test-pipe";
    UniqueHandle server(::CreateNamedPipeA(("\\\\.\\pipe\\" + pipe).c_str(),
                                           PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    boardsim::DeviceLink link;
    const std::string path = boardsim::BoardInterfacePath("bitest1");
    ASSERT_EQ(0u, link.Create(path, pipe));

    UniqueHandle client(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(client) << ::GetLastError();
    // A second open of a one-instance pipe fails, as a device held elsewhere does.
    UniqueHandle second(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_FALSE(second);

    link.Remove();
    UniqueHandle afterRemoval(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_FALSE(afterRemoval);
}
