// The router and device store of CommunicatorState against the registry of the
// test's Wine prefix (HKEY_CURRENT_USER\Software\Kelvrin\Communicator) and
// simulated routers on loopback: routers added by hand and read back, merged
// behind the routers found on the network, devices under their own keys, the
// count rule, the router case of the device calls, and round trips with a
// second host program (StoreHost.exe) that shares the store.
#include "ChildProgram.h"
#include "CommunicatorState.h"
#include "HandleCount.h"
#include "Hivekey.h"
#include "Records.h"
#include "RegistryKey.h"
#include "SimulatedRouters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace routersim;

namespace {

constexpr std::uint16_t kServicePort = 26214;
constexpr std::uint16_t kSecondPort = 26300;
constexpr char kUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#0001#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
constexpr char kOtherUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#0002#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
constexpr char kThirdUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#0003#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";

std::string StoreKey(const std::string &key) { return std::string(HIVEKEY_BASE_KEY) + "\\" + key; }

RouterRecord Router(const char *name, const char *address, std::uint16_t port) {
    RouterRecord router{};
    std::strcpy(router.name, name);
    std::strcpy(router.address, address);
    router.port = port;
    return router;
}

std::string Describe(const RouterRecord &router) {
    return std::string(router.name) + "|" + router.address + "|" + std::to_string(router.port);
}

std::string Describe(const DeviceRecord &device) {
    return std::string(device.displayName) + "|" + device.address + "|" + std::to_string(device.port) + "|" +
           std::to_string(device.features);
}

template <typename Record> std::vector<std::string> Describe(const std::vector<Record> &records) {
    std::vector<std::string> described;
    for (const Record &record : records) described.push_back(Describe(record));
    return described;
}

// What a second host program sees and does: StoreHost.exe, one operation per run.
struct HostRun {
    std::vector<std::string> records;  // "device ..." or "router ..." lines
    std::string result;                // "result N COUNT"
};

HostRun RunStoreHost(const std::string &arguments) {
    ChildProgram child("StoreHost.exe");
    HostRun run;
    if (!child.Start(arguments)) {
        ADD_FAILURE() << "StoreHost.exe did not start";
        return run;
    }
    std::string line;
    while (child.WaitLine("", &line)) {
        if (line.rfind("result ", 0) == 0) {
            run.result = line;
            break;
        }
        run.records.push_back(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(0u, child.WaitExit()) << arguments;
    return run;
}

class StoreTest : public testing::Test {
protected:
    // Every case starts from a store without routers, devices or service port,
    // and with one router on the network ("Lab"), whose answer ends discovery
    // after its quiet window.
    void SetUp() override {
        ClearStore();
        ASSERT_EQ(0u, routers.Start());
        ASSERT_EQ(0u, routers.AddRouter(kServicePort, "Lab"));
        ASSERT_TRUE(state.Ready());
    }
    void TearDown() override { ClearStore(); }
    static void ClearStore() {
        for (const char *key : {"Routers", "Devices", "Corvane"}) ::RegDeleteTreeA(HKEY_CURRENT_USER, StoreKey(key).c_str());
    }

    // Registry access of the test's own, beside CHivekey.
    static LONG SetRaw(const std::string &key, const char *name, DWORD type, const void *data, DWORD size) {
        HKEY handle = nullptr;
        LONG result = ::RegCreateKeyExA(HKEY_CURRENT_USER, StoreKey(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &handle, nullptr);
        if (result != ERROR_SUCCESS) return result;
        RegistryKey owned(handle);
        return ::RegSetValueExA(handle, name, 0, type, static_cast<const BYTE *>(data), size);
    }
    static void SetText(const std::string &key, const char *name, const std::string &text) {
        ASSERT_EQ(ERROR_SUCCESS, SetRaw(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)));
    }
    static void SetNumber(const std::string &key, const char *name, DWORD value) {
        ASSERT_EQ(ERROR_SUCCESS, SetRaw(key, name, REG_DWORD, &value, sizeof(value)));
    }
    static std::string Text(const std::string &key, const char *name) {
        char text[600] = "";
        DWORD size = sizeof(text);
        if (::RegGetValueA(HKEY_CURRENT_USER, StoreKey(key).c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
            ERROR_SUCCESS)
            return "<missing>";
        return text;
    }
    static std::string Number(const std::string &key, const char *name) {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (::RegGetValueA(HKEY_CURRENT_USER, StoreKey(key).c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                           &size) != ERROR_SUCCESS)
            return "<missing>";
        return std::to_string(value);
    }
    // The names of the values (or sub keys) of a key of the store, in enumeration
    // order (Wine's registry enumerates names sorted).
    static std::vector<std::string> Names(const std::string &key, bool subKeys) {
        std::vector<std::string> names;
        HKEY handle = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, StoreKey(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return names;
        RegistryKey owned(handle);
        for (DWORD index = 0;; ++index) {
            char name[1024];
            DWORD size = sizeof(name);
            LONG result = subKeys ? ::RegEnumKeyExA(handle, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                                  : ::RegEnumValueA(handle, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (result != ERROR_SUCCESS) break;
            names.push_back(name);
        }
        return names;
    }
    static std::vector<std::string> DeviceKeys() { return Names("Devices", true); }

    std::vector<RouterRecord> ListRouters() {
        std::vector<RouterRecord> records(32);
        std::uint32_t count = static_cast<std::uint32_t>(records.size());
        EXPECT_EQ(0u, state.Routers().GetRouters(records.data(), &count));
        records.resize(count <= records.size() ? count : 0);
        return records;
    }
    std::vector<DeviceRecord> ListDevices(const char *routerHost = nullptr, std::uint32_t routerPort = 0) {
        std::vector<DeviceRecord> records(32);
        std::uint32_t count = static_cast<std::uint32_t>(records.size());
        EXPECT_EQ(0u, state.Devices().GetDevices(records.data(), &count, routerHost, routerPort));
        records.resize(count <= records.size() ? count : 0);
        return records;
    }
    CommResult Add(const DeviceRecord &device) { return state.Devices().AddDevice(&device, nullptr, 0); }
    CommResult Remove(const DeviceRecord &device) { return state.Devices().RemoveDevice(&device, nullptr, 0); }

    SimulatedRouters routers{kServicePort};
    CommunicatorState state;
};

const std::string kLab = "Lab|127.0.0.1|26214";

// --- Routers added by hand ------------------------------------------------------

TEST_F(StoreTest, AddRouterStoresHostColonPortUnderTheHostAndReplacesIt) {
    EXPECT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 26214));
    EXPECT_EQ("10.0.0.5:26214", Text("Routers", "10.0.0.5"));
    EXPECT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 0x10000u | 26215));  // the low 16 bits
    EXPECT_EQ((std::vector<std::string>{"10.0.0.5"}), Names("Routers", false));
    EXPECT_EQ("10.0.0.5:26215", Text("Routers", "10.0.0.5"));
    EXPECT_EQ(0u, state.Routers().AddRouter("LAB-PC", 1));
    EXPECT_EQ(0u, state.Routers().AddRouter("lab-pc", 2));  // value names ignore case
    EXPECT_EQ(2u, Names("Routers", false).size());
    EXPECT_EQ("lab-pc:2", Text("Routers", "LAB-PC"));
    EXPECT_EQ((std::vector<std::string>{kLab, "10.0.0.5|10.0.0.5|26215", "LAB-PC|lab-pc|2"}), Describe(ListRouters()));
}

TEST_F(StoreTest, RemoveRouterPassesTheDeleteResultOn) {
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 26214));
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.6", 26214));
    EXPECT_EQ(0u, state.Routers().RemoveRouter("10.0.0.5"));
    EXPECT_EQ(static_cast<CommResult>(ERROR_FILE_NOT_FOUND), state.Routers().RemoveRouter("10.0.0.5"));
    EXPECT_EQ((std::vector<std::string>{"10.0.0.6"}), Names("Routers", false));
    EXPECT_EQ((std::vector<std::string>{kLab, "10.0.0.6|10.0.0.6|26214"}), Describe(ListRouters()));
}

struct HostCase {
    const char *what;
    std::string host;
    bool null;
    CommResult add;
    CommResult remove;
};

class RouterHosts : public StoreTest, public testing::WithParamInterface<HostCase> {};

TEST_P(RouterHosts, ThatCannotNameOneValueAreRefusedAndTouchNothing) {
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.6", 26214));
    const char *host = GetParam().null ? nullptr : GetParam().host.c_str();
    EXPECT_EQ(GetParam().add, state.Routers().AddRouter(host, 26214)) << GetParam().what;
    EXPECT_EQ(GetParam().remove, state.Routers().RemoveRouter(host)) << GetParam().what;
    EXPECT_EQ((std::vector<std::string>{"10.0.0.6"}), Names("Routers", false));
    EXPECT_EQ((std::vector<std::string>{}), Names("Routers", true));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RouterHosts,
    testing::Values(HostCase{"null", "", true, COMM_E_POINTER, COMM_E_POINTER},
                    HostCase{"empty: the whole key", "", false, COMM_ERROR_INVALID_PARAMETER, COMM_ERROR_INVALID_PARAMETER},
                    HostCase{"a backslash: a sub key", "lab\\pc", false, COMM_ERROR_INVALID_PARAMETER,
                             COMM_ERROR_INVALID_PARAMETER},
                    HostCase{"a closing backslash", "lab\\", false, COMM_ERROR_INVALID_PARAMETER,
                             COMM_ERROR_INVALID_PARAMETER},
                    // 254 characters and ":26214" do not fit a record's 259.
                    HostCase{"value too long to be read back", std::string(254, 'h'), false,
                             COMM_ERROR_INVALID_PARAMETER, static_cast<CommResult>(ERROR_FILE_NOT_FOUND)}));

struct StoredValueCase {
    const char *what;
    DWORD type;
    std::string data;
    std::string listed;  // empty: left out
};

class StoredRouterValues : public StoreTest, public testing::WithParamInterface<StoredValueCase> {};

TEST_P(StoredRouterValues, AreListedWhenTheyReadAsTextWithAColon) {
    const std::string &data = GetParam().data;
    ASSERT_EQ(ERROR_SUCCESS, SetRaw("Routers", "Bench", GetParam().type, data.c_str(),
                                    static_cast<DWORD>(data.size() + 1)));
    ASSERT_EQ(0u, state.Routers().AddRouter("zeta", 9));  // enumerated after it either way
    std::vector<std::string> expected = {kLab};
    if (!GetParam().listed.empty()) expected.push_back(GetParam().listed);
    expected.push_back("zeta|zeta|9");
    EXPECT_EQ(expected, Describe(ListRouters())) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredRouterValues,
    testing::Values(StoredValueCase{"plain", REG_SZ, "10.0.0.7:26220", "Bench|10.0.0.7|26220"},
                    StoredValueCase{"white space around the host and after the colon", REG_SZ,
                                    " \t10.0.0.7  :  26221", "Bench|10.0.0.7|26221"},
                    StoredValueCase{"no colon", REG_SZ, "10.0.0.7", ""},
                    StoredValueCase{"not text", REG_BINARY, "10.0.0.7:1", ""},
                    StoredValueCase{"too long for 260 bytes", REG_SZ, std::string(300, 'a') + ":1", ""},
                    StoredValueCase{"a sign and trailing letters", REG_SZ, "lab:-2x", "Bench|lab|65534"}));

TEST_F(StoreTest, AValueNameTooLongForARecordDoesNotEndTheList) {
    const std::string longName(300, 'n');
    ASSERT_EQ(ERROR_SUCCESS, SetRaw("Routers", longName.c_str(), REG_SZ, "10.0.0.1:1", 11));
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.2", 2));
    EXPECT_EQ((std::vector<std::string>{kLab, "10.0.0.2|10.0.0.2|2"}), Describe(ListRouters()));
}

TEST_F(StoreTest, DiscoveredRoutersComeFirstAndWinOverStoredOnesOfTheSameAddressAndPort) {
    ASSERT_TRUE(routers.SetAdvertisedAddress(kServicePort, "Router.Lab"));
    // Enumerated in this order (the names sort as they were added).
    SetText("Routers", "a-same", "router.LAB:26214");   // the discovered one: dropped
    SetText("Routers", "b-other-port", "Router.Lab:26300");  // listed
    SetText("Routers", "c-repeat", "ROUTER.lab:26300");      // repeats b: dropped
    SetText("Routers", "d-other-host", "Router.Lab2:26214");  // listed
    EXPECT_EQ((std::vector<std::string>{"Lab|Router.Lab|26214", "b-other-port|Router.Lab|26300",
                                        "d-other-host|Router.Lab2|26214"}),
              Describe(ListRouters()));
}

TEST_F(StoreTest, WithoutRoutersKeyOrDevicesKeyTheListsAreEmpty) {
    EXPECT_EQ((std::vector<std::string>{kLab}), Describe(ListRouters()));
    EXPECT_TRUE(ListDevices().empty());
    EXPECT_TRUE(Names("", true).empty()) << "listing creates neither key";
}

// --- The count rule -------------------------------------------------------------

struct CapacityCase {
    std::uint32_t capacity;
    CommResult result;
};

class Capacities : public StoreTest, public testing::WithParamInterface<CapacityCase> {};

// Two records known; the array holds four, preset with 0x5A.
template <typename Record>
void CheckCountRule(const CapacityCase &param, CommResult result, std::uint32_t count, const std::vector<Record> &array,
                    const std::vector<Record> &expected) {
    EXPECT_EQ(param.result, result);
    EXPECT_EQ(2u, count) << "the number available";
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(array.data());
    const std::size_t written = param.result == 0 ? 2 : 0;
    for (std::size_t index = 0; index < written; ++index) {
        Record copy = expected[index];  // as written: texts with their zero, the rest the caller's
        const auto *field = reinterpret_cast<std::uint8_t *>(&copy);
        std::vector<std::uint8_t> want(field, field + sizeof(Record));
        for (std::size_t at = 0; at < sizeof(Record); ++at) {
            bool inText = at < 2 * COMM_TEXT_FIELD_SIZE;
            std::size_t fieldStart = at < COMM_TEXT_FIELD_SIZE ? 0 : COMM_TEXT_FIELD_SIZE;
            if (inText && at > fieldStart + std::strlen(reinterpret_cast<const char *>(field + fieldStart)))
                want[at] = 0x5A;
        }
        EXPECT_EQ(0, std::memcmp(want.data(), bytes + index * sizeof(Record), sizeof(Record))) << index;
    }
    for (std::size_t at = written * sizeof(Record); at < array.size() * sizeof(Record); ++at) {
        ASSERT_EQ(0x5A, bytes[at]) << "byte " << at << " was not to be written";
    }
}

TEST_P(Capacities, RoutersFillTheArrayOnlyWhenItTakesAll) {
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 26214));
    std::vector<RouterRecord> array(4);
    std::memset(array.data(), 0x5A, array.size() * sizeof(RouterRecord));
    std::uint32_t count = GetParam().capacity;
    CommResult result = state.Routers().GetRouters(array.data(), &count);
    CheckCountRule(GetParam(), result, count, array,
                   {Router("Lab", "127.0.0.1", kServicePort), Router("10.0.0.5", "10.0.0.5", 26214)});
}

