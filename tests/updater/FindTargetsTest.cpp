// FindTargets against board interfaces registered in this Wine prefix.
#include "BoardInterface.h"
#include "BoardInterfaceGuid.h"
#include "UpdateSession.h"
#include <gtest/gtest.h>
#include <setupapi.h>
#include <string>
#include <vector>

namespace {

// Present board interfaces as device setup lists them, in its order.
std::vector<std::string> SetupApiOrder() {
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

bool SamePath(const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

class FindTargetsTest : public ::testing::Test {
protected:
    void Register(const std::string &instance) {
        ASSERT_EQ(0u, boardsim::RegisterBoardInterface(instance));
        registered_.push_back(instance);
    }
    void TearDown() override {
        for (const auto &instance : registered_) boardsim::RemoveBoardInterface(instance);
        std::vector<std::string> left;
        FindTargets(left);
        EXPECT_TRUE(left.empty()) << "registrations left behind";
    }

private:
    std::vector<std::string> registered_;
};

}  // namespace

TEST_F(FindTargetsTest, NoBoardFindsNothing) {
    std::vector<std::string> paths;
    EXPECT_EQ(0u, FindTargets(paths));
    EXPECT_TRUE(paths.empty());
}

TEST_F(FindTargetsTest, OneBoardIsFoundByItsInterfacePath) {
    Register("fttest0");
    std::vector<std::string> paths;
    ASSERT_EQ(1u, FindTargets(paths));
    ASSERT_EQ(1u, paths.size());
    EXPECT_TRUE(SamePath(boardsim::BoardInterfacePath("fttest0"), paths[0])) << paths[0];
}

TEST_F(FindTargetsTest, TwoBoardsComeInEnumerationOrder) {
    Register("fttest1");
    Register("fttest2");
    std::vector<std::string> paths;
    ASSERT_EQ(2u, FindTargets(paths));
    EXPECT_EQ(SetupApiOrder(), paths);
    ASSERT_EQ(2u, paths.size());
    const std::string one = boardsim::BoardInterfacePath("fttest1"), two = boardsim::BoardInterfacePath("fttest2");
    EXPECT_TRUE((SamePath(one, paths[0]) && SamePath(two, paths[1])) || (SamePath(two, paths[0]) && SamePath(one, paths[1])));
}

TEST_F(FindTargetsTest, AbsentBoardIsNotFound) {
    Register("fttest3");
    Register("fttest4");
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("fttest3", false));
    std::vector<std::string> paths;
    ASSERT_EQ(1u, FindTargets(paths));
    EXPECT_TRUE(SamePath(boardsim::BoardInterfacePath("fttest4"), paths[0])) << paths[0];
}

TEST_F(FindTargetsTest, AppendsToTheCallersList) {
    Register("fttest5");
    std::vector<std::string> paths = {"kept"};
    ASSERT_EQ(1u, FindTargets(paths));
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ("kept", paths[0]);
    EXPECT_TRUE(SamePath(boardsim::BoardInterfacePath("fttest5"), paths[1]));
}
