// SimRouter.exe as another process, driven through stdin as demos and users
// drive it: it reports ready, answers commands, serves routers that discovery
// finds, holds the local service's event while asked to, and ends on "quit".
#include "ChildProgram.h"
#include "CommunicatorState.h"
#include "Hivekey.h"
#include "LocalService.h"
#include "ServicePort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SimRouterProgram : public testing::Test {
protected:
    void SetUp() override {
        CHivekey().Delete(kServicePortPath);
        ASSERT_TRUE(child.Start(""));
        std::string line;
        ASSERT_TRUE(child.WaitLine("ready", &line));
        EXPECT_EQ("ready 26214", line);
    }

    std::string Run(const std::string &command) {
        std::string line;
        if (!child.Command(command)) return "<not sent>";
        std::string verb = command.substr(0, command.find(' '));
        return child.WaitLine("ok " + verb, &line, kChildWait) ? line : "<no answer>";
    }

    ChildProgram child{"SimRouter.exe"};
};

TEST_F(SimRouterProgram, ServesTheRoutersAndTheServiceItIsToldTo) {
    EXPECT_EQ("ok router", Run("router 0 Bench-Router 127.0.0.1"));
    EXPECT_EQ("ok devices", Run("devices 0 2"));
    EXPECT_EQ("ok service", Run("service on"));
    EXPECT_TRUE(LocalServiceRunning());

    CommunicatorState state;
    std::vector<RouterRecord> routers;
    state.Client().DiscoverRouters(&routers);
    ASSERT_EQ(2u, routers.size());
    EXPECT_STREQ("Bench-Router", routers[0].name);
    EXPECT_EQ(26214, routers[0].port);
    std::vector<DeviceRecord> devices;
    ASSERT_EQ(0u, state.Client().QueryRouterDevices(&devices, ::htonl(INADDR_LOOPBACK), 26214));
    ASSERT_EQ(2u, devices.size());
    EXPECT_STREQ("Board-1", devices[1].displayName);

    std::string line;
    ASSERT_TRUE(child.Command("bogus") && child.WaitLine("error", &line));
    EXPECT_EQ("error bogus 1", line);
    ASSERT_TRUE(child.Command("router 0 Twice") && child.WaitLine("error", &line));
    EXPECT_EQ("error router 10048", line);

    ASSERT_TRUE(child.Command("quit"));
    EXPECT_EQ(0u, child.WaitExit());
    EXPECT_FALSE(LocalServiceRunning()) << "the event goes with the program";
}

}  // namespace