TEST_P(Capacities, DevicesFillTheArrayOnlyWhenItTakesAll) {
    ASSERT_EQ(0u, Add(Device("Board", kUsbPath, 0, 7)));
    ASSERT_EQ(0u, Add(Device("Serial", "COM3", 2, 8)));
    std::vector<DeviceRecord> array(4);
    std::memset(array.data(), 0x5A, array.size() * sizeof(DeviceRecord));
    std::uint32_t count = GetParam().capacity;
    CommResult result = state.Devices().GetDevices(array.data(), &count, nullptr, 0);
    CheckCountRule(GetParam(), result, count, array, {Device("Board", kUsbPath, 0, 7), Device("Serial", "COM3", 2, 8)});
}

INSTANTIATE_TEST_SUITE_P(Counts, Capacities,
                         testing::Values(CapacityCase{0, COMM_ERROR_MORE_DATA}, CapacityCase{1, COMM_ERROR_MORE_DATA},
                                         CapacityCase{2, 0}, CapacityCase{4, 0}));

TEST_F(StoreTest, UnusablePointersGiveEPointerAndChangeNothing) {
    ASSERT_EQ(0u, Add(Device("Board", "COM1", 1)));
    EXPECT_EQ(COMM_E_POINTER, state.Routers().GetRouters(nullptr, nullptr));
    EXPECT_EQ(COMM_E_POINTER, state.Devices().GetDevices(nullptr, nullptr, nullptr, 0));
    std::uint32_t count = 5;
    EXPECT_EQ(COMM_E_POINTER, state.Devices().GetDevices(nullptr, &count, nullptr, 0));
    EXPECT_EQ(5u, count);
    count = 0;
    EXPECT_EQ(COMM_ERROR_MORE_DATA, state.Devices().GetDevices(nullptr, &count, nullptr, 0)) << "asking for the number";
    EXPECT_EQ(1u, count);
    EXPECT_EQ(COMM_E_POINTER, state.Devices().AddDevice(nullptr, nullptr, 0));
    EXPECT_EQ(COMM_E_POINTER, state.Devices().RemoveDevice(nullptr, "127.0.0.1", kSecondPort));
    EXPECT_EQ((std::vector<std::string>{"Board-COM-1"}), DeviceKeys());
}

