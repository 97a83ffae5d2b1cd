// The simulated board's presence: listed by device setup while present, and its
// interface path opens the named pipe behind it.
#include "BoardInterface.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <string>

TEST(BoardInterface, ListedOnlyWhilePresent) {
    const std::string path = boardsim::BoardInterfacePath("bitest0");
    ASSERT_EQ(0u, boardsim::RegisterBoardInterface("bitest0"));
    EXPECT_TRUE(boardsim::IsBoardInterfaceListed(path));
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("bitest0", false));
    EXPECT_FALSE(boardsim::IsBoardInterfaceListed(path));
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("bitest0", true));
    EXPECT_TRUE(boardsim::IsBoardInterfaceListed(path));
    boardsim::RemoveBoardInterface("bitest0");
    EXPECT_FALSE(boardsim::IsBoardInterfaceListed(path));
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
