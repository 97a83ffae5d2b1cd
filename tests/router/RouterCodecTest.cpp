// The router protocol's datagrams against hand-written bytes: the requests byte
// for byte, and replies read only within the bytes received.
#include "NoticeRules.h"
#include "RouterCodec.h"
#include "RouterLists.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace router;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little builders for hand-written datagrams.
void Le16(Bytes &bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Le32(Bytes &bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void Text(Bytes &bytes, const std::string &text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

Bytes Encoded(const Request &request) { return Bytes(request.bytes, request.bytes + request.size); }

DeviceRecord Device(const std::string &name, const std::string &address, std::uint16_t port, std::uint32_t features) {
    DeviceRecord device{};
    std::memcpy(device.displayName, name.data(), name.size());
    std::memcpy(device.address, address.data(), address.size());
    device.port = port;
    device.extra = 0xEEEE;  // never sent
    device.features = features;
    return device;
}

class RouterCodecTest : public testing::Test {};

// --- Requests ---------------------------------------------------------------

struct PlainCase {
    RequestType type;
    Bytes bytes;
};

class PlainRequests : public testing::TestWithParam<PlainCase> {};

TEST_P(PlainRequests, AreFiveBytes) { EXPECT_EQ(GetParam().bytes, Encoded(EncodePlainRequest(GetParam().type))); }

INSTANTIATE_TEST_SUITE_P(Types, PlainRequests,
                         testing::Values(PlainCase{kDiscoveryRequest, {0x01, 0x00, 0x00, 0x00, 0x02}},
                                         PlainCase{kDeviceListRequest, {0x01, 0x00, 0x00, 0x00, 0x01}},
                                         PlainCase{kConnectionListRequest, {0x01, 0x00, 0x00, 0x00, 0x03}}));

TEST_F(RouterCodecTest, CloseConnectionRequestCarriesTheLowBytesOfTheIdentifiers) {
    EXPECT_EQ((Bytes{0x03, 0x00, 0x00, 0x00, 0x04, 0x02, 0x05}), Encoded(EncodeCloseConnectionRequest(2, 5)));
    EXPECT_EQ((Bytes{0x03, 0x00, 0x00, 0x00, 0x04, 0xFF, 0x02}),
              Encoded(EncodeCloseConnectionRequest(0x1FF, 0xABCD0302u)));
}

TEST_F(RouterCodecTest, AddDeviceRequestForAnUnnamedSerialPort) {
    const Bytes expected = {
        0x27, 0x00, 0x00, 0x00,                          // length 39
        0x05,                                            // add device
        0x10, 0x00, 0x00, 0x00,                          // display name at 16 (byte 21)
        0x11, 0x00, 0x00, 0x00,                          // address at 17 (byte 22)
        0x00, 0x00, 0x00, 0x00,                          // port, then 0
        0x00, 0x00, 0x00, 0x00,                          // features
        0x00,                                            // ""
        'C',  'O',  'M',  '1',  0x00,                    // "COM1"
        0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes encoded = Encoded(EncodeDeviceRequest(kAddDeviceRequest, Device("", "COM1", 0, 0)));
    EXPECT_EQ(43u, encoded.size());
    EXPECT_EQ(expected, encoded);
}

TEST_F(RouterCodecTest, RemoveDeviceRequestWithNameAndNumbers) {
    Bytes expected;
    Le32(expected, 35 + 5 + 8);
    expected.push_back(0x06);
    Le32(expected, 16);
    Le32(expected, 17 + 5);
    Le16(expected, 0x1234);
    Le16(expected, 0);
    Le32(expected, 0xAABBCCDDu);
    Text(expected, "Board");
    Text(expected, "10.0.0.9");
    expected.resize(expected.size() + 16, 0);
    EXPECT_EQ(expected,
              Encoded(EncodeDeviceRequest(kRemoveDeviceRequest, Device("Board", "10.0.0.9", 0x1234, 0xAABBCCDDu))));
}

TEST_F(RouterCodecTest, DeviceRequestCutsUnterminatedFieldsAt259Characters) {
    DeviceRecord device{};
    std::memset(device.displayName, 'n', sizeof(device.displayName));
    std::memset(device.address, 'a', sizeof(device.address));
    Request request = EncodeDeviceRequest(kAddDeviceRequest, device);
    ASSERT_EQ(kMaxDeviceRequestSize, request.size);
    EXPECT_EQ(request.size - 4, ReadLe32(request.bytes));
    EXPECT_EQ(0, request.bytes[21 + 259]);
    EXPECT_EQ(17u + 259, ReadLe32(request.bytes + 9));
    EXPECT_EQ('a', request.bytes[5 + 17 + 259]);
    EXPECT_EQ(0, request.bytes[21 + 260 + 259]);
}

// --- Texts ------------------------------------------------------------------

struct TextCase {
    const char *what;
    Bytes datagram;
    std::uint64_t offset;
    std::string expected;
};

class WireTexts : public testing::TestWithParam<TextCase> {};

TEST_P(WireTexts, AreCopiedWithinTheDatagramAndTheField) {
    char field[COMM_TEXT_FIELD_SIZE];
    std::memset(field, 'x', sizeof(field));
    CopyWireText(GetParam().datagram.data(), GetParam().datagram.size(), GetParam().offset, field);
    EXPECT_EQ(GetParam().expected, std::string(field)) << GetParam().what;
}

Bytes Repeated(char c, std::size_t count, bool terminated) {
    Bytes bytes(count, static_cast<std::uint8_t>(c));
    if (terminated) bytes.push_back(0);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WireTexts,
    testing::Values(TextCase{"terminated", {'a', 'b', 0, 'c'}, 0, "ab"},
                    TextCase{"unterminated at the end", {'a', 'b', 'c'}, 1, "bc"},
                    TextCase{"offset at the end", {'a', 'b'}, 2, ""},
                    TextCase{"offset past the end", {'a', 'b'}, 3, ""},
                    TextCase{"offset beyond 32 bits", {'a'}, 0x100000000ull, ""},
                    TextCase{"259 characters", Repeated('t', 259, true), 0, std::string(259, 't')},
                    TextCase{"longer than the field", Repeated('t', 400, true), 0, std::string(259, 't')}));

// --- Replies ----------------------------------------------------------------

Bytes DiscoveryReply(std::uint16_t port, const std::string &name, const std::string &address) {
    Bytes bytes;
    Le32(bytes, 522);
    Le16(bytes, port);
    Bytes field(260, 0);
    std::memcpy(field.data(), name.data(), std::min<std::size_t>(name.size(), 260));
    bytes.insert(bytes.end(), field.begin(), field.end());
    std::fill(field.begin(), field.end(), 0);
    std::memcpy(field.data(), address.data(), std::min<std::size_t>(address.size(), 260));
    bytes.insert(bytes.end(), field.begin(), field.end());
    return bytes;
}

TEST_F(RouterCodecTest, DiscoveryReplyGivesPortNameAndAddress) {
    Bytes reply = DiscoveryReply(26214, "Lab-Router", "10.1.2.3");
    ASSERT_EQ(526u, reply.size());
    RouterRecord router;
    std::memset(&router, 'x', sizeof(router));
    ASSERT_TRUE(DecodeDiscoveryReply(reply.data(), reply.size(), &router));
    EXPECT_EQ(26214, router.port);
    EXPECT_STREQ("Lab-Router", router.name);
    EXPECT_STREQ("10.1.2.3", router.address);
    EXPECT_EQ(0, router.name[200]) << "built from all zero";
}

TEST_F(RouterCodecTest, DiscoveryReplyFieldsAreCutAtTheirLimitAndAtTheEnd) {
    Bytes reply = DiscoveryReply(1, std::string(260, 'n'), std::string(260, 'a'));  // no NUL in either field
    RouterRecord router;
    ASSERT_TRUE(DecodeDiscoveryReply(reply.data(), reply.size(), &router));
    EXPECT_EQ(std::string(259, 'n'), router.name);
    EXPECT_EQ(std::string(259, 'a'), router.address);

    ASSERT_TRUE(DecodeDiscoveryReply(reply.data(), 10, &router));
    EXPECT_EQ("nnnn", std::string(router.name));
    EXPECT_EQ("", std::string(router.address));

    ASSERT_TRUE(DecodeDiscoveryReply(reply.data(), 6, &router));
    EXPECT_EQ(1, router.port);
    EXPECT_STREQ("", router.name);
    EXPECT_FALSE(DecodeDiscoveryReply(reply.data(), 5, &router)) << "too short for the port";
    EXPECT_FALSE(DecodeDiscoveryReply(reply.data(), 0, &router));
}

TEST_F(RouterCodecTest, DiscoveryTakesTheFirstAnswerOfEachSenderUpTo256) {
    const struct {
        std::uint32_t address;
        std::uint16_t port;
        bool taken;
    } answers[] = {{1, 100, true}, {1, 100, false}, {1, 101, true}, {2, 100, true}, {2, 101, true}, {1, 101, false}};
    routerlist::DiscoveryAnswers discovery;
    const RouterRecord router{};
    for (const auto &answer : answers) {
        EXPECT_EQ(answer.taken, discovery.Take(answer.address, answer.port, router))
            << answer.address << ":" << answer.port;
    }
    for (std::uint32_t address = 3; discovery.Routers().size() < routerlist::kMaxDiscoveredRouters; ++address)
        ASSERT_TRUE(discovery.Take(address, 1, router));
    EXPECT_FALSE(discovery.Take(9999, 1, router)) << "full";
    EXPECT_EQ(256u, discovery.Routers().size());
}

// Addresses as they go on the wire: the first byte first.
std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof(address));
    return address;
}

TEST_F(RouterCodecTest, TheDialogTakesNoticesOfListedRoutersAndOfThisComputersServiceOnly) {
    const notices::AcceptedSenders accepted({{Address(127, 0, 0, 1), 26300}, {Address(10, 1, 1, 1), 26214}},
                                            {Address(192, 168, 5, 7)}, 26214);
    const struct {
        const char *what;
        notices::Endpoint sender;
        bool accepted;
    } senders[] = {
        {"a listed router", {Address(127, 0, 0, 1), 26300}, true},
        {"a listed router elsewhere", {Address(10, 1, 1, 1), 26214}, true},
        {"a listed router's address, another port", {Address(127, 0, 0, 1), 40000}, false},
        {"the service on loopback", {Address(127, 0, 0, 1), 26214}, true},
        {"the service on another loopback address", {Address(127, 0, 0, 9), 26214}, true},
        {"the service on this computer's address", {Address(192, 168, 5, 7), 26214}, true},
        {"this computer, another port", {Address(192, 168, 5, 7), 26300}, false},
        {"a stranger on the service port", {Address(10, 1, 1, 2), 26214}, false},
    };
    for (const auto &sender : senders) EXPECT_EQ(sender.accepted, accepted.Accepts(sender.sender)) << sender.what;
}

TEST_F(RouterCodecTest, TheDialogRefreshesAtMostOnceASecondAfterTheLastRefreshEnded) {
    notices::RefreshPacer pacer;
    EXPECT_EQ(0u, pacer.WaitMs(5000)) << "none ran yet";
    const struct {
        std::uint32_t ended, now, wait;
    } steps[] = {{5000, 5000, 1000}, {5000, 5400, 600}, {5000, 6000, 0}, {5000, 90000, 0},
                 {0xFFFFFF00u, 0x100, 488}};  // the tick count wrapped
    for (const auto &step : steps) {
        pacer.Ended(step.ended);
        EXPECT_EQ(step.wait, pacer.WaitMs(step.now)) << step.ended << " " << step.now;
    }
}

// A device list with entries (name offset, address offset, port, extra, features)
// and the texts after them, offsets counted from byte 4.
struct DeviceEntry {
    std::string name;
    std::string address;
    std::uint16_t port;
    std::uint16_t extra;
    std::uint32_t features;
};

Bytes DeviceList(const std::vector<DeviceEntry> &entries, std::uint8_t claimed) {
    Bytes bytes;
    Le32(bytes, 0);
    bytes.push_back(claimed);
    std::size_t textsAt = 5 + 16 * entries.size();
    Bytes texts;
    for (const DeviceEntry &entry : entries) {
        Le32(bytes, static_cast<std::uint32_t>(textsAt + texts.size() - 4));
        Text(texts, entry.name);
        Le32(bytes, static_cast<std::uint32_t>(textsAt + texts.size() - 4));
        Text(texts, entry.address);
        Le16(bytes, entry.port);
        Le16(bytes, entry.extra);
        Le32(bytes, entry.features);
    }
    bytes.insert(bytes.end(), texts.begin(), texts.end());
    return bytes;
}

TEST_F(RouterCodecTest, DeviceListEntriesBecomeRecordsInOrder) {
    Bytes reply = DeviceList({{"Board A", "USB-1", 7, 0x0102, 0xCAFEF00Du}, {"", "COM3", 0, 0, 0}}, 2);
    std::vector<DeviceRecord> devices(1);  // appended after what is there
    AppendDeviceList(reply.data(), reply.size(), &devices);
    ASSERT_EQ(3u, devices.size());
    EXPECT_STREQ("Board A", devices[1].displayName);
    EXPECT_STREQ("USB-1", devices[1].address);
    EXPECT_EQ(7, devices[1].port);
    EXPECT_EQ(0x0102, devices[1].extra);
    EXPECT_EQ(0xCAFEF00Du, devices[1].features);
    EXPECT_STREQ("", devices[2].displayName);
    EXPECT_STREQ("COM3", devices[2].address);
}

struct CountCase {
    const char *what;
    Bytes datagram;
    std::size_t expected;
};

class DeviceListCounts : public testing::TestWithParam<CountCase> {};

TEST_P(DeviceListCounts, OnlyEntriesWhollyInsideAreRead) {
    EXPECT_EQ(GetParam().expected, DeviceListEntryCount(GetParam().datagram.data(), GetParam().datagram.size()))
        << GetParam().what;
}

Bytes Truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes NoReplyMarker() {
    Bytes bytes = DeviceList({{"a", "b", 1, 0, 0}}, 1);
    bytes[0] = bytes[1] = bytes[2] = bytes[3] = 0xFF;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceListCounts,
    testing::Values(CountCase{"empty list", DeviceList({}, 0), 0},
                    CountCase{"two entries", DeviceList({{"a", "b", 1, 0, 0}, {"c", "d", 2, 0, 0}}, 2), 2},
                    CountCase{"count larger than the entries sent", Truncated(DeviceList({{"a", "b", 1, 0, 0}}, 1), 21),
                              1},
                    CountCase{"claims 255 with one entry", Truncated(DeviceList({{"a", "b", 1, 0, 0}}, 255), 21), 1},
                    CountCase{"entry cut short", Truncated(DeviceList({{"a", "b", 1, 0, 0}}, 1), 20), 0},
                    CountCase{"no count byte", Bytes{0, 0, 0, 0}, 0}, CountCase{"nothing", Bytes{}, 0},
                    CountCase{"first four bytes all ones", NoReplyMarker(), 0}));

TEST_F(RouterCodecTest, DeviceListTextOffsetsOutsideGiveEmptyTexts) {
    Bytes reply = DeviceList({{"name", "address", 1, 0, 0}}, 1);
    WriteLe32(reply.data() + 5, static_cast<std::uint32_t>(reply.size()));  // one past the end, from byte 4
    WriteLe32(reply.data() + 9, 0xFFFFFFFFu);
    DeviceRecord device = DecodeDeviceListEntry(reply.data(), reply.size(), 0);
    EXPECT_STREQ("", device.displayName);
    EXPECT_STREQ("", device.address);
    EXPECT_EQ(1, device.port);
}

Bytes ConnectionList() {
    // One entry: ids 9 and 300's low byte, endpoint B "RouterB"/"10.0.0.2":4000,
    // endpoint A "Host"/"10.0.0.1":5000.
    Bytes bytes;
    Le32(bytes, 0);
    bytes.push_back(1);
    std::uint32_t texts = 5 + 22 - 4;
    bytes.push_back(9);
    bytes.push_back(44);
    Le32(bytes, texts);       // nameB
    Le32(bytes, texts + 8);   // addressB
    Le16(bytes, 4000);
    Le32(bytes, texts + 17);  // nameA
    Le32(bytes, texts + 22);  // addressA
    Le16(bytes, 5000);
    Text(bytes, "RouterB");
    Text(bytes, "10.0.0.2");
    Text(bytes, "Host");
    Text(bytes, "10.0.0.1");
    return bytes;
}

TEST_F(RouterCodecTest, ConnectionListEntriesMapBothEndpoints) {
    Bytes reply = ConnectionList();
    ASSERT_EQ(1u, ConnectionListEntryCount(reply.data(), reply.size()));
    ConnectionRecord connection = DecodeConnectionListEntry(reply.data(), reply.size(), 0);
    EXPECT_EQ(9, connection.id1);
    EXPECT_EQ(44, connection.id2);
    EXPECT_STREQ("RouterB", connection.nameB);
    EXPECT_STREQ("10.0.0.2", connection.addressB);
    EXPECT_EQ(4000, connection.portB);
    EXPECT_STREQ("Host", connection.nameA);
    EXPECT_STREQ("10.0.0.1", connection.addressA);
    EXPECT_EQ(5000, connection.portA);
    EXPECT_EQ(0u, ConnectionListEntryCount(reply.data(), 26)) << "the entry is cut short";
    EXPECT_EQ(0u, ConnectionListEntryCount(reply.data(), 4));
}

}  // namespace