// --- Devices of the local store -------------------------------------------------

TEST_F(StoreTest, AddDeviceWritesItsValuesUnderAKeyNamedFromNameKindAndPort) {
    ASSERT_EQ(0u, Add(Device("", kUsbPath, 0, 0xA1B2C3D4u)));
    EXPECT_EQ((std::vector<std::string>{"Anonymous-USB-0"}), DeviceKeys());
    const std::string key = "Devices\\Anonymous-USB-0";
    EXPECT_EQ("", Text(key, "DisplayName"));
    EXPECT_EQ(kUsbPath, Text(key, "Address"));
    EXPECT_EQ("0", Number(key, "Port"));
    EXPECT_EQ(std::to_string(0xA1B2C3D4u), Number(key, "Features"));
    EXPECT_EQ((std::vector<std::string>{"Address", "DisplayName", "Features", "Port"}), Names(key, false));
    std::vector<DeviceRecord> listed = ListDevices();
    ASSERT_EQ(1u, listed.size());
    DeviceRecord expected = Device("", kUsbPath, 0, 0xA1B2C3D4u);
    EXPECT_EQ(0, std::memcmp(&expected, &listed[0], sizeof(expected))) << "extra 0, texts zero-filled";
}

TEST_F(StoreTest, KeysOfTheSameNameKindAndPortGetSuffixes) {
    ASSERT_EQ(0u, Add(Device("Board", kUsbPath, 0)));
    ASSERT_EQ(0u, Add(Device("Board", kOtherUsbPath, 0)));
    ASSERT_EQ(0u, Add(Device("Board", kThirdUsbPath, 0)));
    ASSERT_EQ(0u, Add(Device("Board", "10.0.0.5", 0)));  // another kind
    // A key without a readable "Port" is not taken: the next device uses it.
    SetText("Devices\\Board-COM-1", "DisplayName", "left over");
    ASSERT_EQ(0u, Add(Device("Board", "COM1", 1)));
    EXPECT_EQ((std::vector<std::string>{"Board-COM-1", "Board-TCP-0", "Board-USB-0", "Board-USB-0_1", "Board-USB-0_2"}),
              DeviceKeys());
    EXPECT_EQ(kThirdUsbPath, Text("Devices\\Board-USB-0_2", "Address"));
    EXPECT_EQ("Board", Text("Devices\\Board-COM-1", "DisplayName"));
    EXPECT_EQ(5u, ListDevices().size());
}

