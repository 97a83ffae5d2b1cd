// The router client of CommunicatorState against simulated routers on
// loopback: discovery, device lists, connection lists, closing connections,
// adding and removing devices, and what the exchanges make of silence, late,
// malformed, oversized and foreign answers. Runs in the sandbox's private
// network namespace, where broadcasts stay on loopback.
#include "CommunicatorState.h"
#include "Hivekey.h"
#include "LocalService.h"
#include "PrivateBytes.h"
#include "ServicePort.h"
#include "SimulatedRouters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace routersim;

namespace {

constexpr std::uint16_t kServicePort = 26214;
constexpr std::uint16_t kSecondPort = 26300;
constexpr std::uint16_t kClosedPort = 26399;  // nobody listens here

DeviceRecord Device(const std::string &name, const std::string &address, std::uint16_t port) {
    DeviceRecord device{};
    std::strncpy(device.displayName, name.c_str(), 259);
    std::strncpy(device.address, address.c_str(), 259);
    device.port = port;
    device.extra = static_cast<std::uint16_t>(port + 1);
    device.features = 0x01020304u * port;
    return device;
}

ConnectionRecord Connection(std::uint8_t id1, std::uint8_t id2, const char *nameA, const char *nameB) {
    ConnectionRecord connection{};
    connection.id1 = id1;
    connection.id2 = id2;
    std::strcpy(connection.nameA, nameA);
    std::strcpy(connection.addressA, "127.0.0.1");
    connection.portA = 4000;
    std::strcpy(connection.nameB, nameB);
    std::strcpy(connection.addressB, "127.0.0.9");
    connection.portB = 5000;
    return connection;
}

bool SameDevice(const DeviceRecord &a, const DeviceRecord &b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

std::uint32_t Loopback() { return ::htonl(INADDR_LOOPBACK); }

class Stopwatch {
public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class RouterProtocolTest : public testing::Test {
protected:
    void SetUp() override {
        CHivekey().Delete(kServicePortPath);  // the default service port
        ASSERT_EQ(0u, routers.Start());
        ASSERT_TRUE(state.Ready());
    }
    void TearDown() override { CHivekey().Delete("Corvane\\"); }

    void AddRouter(std::uint16_t port, const char *name) { ASSERT_EQ(0u, routers.AddRouter(port, name)); }

    std::vector<RouterRecord> Discover() {
        std::vector<RouterRecord> found;
        state.Client().DiscoverRouters(&found);
        return found;
    }

    // Routers other than the local service.
    static std::vector<std::string> Names(const std::vector<RouterRecord> &found) {
        std::vector<std::string> names;
        for (const RouterRecord &router : found) names.push_back(router.name);
        return names;
    }

    SimulatedRouters routers{kServicePort};
    CommunicatorState state;
};

// --- Discovery --------------------------------------------------------------

TEST_F(RouterProtocolTest, DiscoveryListsEveryRouterOnceByNameIgnoringCase) {
    AddRouter(kServicePort, "Alpha");
    AddRouter(kSecondPort, "BETA");
    AddRouter(kSecondPort + 1, "beta");
    AddRouter(kSecondPort + 2, "Gamma");
    ASSERT_TRUE(routers.SetAdvertisedAddress(kSecondPort + 2, "127.0.0.7"));
    std::vector<RouterRecord> found(1);
    std::strcpy(found[0].name, "GAMMA");  // already in the caller's list
    state.Client().DiscoverRouters(&found);
    EXPECT_EQ((std::vector<std::string>{"GAMMA", "Alpha", "BETA"}), Names(found));
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ(kServicePort, found[1].port);
    EXPECT_STREQ("127.0.0.1", found[1].address);
    EXPECT_EQ(kSecondPort, found[2].port);
    EXPECT_EQ(1u, routers.Requests().size()) << "answered at the first attempt";
}

TEST_F(RouterProtocolTest, DiscoveryWithoutAnswersSendsThreeTimesInAboutThreeSeconds) {
    Stopwatch watch;
    EXPECT_TRUE(Discover().empty());
    EXPECT_GE(watch.Seconds(), 2.9);
    EXPECT_LT(watch.Seconds(), 4.5);
    ASSERT_EQ(3u, routers.Requests().size());
    EXPECT_EQ((Datagram{1, 0, 0, 0, 2}), routers.Requests()[0].bytes);
}

TEST_F(RouterProtocolTest, DiscoveryTakesTheServicePortFromTheStore) {
    const std::uint16_t port = 26310;
    ASSERT_EQ(0u, CHivekey().Write(0x10000u | port, kServicePortPath));  // only the low 16 bits count
    SimulatedRouters other(port);
    ASSERT_EQ(0u, other.Start());
    ASSERT_EQ(0u, other.AddRouter(0, "Elsewhere"));
    AddRouter(kServicePort, "Default");
    EXPECT_EQ((std::vector<std::string>{"Elsewhere"}), Names(Discover()));
}

struct ServiceCase {
    const char *what;
    int event;  // -1 absent, 0 not signalled, 1 signalled
    const char *routerName;
    bool listed;
};

class LocalServiceDiscovery : public RouterProtocolTest, public testing::WithParamInterface<ServiceCase> {};

TEST_P(LocalServiceDiscovery, ListsTheComputerWhileTheServiceEventIsSignalled) {
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD length = sizeof(computer);
    ASSERT_TRUE(::GetComputerNameA(computer, &length));
    std::string name = GetParam().routerName;
    if (name == "<computer in lower case>") name = ::CharLowerA(computer);
    AddRouter(kServicePort, name.c_str());  // an answer ends discovery after the quiet window
    if (GetParam().event >= 0) {
        ASSERT_EQ(0u, routers.HoldServiceEvent(GetParam().event == 1));
    }
    EXPECT_EQ(GetParam().event == 1, LocalServiceRunning());
    length = sizeof(computer);
    ::GetComputerNameA(computer, &length);

    std::vector<RouterRecord> found = Discover();
    ASSERT_EQ(GetParam().listed ? 2u : 1u, found.size()) << GetParam().what;
    EXPECT_EQ(name, found[0].name);
    if (!GetParam().listed) return;
    EXPECT_STREQ(computer, found[1].name);
    EXPECT_EQ(kServicePort, found[1].port);
    const hostent *host = ::gethostbyname(computer);
    std::string expected = "127.0.0.1";
    if (host && host->h_addrtype == AF_INET && host->h_addr_list[0])
        expected = ::inet_ntoa(*reinterpret_cast<in_addr *>(host->h_addr_list[0]));
    EXPECT_EQ(expected, found[1].address);
}

INSTANTIATE_TEST_SUITE_P(
    Events, LocalServiceDiscovery,
    testing::Values(ServiceCase{"no service", -1, "Lab", false}, ServiceCase{"service stopped", 0, "Lab", false},
                    ServiceCase{"service running", 1, "Lab", true},
                    ServiceCase{"a router has the computer's name", 1, "<computer in lower case>", false}));

struct DiscoveryFaultCase {
    const char *what;
    RouterFault fault;
    bool listed;
    std::string name;  // as listed
};

class DiscoveryFaults : public RouterProtocolTest, public testing::WithParamInterface<DiscoveryFaultCase> {};

TEST_P(DiscoveryFaults, AnswersAreReadOnlyWithinTheirBytes) {
    AddRouter(kServicePort, "Steady");
    AddRouter(kSecondPort, "Odd-Router");
    ASSERT_TRUE(routers.SetFault(kSecondPort, GetParam().fault));
    std::vector<RouterRecord> found = Discover();
    std::vector<std::string> expected = {"Steady"};
    if (GetParam().listed) expected.push_back(GetParam().name);
    EXPECT_EQ(expected, Names(found)) << GetParam().what;
    if (GetParam().listed) {
        EXPECT_EQ(kSecondPort, found[1].port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiscoveryFaults,
    testing::Values(DiscoveryFaultCase{"cut in the name", {FaultKind::Truncate, 2, 10}, true, "Odd-"},
                    DiscoveryFaultCase{"too short for the port", {FaultKind::Truncate, 2, 5}, false, ""},
                    DiscoveryFaultCase{"larger than the buffer", {FaultKind::Oversize, 2}, false, ""},
                    DiscoveryFaultCase{"late, within the quiet window", {FaultKind::Late, 2, 300, 1}, true, "Odd-Router"}));

// Junk first, or a flood from one sender after the routers: every router is
// listed, a flooding sender once, and CommGetRouters stays within its usual time.
TEST_F(RouterProtocolTest, DiscoveryListsEveryRouterThroughOversizedAndFloodedAnswers) {
    const struct {
        const char *what;
        std::uint16_t oversized;       // routers answering first with more than 1518 bytes
        std::uint32_t floodedAnswers;  // from one sender, names Flood-1, Flood-2, ...
        std::vector<std::string> listed;
    } cases[] = {
        {"eight oversized answers first", 8, 0, {"Alpha", "Beta", "Gamma"}},
        {"10,000 answers of one sender after them", 0, 10000, {"Alpha", "Beta", "Flood", "Gamma"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint16_t> ports;  // in the order they answer
        for (std::uint16_t i = 0; i < c.oversized; ++i) ports.push_back(static_cast<std::uint16_t>(26320 + i));
        for (const std::uint16_t port : ports) {
            AddRouter(port, "Big");
            ASSERT_TRUE(routers.SetFault(port, {FaultKind::Oversize, 2}));
        }
        for (const char *name : {"Alpha", "Beta", "Gamma"}) {
            ports.push_back(static_cast<std::uint16_t>(kSecondPort + name[0]));
            AddRouter(ports.back(), name);
        }
        if (c.floodedAnswers) {
            ports.push_back(kSecondPort);
            AddRouter(kSecondPort, "Flood");
            ASSERT_TRUE(routers.SetFault(kSecondPort, {FaultKind::Flood, 2, c.floodedAnswers}));
        }
        std::vector<RouterRecord> records(32);
        std::uint32_t count = 32;
        std::uint64_t peak = 0;
        const UniqueHandle done = MakeEvent(true, false);
        Thread sampler;  // the memory the call holds at its peak
        ASSERT_TRUE(sampler.Start([&] {
            do peak = std::max(peak, CommittedPrivateBytes());
            while (::WaitForSingleObject(done.Get(), 20) == WAIT_TIMEOUT);
        }));
        const std::uint64_t before = CommittedPrivateBytes();
        Stopwatch watch;
        EXPECT_EQ(0u, state.Routers().GetRouters(records.data(), &count));
        const double seconds = watch.Seconds();
        ::SetEvent(done.Get());
        sampler.Join();
        std::printf("CommGetRouters, %s: %.2f s, %u routers, peak memory +%.1f MiB\n", c.what, seconds, count,
                    (std::max(peak, before) - before) / 1048576.0);
        EXPECT_LT(seconds, 4.5);
        records.resize(std::min<std::size_t>(count, records.size()));
        std::vector<std::string> names = Names(records);
        for (std::string &name : names) name = name.substr(0, name.find('-'));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(c.listed, names);
        for (const std::uint16_t port : ports) routers.RemoveRouter(port);
    }
}

// --- Device lists -----------------------------------------------------------

struct DeviceListCase {
    const char *what;
    std::vector<DeviceRecord> devices;
    std::size_t expected;  // how many fit into one reply
};

class DeviceLists : public RouterProtocolTest, public testing::WithParamInterface<DeviceListCase> {};

std::vector<DeviceRecord> Numbered(std::size_t count) {
    std::vector<DeviceRecord> devices;
    for (std::size_t i = 0; i < count; ++i)
        devices.push_back(Device("B" + std::to_string(i), "U" + std::to_string(i), static_cast<std::uint16_t>(i)));
    return devices;
}

TEST_P(DeviceLists, AreAppendedInOrder) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetDevices(kSecondPort, GetParam().devices));
    std::vector<DeviceRecord> devices(1);  // appended after what the caller has
    ASSERT_EQ(0u, state.Client().QueryRouterDevices(&devices, Loopback(), kSecondPort));
    ASSERT_EQ(GetParam().expected + 1, devices.size()) << GetParam().what;
    for (std::size_t i = 0; i < GetParam().expected; ++i)
        EXPECT_TRUE(SameDevice(GetParam().devices[i], devices[i + 1])) << i;
    EXPECT_EQ((Datagram{1, 0, 0, 0, 1}), routers.Requests().back().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DeviceLists,
    testing::Values(DeviceListCase{"none", {}, 0}, DeviceListCase{"three", Numbered(3), 3},
                    // 255 entries of 16 bytes and their texts: what fits into 1518 bytes.
                    DeviceListCase{"255", Numbered(255), 63},
                    DeviceListCase{"texts at the field limit",
                                   {Device(std::string(259, 'n'), std::string(259, 'a'), 7)}, 1}));

struct QueryFaultCase {
    const char *what;
    RouterFault fault;
    std::uint32_t routerAddress;  // network order
    CommResult result;
    std::size_t appended;
    bool emptyTexts;
    // An oversized answer that is already there when the receive is posted makes the
    // post fail (-1); one that arrives while it is pending ends it with WSAEMSGSIZE.
    CommResult alsoAllowed = COMM_SUCCESS;
};

class DeviceListFaults : public RouterProtocolTest, public testing::WithParamInterface<QueryFaultCase> {};

TEST_P(DeviceListFaults, NeverReadWhatIsNotTheRoutersReply) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetDevices(kSecondPort, Numbered(2)));
    ASSERT_TRUE(routers.SetFault(kSecondPort, GetParam().fault));
    std::vector<DeviceRecord> devices;
    const CommResult result = state.Client().QueryRouterDevices(&devices, GetParam().routerAddress, kSecondPort);
    if (GetParam().alsoAllowed == COMM_SUCCESS || result != GetParam().alsoAllowed) {
        EXPECT_EQ(GetParam().result, result) << GetParam().what;
    }
    ASSERT_EQ(GetParam().appended, devices.size());
    for (const DeviceRecord &device : devices) {
        EXPECT_EQ(GetParam().emptyTexts, device.displayName[0] == '\0');
        EXPECT_EQ(GetParam().emptyTexts, device.address[0] == '\0');
    }
}

// Under Wine every answer leaves from 127.0.0.1, so a router asked at 127.0.0.2
// always answers from another address.
INSTANTIATE_TEST_SUITE_P(
    Faults, DeviceListFaults,
    testing::Values(QueryFaultCase{"silent", {FaultKind::Silent}, Loopback(), COMM_ERROR_WAIT_TIMEOUT, 0, false},
                    QueryFaultCase{"answer from another address", {}, ::htonl(0x7F000002), COMM_ERROR_WAIT_TIMEOUT, 0,
                                   false},
                    QueryFaultCase{"texts outside", {FaultKind::TextsOutside, 1}, Loopback(), 0, 2, true},
                    QueryFaultCase{"cut after the first entry", {FaultKind::Truncate, 1, 21}, Loopback(), 0, 1, true},
                    QueryFaultCase{"larger than the buffer", {FaultKind::Oversize, 1}, Loopback(), WSAEMSGSIZE, 0,
                                   false, COMM_ERROR_RECEIVE_NOT_POSTED},
                    QueryFaultCase{"late, then answered again", {FaultKind::Late, 1, 2300, 1}, Loopback(), 0, 2,
                                   false}));

TEST_F(RouterProtocolTest, ALateAnswerIsNotTakenForTheNextReply) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetDevices(kSecondPort, Numbered(1)));
    ASSERT_TRUE(routers.SetFault(kSecondPort, {FaultKind::Late, 1, 2300, 2}));
    std::vector<DeviceRecord> devices;
    ASSERT_EQ(0u, state.Client().QueryRouterDevices(&devices, Loopback(), kSecondPort));  // the first send's answer
    // The second send's answer comes after the exchange; wait until it is there.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(state.Client().requestSocket.Get(), &readable);
    timeval wait{5, 0};
    ASSERT_EQ(1, ::select(0, &readable, nullptr, nullptr, &wait));
    ASSERT_TRUE(routers.SetDevices(kSecondPort, Numbered(3)));
    devices.clear();
    ASSERT_EQ(0u, state.Client().QueryRouterDevices(&devices, Loopback(), kSecondPort));
    EXPECT_EQ(3u, devices.size());
}

// --- Connections, closing, devices at a router ------------------------------

struct ConnectionsCase {
    std::uint32_t capacity;
    CommResult result;
    std::uint32_t count;  // on return
};

class ConnectionLists : public RouterProtocolTest, public testing::WithParamInterface<ConnectionsCase> {};

TEST_P(ConnectionLists, FillTheCallersArrayOnlyWhenItIsLargeEnough) {
    AddRouter(kServicePort, "Local");
    ASSERT_TRUE(routers.SetConnections(kServicePort, {Connection(1, 2, "a", "b"), Connection(44, 9, "c", "d")}));
    std::vector<ConnectionRecord> records(4);
    std::memset(records.data(), 0x5A, records.size() * sizeof(ConnectionRecord));
    std::uint32_t count = GetParam().capacity;
    EXPECT_EQ(GetParam().result, state.Client().GetConnections(records.data(), &count, nullptr, 0));  // 127.0.0.1:26214
    EXPECT_EQ(GetParam().count, count);
    if (GetParam().result != 0) {
        EXPECT_EQ(0x5A, records[0].id1) << "nothing written";
        return;
    }
    std::vector<ConnectionRecord> expected = routers.Connections(kServicePort);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(0, std::memcmp(&expected[i], &records[i], sizeof(ConnectionRecord))) << i;
    EXPECT_EQ(0x5A, records[2].id1);
}

INSTANTIATE_TEST_SUITE_P(Capacities, ConnectionLists,
                         testing::Values(ConnectionsCase{0, COMM_ERROR_MORE_DATA, 0},
                                         ConnectionsCase{1, COMM_ERROR_MORE_DATA, 1},
                                         ConnectionsCase{0x80000000u, COMM_ERROR_MORE_DATA, 0x80000000u},
                                         ConnectionsCase{2, 0, 2}, ConnectionsCase{4, 0, 2}));

TEST_F(RouterProtocolTest, CloseConnectionSendsTheLowBytesAndPassesTheRoutersResultOn) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetConnections(kSecondPort, {Connection(2, 5, "a", "b")}));
    EXPECT_EQ(0u, state.Client().CloseConnection(0x102, 0xABCD0305u, "127.0.0.1", 0x10000u | kSecondPort));
    EXPECT_EQ((Datagram{3, 0, 0, 0, 4, 2, 5}), routers.Requests().back().bytes);
    EXPECT_TRUE(routers.Connections(kSecondPort).empty());
    EXPECT_EQ(static_cast<CommResult>(ERROR_NOT_FOUND), state.Client().CloseConnection(2, 5, "127.0.0.1", kSecondPort));
    ASSERT_TRUE(routers.SetResult(kSecondPort, 0xC0DE0001u));
    EXPECT_EQ(0xC0DE0001u, state.Client().CloseConnection(2, 5, "127.0.0.1", kSecondPort));
}

