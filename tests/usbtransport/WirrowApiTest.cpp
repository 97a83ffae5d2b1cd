// The Comm API's contract around the link: handle checks, options and their
// checks, opening and closing, and the calls that need a running link.
#include "LinkTestSupport.h"
#include "ProtectedPage.h"
#include <cstring>
#include <vector>

TEST(WirrowHandles, BadHandlesGiveSixAndSetTheLastError) {
    ASSERT_EQ(0u, CommStartup());
    std::vector<uint8_t> untagged(64, 0x5A);
    ProtectedPage unreadable(PAGE_NOACCESS);
    const HCOMM bad[] = {nullptr, reinterpret_cast<HCOMM>(~uintptr_t(0)), reinterpret_cast<HCOMM>(uintptr_t(0xFFFFFFFFu)),
                         untagged.data(), unreadable.Base(), reinterpret_cast<HCOMM>(uintptr_t(16)),
                         reinterpret_cast<HCOMM>(uintptr_t(0x12345678))};
    for (HCOMM handle : bad) {
        uint32_t value = 0;
        uint32_t length = 4;
        uint8_t buffer[4];
        const uint8_t sub = 1;
        ::SetLastError(0);
        EXPECT_EQ(6u, CommGetOption(handle, COMM_OPT_MAX_PAYLOAD, &value));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommSetOption(handle, COMM_OPT_FILTER, &value));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommConnect(handle, 'B', &sub, nullptr, nullptr));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommSendData(handle, buffer, 4, 'B', 1));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommReceiveData(handle, buffer, &length, nullptr, nullptr));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommDisconnect(handle));
        EXPECT_EQ(6u, ::GetLastError());
        ::SetLastError(0);
        EXPECT_EQ(6u, CommClose(handle));
        EXPECT_EQ(6u, ::GetLastError());
    }
    CommCleanup();
}

TEST_F(BoardLinkTest, HandleCarriesTheTagAfterTheVtablePointer) {
    uint32_t tag = 0;
    std::memcpy(&tag, static_cast<const uint8_t *>(handle_) + sizeof(void *), sizeof(tag));
    EXPECT_EQ(0x00425355u, tag);
    EXPECT_EQ(0, std::memcmp(static_cast<const uint8_t *>(handle_) + sizeof(void *), "USB", 4));
}

TEST_F(BoardLinkTest, DefaultsBeforeConnecting) {
    EXPECT_EQ(16384u, Option<uint32_t>(COMM_OPT_MAX_PAYLOAD));
    EXPECT_EQ(16u, Option<uint32_t>(COMM_OPT_HEADER_SIZE));
    EXPECT_EQ(16400u, Option<uint32_t>(COMM_OPT_MAX_PACKET));
    EXPECT_EQ(64u, Option<uint32_t>(COMM_OPT_RING_SLOTS));
    EXPECT_EQ(0x58, Option<uint8_t>(COMM_OPT_CHANNEL));
    EXPECT_EQ(0xFF, Option<uint8_t>(COMM_OPT_SUBCHANNEL));
    EXPECT_EQ(1u, Option<uint32_t>(COMM_OPT_FILTER));
    EXPECT_EQ(1000u, Option<uint32_t>(COMM_OPT_PACKET_TIMEOUT));
    EXPECT_EQ(3000u, Option<uint32_t>(COMM_OPT_REPLY_TIMEOUT));
    EXPECT_EQ(6u, Option<uint32_t>(COMM_OPT_ATTEMPTS));
    EXPECT_EQ(0u, Option<uint32_t>(COMM_OPT_NO_TIMEOUTS));
    EXPECT_EQ(0xFFFFFFFFu, Option<uint32_t>(COMM_OPT_SPARE_A));
    EXPECT_EQ(10u, Option<uint32_t>(COMM_OPT_SPARE_B));
    EXPECT_EQ(0u, Option<uint32_t>(COMM_OPT_HOST_ORDER));
}