TEST_F(StoreTest, ABackslashInTheDisplayNameStaysInTheNameButNotInTheKey) {
    ASSERT_EQ(0u, Add(Device("Lab\\Bench", "COM2", 2)));
    EXPECT_EQ((std::vector<std::string>{"Lab/Bench-COM-2"}), DeviceKeys());
    EXPECT_EQ((std::vector<std::string>{"Lab\\Bench|COM2|2|0"}), Describe(ListDevices()));
}

TEST_F(StoreTest, AFailedWriteIsReportedAndLeavesNoHalfDevice) {
    // A key name longer than the registry allows (255 characters).
    const CommResult result = Add(Device(std::string(259, 'n'), "COM1", 1));
    EXPECT_NE(0u, result);
    EXPECT_TRUE(DeviceKeys().empty());
    EXPECT_TRUE(ListDevices().empty());
}

// Run by store_test_cp932. On code page 932 a key name of 136 characters can
// take more than the 260 bytes an enumeration reads: such a name is passed over,
// and the devices after it are still listed, found and removed.
TEST_F(StoreTest, OnADoubleByteCodePageAKeyNameTooLongToReadHidesNoOtherDevice) {
    ASSERT_EQ(932u, ::GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    std::string longName = "M";  // and 129 hiragana letters of two bytes: listed between Alpha and Yankee
    for (int letter = 0; letter < 129; ++letter) longName += "\x82\xA0";
    const std::string longKey = "Devices\\" + longName + "-COM-2";
    SetText(longKey, "DisplayName", longName);
    SetText(longKey, "Address", "COM2");
    SetNumber(longKey, "Port", 2);
    SetNumber(longKey, "Features", 0);
    ASSERT_EQ(0u, Add(Device("Alpha", "COM1", 1)));
    ASSERT_EQ(0u, Add(Device("Yankee", "10.0.0.25", 26)));
    ASSERT_EQ(0u, Add(Device("Zulu", "10.0.0.26", 26)));
    EXPECT_EQ((std::vector<std::string>{"Alpha|COM1|1|0", "Yankee|10.0.0.25|26|0", "Zulu|10.0.0.26|26|0"}),
              Describe(ListDevices()));
    EXPECT_EQ(COMM_ERROR_ALREADY_EXISTS, Add(Device("Zulu", "10.0.0.26", 26)));
    EXPECT_EQ(0u, Remove(Device("", "10.0.0.26", 26)));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, Add(Device(longName, "COM3", 2))) << "its key could never be read back";
    EXPECT_EQ(3u, DeviceKeys().size());
}

