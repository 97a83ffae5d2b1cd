// FindTargets against board interfaces registered in this Wine prefix.
#include "BoardInterface.h"
#include "TextChecks.h"
#include "UpdateSession.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

class FindTargetsTest : public ::testing::Test {
protected:
    void Register(const std::string &instance) {
        ASSERT_EQ(0u, boardsim::RegisterBoardInterface(instance));
        registered_.push_back(instance);
    }
    // An interface of another class, on a board's device or on a device of its own.
    void RegisterOther(const std::string &deviceId, const GUID &interfaceClass, bool deviceOfItsOwn) {
        ASSERT_EQ(0u, boardsim::RegisterDeviceInterface(deviceId, interfaceClass));
        others_.push_back(boardsim::InterfacePath(deviceId, interfaceClass));
        if (deviceOfItsOwn) otherDevices_.push_back(deviceId);
    }
    void TearDown() override {
        for (const auto &path : others_) boardsim::SetInterfacePresent(path, false);
        for (const auto &device : otherDevices_) boardsim::RemoveDevice(device);
        for (const auto &instance : registered_) boardsim::RemoveBoardInterface(instance);
        std::vector<std::string> left;
        FindTargets(left);
        EXPECT_TRUE(left.empty()) << "registrations left behind";
    }

private:
    std::vector<std::string> registered_;
    std::vector<std::string> others_;
    std::vector<std::string> otherDevices_;
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

// Other interface classes, one listed before the board's and one after it (device setup lists the
// classes in the order of their names). The first stands for the interface every USB device has.
constexpr GUID kEarlierClass = {0x0a5dcbf1, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
constexpr GUID kLaterClass = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};

struct OtherInterface {
    const char *device;  // a board's instance, or a device id of its own
    bool onBoard;
    const GUID *interfaceClass;
};

struct ListingCase {
    const char *what;
    std::vector<const char *> boards;  // registered in this order
    std::vector<const char *> absent;  // boards marked absent
    std::vector<OtherInterface> others;
};

const ListingCase kListingCases[] = {
    {"several boards registered out of order", {"ftl1c", "ftl1a", "ftl1e", "ftl1b", "ftl1d"}, {}, {}},
    {"other devices with interfaces before and after the board class",
     {"ftl2b", "ftl2a", "ftl2c"},
     {},
     {{"USB\\VID_0E0F&PID_0001\\OTHER2A", false, &kEarlierClass},
      {"USB\\VID_0E0F&PID_0001\\OTHER2A", false, &kLaterClass},
      {"ROOT\\OTHER\\0002", false, &kLaterClass},
      {"USB\\VID_FFFF&PID_0001\\OTHER2B", false, &kEarlierClass}}},
    {"every board also has interfaces of other classes",
     {"ftl3c", "ftl3a", "ftl3b"},
     {},
     {{"ftl3a", true, &kEarlierClass},
      {"ftl3b", true, &kEarlierClass},
      {"ftl3c", true, &kEarlierClass},
      {"ftl3a", true, &kLaterClass},
      {"ftl3c", true, &kLaterClass}}},
    {"one board has an interface of a class listed before the board class",
     {"ftl4a", "ftl4b", "ftl4c"},
     {},
     {{"ftl4c", true, &kEarlierClass}, {"ftl4b", true, &kLaterClass}}},
    {"absent boards among present ones and other devices",
     {"ftl5d", "ftl5a", "ftl5c", "ftl5b"},
     {"ftl5a", "ftl5c"},
     {{"ftl5a", true, &kEarlierClass}, {"USB\\VID_0E0F&PID_0001\\OTHER5", false, &kEarlierClass}}},
    {"one present board with interfaces of other classes, an absent one and other devices",
     {"ftl6b", "ftl6a"},
     {"ftl6b"},
     {{"ftl6a", true, &kEarlierClass},
      {"ftl6a", true, &kLaterClass},
      {"USB\\VID_0E0F&PID_0001\\OTHER6", false, &kEarlierClass}}},
};

void PrintTo(const ListingCase &listing, std::ostream *out) { *out << listing.what; }

class FindTargetsListingTest : public FindTargetsTest, public ::testing::WithParamInterface<ListingCase> {};

// The reference listing asks device setup for every class and picks the board interfaces out of it;
// the search must give the same paths in the same order, however it asks.
TEST_P(FindTargetsListingTest, ListsThePresentBoardsInTheOrderOfTheListingOfEveryClass) {
    const ListingCase &listing = GetParam();
    for (const char *board : listing.boards) Register(board);
    for (const OtherInterface &other : listing.others)
        RegisterOther(other.onBoard ? boardsim::BoardDeviceId(other.device) : other.device, *other.interfaceClass,
                      !other.onBoard);
    for (const char *board : listing.absent) ASSERT_EQ(0u, boardsim::SetBoardInterfacePresent(board, false));

    for (const OtherInterface &other : listing.others) {
        const std::string path = boardsim::InterfacePath(
            other.onBoard ? boardsim::BoardDeviceId(other.device) : other.device, *other.interfaceClass);
        const auto listed = boardsim::ListPresentInterfaces(*other.interfaceClass);
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), path)) << path << " is not listed";
    }

    std::vector<std::string> paths;
    const size_t found = FindTargets(paths);
    EXPECT_EQ(listing.boards.size() - listing.absent.size(), found);
    EXPECT_EQ(found, paths.size());
    EXPECT_EQ(boardsim::ListPresentBoardInterfaces(), paths);
    for (const char *board : listing.boards) {
        const bool present = std::find_if(listing.absent.begin(), listing.absent.end(), [&](const char *absent) {
                                 return std::string(absent) == board;
                             }) == listing.absent.end();
        const bool listed = std::any_of(paths.begin(), paths.end(), [&](const std::string &path) {
            return SameTextIgnoringCase(boardsim::BoardInterfacePath(board), path);
        });
        EXPECT_EQ(present, listed) << board;
    }
}

INSTANTIATE_TEST_SUITE_P(Listings, FindTargetsListingTest, ::testing::ValuesIn(kListingCases),
                         [](const ::testing::TestParamInfo<ListingCase> &info) {
                             return "Case" + std::to_string(info.index);
                         });