TEST_F(BoardLinkTest, ByteOptionsWriteExactlyOneByte) {
    uint8_t bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    ASSERT_EQ(0u, CommGetOption(handle_, COMM_OPT_CHANNEL, bytes));
    EXPECT_EQ(0x58, bytes[0]);
    EXPECT_EQ(0xAA, bytes[1]);
    EXPECT_EQ(0xAA, bytes[3]);
}

TEST_F(BoardLinkTest, UnknownAndReadOnlyIdentifiers) {
    uint32_t value = 1;
    for (uint32_t id : {0u, 8u, 9u, 17u, 0xFFFFFFFFu}) {
        EXPECT_EQ(87u, CommGetOption(handle_, id, &value)) << id;
        EXPECT_EQ(87u, CommSetOption(handle_, id, &value)) << id;
    }
    for (uint32_t id : {1u, 2u, 3u, 10u, 11u, 12u, 13u, 16u}) EXPECT_EQ(87u, CommSetOption(handle_, id, &value)) << id;
}

TEST_F(BoardLinkTest, WritableOptionsAreStored) {
    const uint32_t five = 5, slots = 3, spareA = 77, spareB = 0;
    const uint8_t channel = 'Q', subchannel = 9;
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_FILTER, &five));
    EXPECT_EQ(1u, Option<uint32_t>(COMM_OPT_FILTER));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &slots));
    EXPECT_EQ(3u, Option<uint32_t>(COMM_OPT_RING_SLOTS));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_SPARE_A, &spareA));
    EXPECT_EQ(77u, Option<uint32_t>(COMM_OPT_SPARE_A));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_SPARE_B, &spareB));
    EXPECT_EQ(0u, Option<uint32_t>(COMM_OPT_SPARE_B));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_CHANNEL, &channel));
    EXPECT_EQ('Q', Option<uint8_t>(COMM_OPT_CHANNEL));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_SUBCHANNEL, &subchannel));
    EXPECT_EQ(9, Option<uint8_t>(COMM_OPT_SUBCHANNEL));
}

TEST_F(BoardLinkTest, GetOptionChecksInOrder) {
    ProtectedPage unwritable(PAGE_NOACCESS);
    EXPECT_EQ(COMM_E_POINTER, CommGetOption(handle_, COMM_OPT_MAX_PAYLOAD, nullptr));
    EXPECT_EQ(COMM_E_POINTER, CommGetOption(handle_, 9, nullptr));  // null before unknown
    EXPECT_EQ(87u, CommGetOption(handle_, 9, unwritable.Base()));     // unknown before the width check
    EXPECT_EQ(COMM_E_POINTER, CommGetOption(handle_, COMM_OPT_MAX_PAYLOAD, unwritable.Base()));
    // A read-only page cannot take the value either.
    void *readOnly = ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    EXPECT_EQ(COMM_E_POINTER, CommGetOption(handle_, COMM_OPT_CHANNEL, readOnly));
    ::VirtualFree(readOnly, 0, MEM_RELEASE);
}

TEST_F(BoardLinkTest, SetOptionChecksInOrder) {
    ProtectedPage unreadable(PAGE_NOACCESS);
    EXPECT_EQ(COMM_E_POINTER, CommSetOption(handle_, 9, nullptr));                  // null first
    EXPECT_EQ(87u, CommSetOption(handle_, 9, unreadable.Base()));                    // unknown before readability
    EXPECT_EQ(COMM_E_POINTER, CommSetOption(handle_, COMM_OPT_FILTER, unreadable.Base()));
    ConnectRunning();
    const uint32_t slots = 2;
    EXPECT_EQ(COMM_E_POINTER, CommSetOption(handle_, COMM_OPT_RING_SLOTS, nullptr));
    EXPECT_EQ(1230u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &slots));          // connected before unknown
    EXPECT_EQ(1230u, CommSetOption(handle_, 9, &slots));
    EXPECT_EQ(1230u, CommSetOption(handle_, COMM_OPT_MAX_PAYLOAD, &slots));
    EXPECT_EQ(64u, Option<uint32_t>(COMM_OPT_RING_SLOTS));
    // Read options still answer while running.
    EXPECT_EQ(16u, Option<uint32_t>(COMM_OPT_HEADER_SIZE));
    EXPECT_EQ(16400u, Option<uint32_t>(COMM_OPT_MAX_PACKET));
}