struct DuplicateCase {
    const char *what;
    DeviceRecord device;
    CommResult result;
};

class Duplicates : public StoreTest, public testing::WithParamInterface<DuplicateCase> {};

TEST_P(Duplicates, AreRefusedWith183AndNothingWritten) {
    ASSERT_EQ(0u, Add(Device("Board", "COM1", 1, 5)));
    SetNumber("Devices\\Board-COM-1", "Port", 0x10001u);  // only the low 16 bits compare
    EXPECT_EQ(GetParam().result, Add(GetParam().device)) << GetParam().what;
    EXPECT_EQ(GetParam().result == 0 ? 2u : 1u, DeviceKeys().size());
    EXPECT_EQ("Board", Text("Devices\\Board-COM-1", "DisplayName"));
    EXPECT_EQ("5", Number("Devices\\Board-COM-1", "Features"));
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Duplicates,
    testing::Values(DuplicateCase{"same", Device("Board", "COM1", 1, 5), COMM_ERROR_ALREADY_EXISTS},
                    DuplicateCase{"address in another case, another name", Device("Other", "com1", 1, 9),
                                  COMM_ERROR_ALREADY_EXISTS},
                    DuplicateCase{"another port", Device("Board", "COM1", 2), 0},
                    DuplicateCase{"another address", Device("Board", "COM12", 1), 0}));