TEST_F(RouterProtocolTest, AddAndRemoveDeviceAtARouter) {
    AddRouter(kSecondPort, "R");
    DeviceRecord serial = Device("", "COM1", 0);
    serial.features = 0;
    EXPECT_EQ(0u, state.Client().SendDeviceRequest(router::kAddDeviceRequest, serial, "127.0.0.1", kSecondPort));
    const Datagram sent = routers.Requests().back().bytes;
    ASSERT_EQ(43u, sent.size());
    EXPECT_EQ(39u, sent[0]);
    EXPECT_EQ(5u, sent[4]);
    EXPECT_EQ(17u, sent[9]);
    ASSERT_EQ(1u, routers.Devices(kSecondPort).size());
    EXPECT_STREQ("COM1", routers.Devices(kSecondPort)[0].address);
    EXPECT_EQ(static_cast<CommResult>(ERROR_ALREADY_EXISTS),
              state.Client().SendDeviceRequest(router::kAddDeviceRequest, serial, "127.0.0.1", kSecondPort));
    EXPECT_EQ(0u, state.Client().SendDeviceRequest(router::kRemoveDeviceRequest, serial, "127.0.0.1", kSecondPort));
    EXPECT_EQ(6u, routers.Requests().back().bytes[4]);
    EXPECT_TRUE(routers.Devices(kSecondPort).empty());
    EXPECT_EQ(static_cast<CommResult>(ERROR_FILE_NOT_FOUND),
              state.Client().SendDeviceRequest(router::kRemoveDeviceRequest, serial, "127.0.0.1", kSecondPort));
}