TEST_F(BoardLinkTest, DataCallsNeedARunningLink) {
    uint8_t buffer[8] = {};
    uint32_t length = sizeof(buffer);
    EXPECT_EQ(1167u, CommSendData(handle_, buffer, sizeof(buffer), 'B', 1));
    EXPECT_EQ(1167u, CommReceiveData(handle_, buffer, &length, nullptr, nullptr));
    EXPECT_EQ(0u, CommSendData(handle_, nullptr, 0, 'B', 1));  // nothing to send
}

TEST_F(BoardLinkTest, DataCallPointerChecks) {
    ProtectedPage page(PAGE_NOACCESS);
    ConnectRunning();
    uint8_t buffer[8] = {};
    uint32_t length = sizeof(buffer);
    EXPECT_EQ(0u, CommSendData(handle_, nullptr, 0, 'B', 1));
    EXPECT_EQ(COMM_E_POINTER, CommSendData(handle_, nullptr, 4, 'B', 1));
    EXPECT_EQ(COMM_E_POINTER, CommSendData(handle_, page.Base(), 4, 'B', 1));
    EXPECT_EQ(COMM_E_POINTER, CommReceiveData(handle_, nullptr, &length, nullptr, nullptr));
    EXPECT_EQ(COMM_E_POINTER, CommReceiveData(handle_, buffer, nullptr, nullptr, nullptr));
    EXPECT_EQ(COMM_E_POINTER, CommReceiveData(handle_, page.Base(), &length, nullptr, nullptr));
    // The board saw none of it: the next thing it reads is a real message.
    AsyncCall send([&] { return CommSendData(handle_, "ok", 2, 'B', 1); });
    wirrow::LinkHeader header{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(Board().ReadPacket(header, payload));
    EXPECT_EQ(std::vector<uint8_t>({'o', 'k'}), payload);
    ASSERT_TRUE(Board().WriteHeader(Board().Header('a', 'B', 1, 0xFFFFFFFFu, 0)));
    ASSERT_TRUE(send.Finished());
    EXPECT_EQ(0u, send.Result());
}

TEST_F(BoardLinkTest, OpeningTheSamePathAgainGivesTheSameHandle) {
    HCOMM again = nullptr;
    ::SetLastError(0);
    ASSERT_EQ(0u, CommOpen(Board().Path().c_str(), 0, &again, nullptr, 0));
    EXPECT_EQ(183u, ::GetLastError());
    EXPECT_EQ(handle_, again);
}

TEST_F(BoardLinkTest, OpenChecksItsOutPointer) {
    EXPECT_EQ(COMM_E_POINTER, CommOpen(Board().Path().c_str(), 0, nullptr, nullptr, 0));
}

TEST(WirrowOpen, MissingDeviceStoresZeroAndReportsThePlatformError) {
    ASSERT_EQ(0u, CommStartup());
    HCOMM handle = reinterpret_cast<HCOMM>(uintptr_t(1234));
    EXPECT_EQ(2u, CommOpen("\\\\?\\usb#vid_1234&pid_5678#absent#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}", 0, &handle,
                           nullptr, 0));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0u, CommCleanup());
}

TEST(WirrowOpen, StartupTwiceAndCleanupWithoutStartup) {
    EXPECT_EQ(0u, CommCleanup());
    EXPECT_EQ(0u, CommStartup());
    EXPECT_EQ(0u, CommStartup());
    EXPECT_EQ(0u, CommCleanup());
    EXPECT_EQ(0u, CommCleanup());
}