TEST_F(StoreTest, AStoredDeviceWithoutADisplayNameIsNoDuplicateButCanBeRemoved) {
    SetText("Devices\\Old", "Address", "COM4");
    SetNumber("Devices\\Old", "Port", 4);
    ASSERT_EQ(0u, Add(Device("New", "COM4", 4)));
    EXPECT_EQ((std::vector<std::string>{"New-COM-4", "Old"}), DeviceKeys());
    EXPECT_EQ(0u, Remove(Device("", "COM4", 4)));  // the first match only
    EXPECT_EQ((std::vector<std::string>{"Old"}), DeviceKeys());
}

struct SerialCase {
    const char *address;
    bool copied;
};

class SerialDefaults : public StoreTest, public testing::WithParamInterface<SerialCase> {};

TEST_P(SerialDefaults, AreCopiedOnlyForTheAddressCom) {
    SetNumber("Devices", "BaudRate", 115200);
    SetNumber("Devices", "Parity", 2);
    SetText("Devices", "StopBits", "1");  // not a 32-bit value: not copied
    ASSERT_EQ(0u, Add(Device("S", GetParam().address, 3)));
    const std::string key = "Devices\\S-COM-3";
    std::vector<std::string> expected = {"Address", "DisplayName", "Features", "Port"};
    if (GetParam().copied) {
        expected = {"Address", "BaudRate", "DisplayName", "Features", "Parity", "Port"};
        EXPECT_EQ("115200", Number(key, "BaudRate"));
        EXPECT_EQ("2", Number(key, "Parity"));
    }
    EXPECT_EQ(expected, Names(key, false)) << GetParam().address;
    EXPECT_EQ((std::vector<std::string>{"BaudRate", "Parity", "StopBits"}), Names("Devices", false)) << "unchanged";
}

INSTANTIATE_TEST_SUITE_P(Addresses, SerialDefaults,
                         testing::Values(SerialCase{"COM", true}, SerialCase{"com", true}, SerialCase{"COM1", false},
                                         SerialCase{"COMPUTER", false}));

TEST_F(StoreTest, RemoveDeviceDeletesTheFirstMatchWithItsSettings) {
    SetNumber("Devices", "BaudRate", 9600);
    EXPECT_EQ(static_cast<CommResult>(ERROR_FILE_NOT_FOUND), Remove(Device("", "COM", 1))) << "no Devices key";
    ASSERT_EQ(0u, Add(Device("S", "COM", 1)));
    ASSERT_EQ(0u, Add(Device("U", kUsbPath, 1)));
    EXPECT_EQ("9600", Number("Devices\\S-COM-1", "BaudRate"));
    EXPECT_EQ(static_cast<CommResult>(ERROR_FILE_NOT_FOUND), Remove(Device("S", "COM", 2))) << "another port";
    EXPECT_EQ(0u, Remove(Device("not compared", "com", 0x0001)));
    EXPECT_EQ((std::vector<std::string>{"U-USB-1"}), DeviceKeys());
    EXPECT_EQ(static_cast<CommResult>(ERROR_FILE_NOT_FOUND), Remove(Device("S", "COM", 1)));
    EXPECT_EQ((std::vector<std::string>{"BaudRate"}), Names("Devices", false));
}

