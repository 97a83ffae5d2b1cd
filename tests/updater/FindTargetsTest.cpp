// FindTargets against board interfaces registered in this Wine prefix.
#include "BoardInterface.h"
#include "TextChecks.h"
#include "UpdateSession.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

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
    EXPECT_TRUE(SameTextIgnoringCase(boardsim::BoardInterfacePath("fttest0"), paths[0])) << paths[0];
}

TEST_F(FindTargetsTest, TwoBoardsComeInEnumerationOrder) {
    Register("fttest1");
    Register("fttest2");
    std::vector<std::string> paths;
    ASSERT_EQ(2u, FindTargets(paths));
    EXPECT_EQ(boardsim::ListPresentBoardInterfaces(), paths);
    ASSERT_EQ(2u, paths.size());
    const std::string one = boardsim::BoardInterfacePath("fttest1"), two = boardsim::BoardInterfacePath("fttest2");
    EXPECT_TRUE((SameTextIgnoringCase(one, paths[0]) && SameTextIgnoringCase(two, paths[1])) ||
                (SameTextIgnoringCase(two, paths[0]) && SameTextIgnoringCase(one, paths[1])));
}

TEST_F(FindTargetsTest, AbsentBoardIsNotFound) {
    Register("fttest3");
    Register("fttest4");
    ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent("fttest3", false));
    std::vector<std::string> paths;
    ASSERT_EQ(1u, FindTargets(paths));
    EXPECT_TRUE(SameTextIgnoringCase(boardsim::BoardInterfacePath("fttest4"), paths[0])) << paths[0];
}

TEST_F(FindTargetsTest, AppendsToTheCallersList) {
    Register("fttest5");
    std::vector<std::string> paths = {"kept"};
    ASSERT_EQ(1u, FindTargets(paths));
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ("kept", paths[0]);
    EXPECT_TRUE(SameTextIgnoringCase(boardsim::BoardInterfacePath("fttest5"), paths[1]));
}