TEST(WirrowOpen, CleanupClosesEveryOpenHandle) {
    ASSERT_EQ(0u, CommStartup());
    std::vector<std::unique_ptr<PipeBoard>> boards;
    for (int i = 0; i < 3; ++i) {
        boards.push_back(std::make_unique<PipeBoard>(UniqueName("cl")));
        ASSERT_TRUE(boards.back()->Ready());
        HCOMM handle = nullptr;
        ASSERT_EQ(0u, CommOpen(boards.back()->Path().c_str(), 0, &handle, nullptr, 0));
        ASSERT_TRUE(boards.back()->AcceptHost());
    }
    EXPECT_EQ(0u, CommCleanup());
    // Every device was let go of and the list is empty: each path opens afresh.
    ASSERT_EQ(0u, CommStartup());
    for (auto &board : boards) {
        ASSERT_TRUE(board->Relisten());
        HCOMM handle = nullptr;
        ::SetLastError(0);
        EXPECT_EQ(0u, CommOpen(board->Path().c_str(), 0, &handle, nullptr, 0));
        EXPECT_NE(183u, ::GetLastError());
        EXPECT_TRUE(board->AcceptHost());
    }
    EXPECT_EQ(0u, CommCleanup());
}

TEST(WirrowOpen, CloseOfATaggedBlockNotOpenHereDoesNothing) {
    ASSERT_EQ(0u, CommStartup());
    // Looks like a link (tag after the pointer-sized first field) but was never opened here.
    alignas(void *) uint8_t block[64] = {};
    const uint32_t tag = 0x00425355;
    std::memcpy(block + sizeof(void *), &tag, sizeof(tag));
    EXPECT_EQ(0u, CommClose(block));
    EXPECT_EQ(0u, CommCleanup());
}

TEST_F(BoardLinkTest, CloseLetsGoOfTheDevice) {
    ConnectRunning();
    ASSERT_EQ(0u, CommClose(handle_));
    ASSERT_TRUE(Board().Relisten());
    HCOMM reopened = nullptr;
    ::SetLastError(0);
    ASSERT_EQ(0u, CommOpen(Board().Path().c_str(), 0, &reopened, nullptr, 0));
    EXPECT_NE(183u, ::GetLastError());
    ASSERT_TRUE(Board().AcceptHost());
    handle_ = reopened;
    ConnectRunning();
}

TEST_F(BoardLinkTest, WorkersThatCannotStartLeaveTheLinkNegotiated) {
    const uint32_t noSlots = 0;
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &noSlots));
    EXPECT_EQ(87u, ConnectWithBoard(Board(), handle_));
    // Negotiated: options are fixed, and a new connect starts the workers without a new exchange.
    const uint32_t slots = 4;
    EXPECT_EQ(1230u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &slots));
    EXPECT_EQ(87u, CommConnect(handle_, 'B', nullptr, nullptr, nullptr));
    uint8_t buffer[4];
    EXPECT_EQ(1167u, CommSendData(handle_, buffer, 4, 'B', 1));
    EXPECT_TRUE(Board().QuietFor(100));  // no connect request went out
    ASSERT_EQ(0u, CommDisconnect(handle_));
    ASSERT_EQ(0u, CommSetOption(handle_, COMM_OPT_RING_SLOTS, &slots));
    ConnectRunning();
    EXPECT_EQ(4u, Option<uint32_t>(COMM_OPT_RING_SLOTS));
}

TEST_F(BoardLinkTest, ConnectChecksItsOptionalPointers) {
    ProtectedPage page(PAGE_NOACCESS);
    EXPECT_EQ(COMM_E_POINTER, CommConnect(handle_, 'B', static_cast<const uint8_t *>(page.Base()), nullptr, nullptr));
    EXPECT_EQ(COMM_E_POINTER, CommConnect(handle_, 'B', nullptr, page.Base(), nullptr));
    EXPECT_EQ(COMM_E_POINTER, CommConnect(handle_, 'B', nullptr, nullptr, page.Base()));
    EXPECT_TRUE(Board().QuietFor(100));  // nothing was sent
}

TEST_F(BoardLinkTest, PathInOtherLetterCaseIsNotTheOpenHandle) {
    std::string upper = Board().Path();
    for (char &c : upper) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    HCOMM other = reinterpret_cast<HCOMM>(uintptr_t(1));
    ::SetLastError(0);
    // Not found in the list, so the device itself is opened, which the open handle holds.
    EXPECT_NE(0u, CommOpen(upper.c_str(), 0, &other, nullptr, 0));
    EXPECT_EQ(nullptr, other);
    EXPECT_NE(183u, ::GetLastError());
}