class IncompleteDevices : public StoreTest, public testing::WithParamInterface<const char *> {};

TEST_P(IncompleteDevices, AreNotListed) {
    ASSERT_EQ(0u, Add(Device("A", "COM1", 1)));
    ASSERT_EQ(0u, Add(Device("B", "COM2", 2)));
    ASSERT_EQ(0u, Add(Device("C", "COM3", 3)));
    SetNumber("Devices\\C-COM-3", "Port", 0x20003u);  // listed with the low 16 bits
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, StoreKey("Devices\\B-COM-2").c_str(), 0,
                                             KEY_SET_VALUE, &key));
    RegistryKey owned(key);
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueA(key, GetParam()));
    EXPECT_EQ((std::vector<std::string>{"A|COM1|1|0", "C|COM3|3|0"}), Describe(ListDevices())) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Values, IncompleteDevices, testing::Values("Port", "Features", "DisplayName", "Address"));

// --- Devices at a router --------------------------------------------------------

struct RouterChoiceCase {
    const char *what;
    const char *host;
    std::uint32_t port;
    bool atRouter;
};

class RouterChoice : public StoreTest, public testing::WithParamInterface<RouterChoiceCase> {};

TEST_P(RouterChoice, TakesTheRouterOnlyWithAHostAndAPortOfNonZeroLowBits) {
    ASSERT_EQ(0u, routers.AddRouter(kSecondPort, "Second"));
    const DeviceRecord device = Device("Remote", "COM7", 7, 0x77);
    EXPECT_EQ(0u, state.Devices().AddDevice(&device, GetParam().host, GetParam().port)) << GetParam().what;
    EXPECT_EQ(GetParam().atRouter ? 1u : 0u, routers.Devices(kSecondPort).size());
    EXPECT_EQ(GetParam().atRouter ? 0u : 1u, DeviceKeys().size());
    std::vector<DeviceRecord> listed = ListDevices(GetParam().host, GetParam().port);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ("Remote|COM7|7|119", Describe(listed[0]));
    EXPECT_EQ(0u, state.Devices().RemoveDevice(&device, GetParam().host, GetParam().port));
    EXPECT_TRUE(routers.Devices(kSecondPort).empty());
    EXPECT_TRUE(DeviceKeys().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RouterChoice,
    testing::Values(RouterChoiceCase{"a router", "127.0.0.1", kSecondPort, true},
                    RouterChoiceCase{"low bits of the port", "127.0.0.1", 0x10000u | kSecondPort, true},
                    RouterChoiceCase{"port 65536: local", "127.0.0.1", 0x10000u, false},
                    RouterChoiceCase{"no host: local", nullptr, kSecondPort, false},
                    RouterChoiceCase{"empty host: local", "", kSecondPort, false}));

TEST_F(StoreTest, GetDevicesLooksTheRouterHostUpByName) {
    ASSERT_EQ(0u, routers.AddRouter(kSecondPort, "Second"));
    ASSERT_TRUE(routers.SetDevices(kSecondPort, {Device("R1", "COM1", 1, 1), Device("R2", "COM2", 2, 2)}));
    EXPECT_EQ((std::vector<std::string>{"R1|COM1|1|1", "R2|COM2|2|2"}), Describe(ListDevices("localhost", kSecondPort)));
}

struct RouterFailureCase {
    const char *what;
    const char *host;
    CommResult getDevices;
    CommResult addDevice;
};

class RouterFailures : public StoreTest, public testing::WithParamInterface<RouterFailureCase> {};

TEST_P(RouterFailures, LeaveTheCountAsItWasAndWriteNothing) {
    ASSERT_EQ(0u, routers.AddRouter(kSecondPort, "Second"));
    std::vector<DeviceRecord> records(4);
    std::uint32_t count = 4;
    EXPECT_EQ(GetParam().getDevices, state.Devices().GetDevices(records.data(), &count, GetParam().host, kSecondPort))
        << GetParam().what;
    EXPECT_EQ(GetParam().getDevices == 0 ? 0u : 4u, count) << "the router has no devices";
    const DeviceRecord device = Device("Remote", "COM7", 7);
    EXPECT_EQ(GetParam().addDevice, state.Devices().AddDevice(&device, GetParam().host, kSecondPort))
        << GetParam().what;
    EXPECT_TRUE(routers.Devices(kSecondPort).empty());
    EXPECT_TRUE(DeviceKeys().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RouterFailures,
    testing::Values(RouterFailureCase{"a name that does not resolve", "no-such-router.invalid",
                                      COMM_ERROR_INVALID_ADDRESS, COMM_ERROR_INVALID_ADDRESS},
                    // Adding takes dotted addresses only; listing looks names up.
                    RouterFailureCase{"a name adding does not look up", "localhost", 0, COMM_ERROR_INVALID_ADDRESS}));

TEST_F(StoreTest, EveryKeyOpenedIsClosedOnEveryPath) {
    const DeviceRecord device = Device("Board", "COM", 1);
    std::vector<DeviceRecord> records(1);
    auto round = [&] {
        ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 26214));
        EXPECT_EQ(2u, ListRouters().size());
        EXPECT_EQ(0u, Add(device));
        EXPECT_EQ(COMM_ERROR_ALREADY_EXISTS, Add(device));                    // returns mid-enumeration
        EXPECT_EQ(COMM_ERROR_FILE_NOT_FOUND, Remove(Device("", "COM9", 9)));  // enumerates to the end
        std::uint32_t count = 0;
        EXPECT_EQ(COMM_ERROR_MORE_DATA, state.Devices().GetDevices(records.data(), &count, nullptr, 0));
        EXPECT_EQ(0u, Remove(device));  // returns mid-enumeration
        EXPECT_EQ(0u, state.Routers().RemoveRouter("10.0.0.5"));
    };
    round();  // the system's own first-use handles (the current user's root key, sockets)
    const DWORD before = CountProcessHandles();
    // The probe sees an open registry key as a handle of the process.
    HKEY probe = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, HIVEKEY_BASE_KEY, 0, KEY_READ, &probe));
    EXPECT_EQ(before + 1, CountProcessHandles());
    ::RegCloseKey(probe);
    ASSERT_EQ(before, CountProcessHandles());
    for (int repeat = 0; repeat < 3; ++repeat) round();
    EXPECT_EQ(before, CountProcessHandles());
}