// Another socket on 127.0.0.1 answers every request at once, with 0 or an empty
// list; the router's own answer, 1234 or its one connection, is what counts.
TEST_F(RouterProtocolTest, RepliesAreTakenOnlyFromTheAddressAndPortAsked) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetForged(kSecondPort, true));
    ASSERT_TRUE(routers.SetResult(kSecondPort, 1234));
    ASSERT_TRUE(routers.SetConnections(kSecondPort, {Connection(1, 2, "a", "b")}));
    const DeviceRecord device = Device("n", "COM2", 1);
    std::vector<ConnectionRecord> records(4);
    std::uint32_t count = 4;
    const struct {
        const char *what;
        CommResult routers;  // the router's answer as the call reports it
        std::function<CommResult()> call;
    } calls[] = {
        {"close", 1234, [&] { return state.Client().CloseConnection(1, 2, "127.0.0.1", kSecondPort); }},
        {"add", 1234,
         [&] { return state.Client().SendDeviceRequest(router::kAddDeviceRequest, device, "127.0.0.1", kSecondPort); }},
        {"remove", 1234,
         [&] {
             return state.Client().SendDeviceRequest(router::kRemoveDeviceRequest, device, "127.0.0.1", kSecondPort);
         }},
        {"connections listed", 1, [&] {
             CommResult result = state.Client().GetConnections(records.data(), &count, "127.0.0.1", kSecondPort);
             return result == COMM_SUCCESS ? count : result;
         }},
    };
    ASSERT_TRUE(routers.SetFault(kSecondPort, {FaultKind::Late, 0, 300}));
    for (const auto &call : calls) EXPECT_EQ(call.routers, call.call()) << call.what;
    ASSERT_TRUE(routers.SetFault(kSecondPort, {FaultKind::Silent}));
    EXPECT_EQ(COMM_ERROR_WAIT_TIMEOUT, calls[0].call()) << "the forger alone";
}

struct ExchangeFailureCase {
    const char *what;
    const char *host;
    std::uint16_t port;
    RouterFault fault;
    CommResult result;
    double atMostSeconds;
};

class ExchangeFailures : public RouterProtocolTest, public testing::WithParamInterface<ExchangeFailureCase> {};

TEST_P(ExchangeFailures, NeverReportSuccessWithoutTheRoutersAnswer) {
    AddRouter(kSecondPort, "R");
    ASSERT_TRUE(routers.SetFault(kSecondPort, GetParam().fault));
    Stopwatch watch;
    EXPECT_EQ(GetParam().result, state.Client().SendDeviceRequest(router::kAddDeviceRequest, Device("n", "COM2", 1),
                                                         GetParam().host, GetParam().port))
        << GetParam().what;
    EXPECT_LT(watch.Seconds(), GetParam().atMostSeconds);
    EXPECT_TRUE(routers.Devices(kSecondPort).empty() || GetParam().fault.kind != FaultKind::None);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ExchangeFailures,
    testing::Values(
        ExchangeFailureCase{"a host name is never resolved", "localhost", kSecondPort, {}, COMM_ERROR_INVALID_ADDRESS,
                            0.5},
        ExchangeFailureCase{"never sent: port 0", "127.0.0.1", 0, {}, WSAEINVAL, 0.5},
        ExchangeFailureCase{"nobody listens", "127.0.0.1", kClosedPort, {}, COMM_ERROR_WAIT_TIMEOUT, 7.0},
        ExchangeFailureCase{"result cut short", "127.0.0.1", kSecondPort, {FaultKind::Truncate, 5, 7},
                            COMM_ERROR_WAIT_TIMEOUT, 7.0},
        ExchangeFailureCase{"larger than the buffer", "127.0.0.1", kSecondPort, {FaultKind::Oversize, 5}, WSAEMSGSIZE,
                            7.0}));

}  // namespace