// --- Two host programs, one store -----------------------------------------------

TEST_F(StoreTest, DevicesAddedListedAndRemovedAcrossTwoProcesses) {
    ASSERT_EQ(0u, Add(Device("Mine", "COM5", 5, 50)));
    HostRun run = RunStoreHost("list-devices");
    EXPECT_EQ("result 0 1", run.result);
    EXPECT_EQ((std::vector<std::string>{"Mine|COM5|5|50"}), run.records);

    EXPECT_EQ("result 0 0", RunStoreHost("add-device \"Theirs\" \"com6\" 6 60").result);
    EXPECT_EQ("result 183 0", RunStoreHost("add-device \"Again\" \"COM5\" 5 0").result);
    EXPECT_EQ((std::vector<std::string>{"Mine|COM5|5|50", "Theirs|com6|6|60"}), Describe(ListDevices()));

    EXPECT_EQ("result 0 0", RunStoreHost("remove-device COM5 5").result);
    EXPECT_EQ((std::vector<std::string>{"Theirs|com6|6|60"}), Describe(ListDevices()));
    EXPECT_EQ(0u, Remove(Device("", "COM6", 6)));
    run = RunStoreHost("list-devices");
    EXPECT_EQ("result 0 0", run.result);
    EXPECT_TRUE(run.records.empty());
}

TEST_F(StoreTest, RoutersAddedListedAndRemovedAcrossTwoProcesses) {
    ASSERT_EQ(0u, state.Routers().AddRouter("10.0.0.5", 26214));
    EXPECT_EQ("result 0 0", RunStoreHost("add-router bench-pc 26300").result);
    HostRun run = RunStoreHost("list-routers");
    EXPECT_EQ("result 0 3", run.result);
    EXPECT_EQ((std::vector<std::string>{kLab, "10.0.0.5|10.0.0.5|26214", "bench-pc|bench-pc|26300"}), run.records);
    EXPECT_EQ("result 0 0", RunStoreHost("remove-router 10.0.0.5").result);
    EXPECT_EQ("result 2 0", RunStoreHost("remove-router 10.0.0.5").result);
    EXPECT_EQ((std::vector<std::string>{kLab, "bench-pc|bench-pc|26300"}), Describe(ListRouters()));
}

}  // namespace
