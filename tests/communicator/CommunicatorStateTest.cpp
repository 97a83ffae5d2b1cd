// The CommunicatorState's construction, and its handle table driven directly with a
// transport table that names the recording transports by full path: the paths that
// only a failing allocation reaches, the teardown, and an open racing a close.
#include "AllocationControl.h"
#include "CommunicatorState.h"
#include "TestSupport.h"
#include "Thread.h"
#include "UniqueHandle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using recording::kUsb;

namespace {

class HandleTableTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char *file : {"Netrow.dll", "Serrow.dll", "Wirrow.dll"}) {
            CopyBuildFile((std::string("testtransports\\recording\\") + file).c_str(), folder.Path());
        }
        tcp = folder.Path() + "\\Netrow.dll";
        com = folder.Path() + "\\Serrow.dll";
        usb = folder.Path() + "\\Wirrow.dll";
        table = {{{"TCP", tcp.c_str()}, {"COM", com.c_str()}, {"USB", usb.c_str()}}};
    }
    void TearDown() override { AllowAllAllocations(); }

    RecordingLogView log;
    TempFolder folder{"comm-test-"};
    std::string tcp, com, usb;
    TransportTable table{};
};

TEST(CommunicatorStateConstruction, BuildsTheTableTheSocketsAndTheSlots) {
    CommunicatorState state;
    EXPECT_TRUE(state.Ready());
    const char *kinds[] = {"TCP", "COM", "USB"};
    const char *files[] = {"Netrow.dll", "Serrow.dll", "Wirrow.dll"};
    for (std::size_t index = 0; index < kTransportCount; ++index) {
        const Transport &transport = state.Handles().TransportAt(index);
        EXPECT_STREQ(kinds[index], transport.kind);
        EXPECT_STREQ(files[index], transport.libraryName);
        EXPECT_FALSE(transport.module) << "nothing is loaded before the first open";
    }
    EXPECT_EQ(0u, state.Handles().OpenCount());
    const RouterClient &client = state.Client();
    EXPECT_TRUE(client.socketsLibrary.Started());
    ASSERT_TRUE(client.broadcastSocket);
    ASSERT_TRUE(client.requestSocket);
    BOOL broadcast = FALSE;
    int size = sizeof(broadcast);
    ASSERT_EQ(0, getsockopt(client.broadcastSocket.Get(), SOL_SOCKET, SO_BROADCAST,
                            reinterpret_cast<char *>(&broadcast), &size));
    EXPECT_TRUE(broadcast);
    broadcast = TRUE;
    size = sizeof(broadcast);
    ASSERT_EQ(0, getsockopt(client.requestSocket.Get(), SOL_SOCKET, SO_BROADCAST,
                            reinterpret_cast<char *>(&broadcast), &size));
    EXPECT_FALSE(broadcast);
    for (const ReceiveSlot &slot : client.receiveSlots) {
        EXPECT_EQ(16, slot.fromLength);
        EXPECT_EQ(1518u, slot.buffer.len);
        ASSERT_NE(nullptr, slot.buffer.buf);
        EXPECT_NE(nullptr, slot.overlapped.hEvent);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(slot.overlapped.hEvent, 0));
        EXPECT_EQ(0u, slot.flags);
        EXPECT_EQ(0u, slot.received);
    }
    EXPECT_NE(client.receiveSlots[0].buffer.buf, client.receiveSlots[1].buffer.buf);
}

TEST(ModuleFolderPath, NamesTheModuleThatHoldsTheCode) {
    // Linked into this program, the code's module is the program itself.
    char path[MAX_PATH];
    GetModuleFolderPath(path);
    char expected[MAX_PATH];
    GetModuleFileNameA(nullptr, expected, MAX_PATH);
    EXPECT_STRCASEEQ(expected, path);
}

TEST_F(HandleTableTest, HandleRecordThatCannotBeAllocatedClosesTheTransportHandle) {
    HandleTable handles(table);
    HCOMM warmUp = nullptr;
    ASSERT_EQ(COMM_SUCCESS, handles.Open(kOtherUsbPath, 0, &warmUp, nullptr, kRouterPort));
    auto sentinel = reinterpret_cast<HCOMM>(0x5A5A);
    HCOMM handle = sentinel;
    FailAllocationsAfter(0);
    CommResult result = handles.Open(kUsbPath, 0, &handle, nullptr, kRouterPort);
    AllowAllAllocations();
    EXPECT_EQ(COMM_ERROR_NOT_ENOUGH_MEMORY, result);
    EXPECT_EQ(sentinel, handle);
    auto opens = log.Calls(recording::kOpen, kUsb);
    auto closes = log.Calls(recording::kClose, kUsb);
    ASSERT_EQ(2u, opens.size());
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(opens[1].handle, closes[0].handle);
    EXPECT_EQ(1u, handles.OpenCount());
}

TEST_F(HandleTableTest, ListThatCannotGrowClosesTheTransportHandle) {
    HandleTable handles(table);
    HCOMM handle = nullptr;
    // The record may be made, the room for it in the empty list not.
    FailAllocationsAfter(1);
    CommResult result = handles.Open(kUsbPath, 0, &handle, nullptr, kRouterPort);
    AllowAllAllocations();
    EXPECT_EQ(COMM_ERROR_NOT_ENOUGH_MEMORY, result);
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0u, handles.OpenCount());
    auto closes = log.Calls(recording::kClose, kUsb);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(log.Calls(recording::kOpen, kUsb).at(0).handle, closes[0].handle);
    // Memory back, the same device opens normally.
    ASSERT_EQ(COMM_SUCCESS, handles.Open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(1u, handles.OpenCount());
}

TEST_F(HandleTableTest, FailedRecordOfASharedTransportHandleLeavesItOpenForTheOtherRecord) {
    log.Behaviour(kUsb).sameHandleForSamePath = 1;
    HandleTable handles(table);
    HCOMM first = nullptr;
    ASSERT_EQ(COMM_SUCCESS, handles.Open(kUsbPath, 0, &first, nullptr, kRouterPort));
    HCOMM second = nullptr;
    FailAllocationsAfter(0);
    CommResult result = handles.Open(kUsbPath, 0, &second, nullptr, kRouterPort);
    AllowAllAllocations();
    EXPECT_EQ(COMM_ERROR_NOT_ENOUGH_MEMORY, result);
    EXPECT_EQ(0u, log.Count(recording::kClose)) << "the first record still uses the transport handle";
    EXPECT_EQ(COMM_SUCCESS, handles.Close(first));
    EXPECT_EQ(1u, log.Count(recording::kClose));
}

TEST_F(HandleTableTest, TeardownClosesLaterFirstAndCleansUpOnce) {
    {
        HandleTable handles(table);
        HCOMM a = nullptr, b = nullptr;
        ASSERT_EQ(COMM_SUCCESS, handles.Open(kUsbPath, 0, &a, nullptr, kRouterPort));
        ASSERT_EQ(COMM_SUCCESS, handles.Open(kSerialPort, 0, &b, nullptr, kRouterPort));
        EXPECT_EQ(2u, handles.OpenCount());
    }
    auto closes = log.Calls(recording::kClose);
    ASSERT_EQ(2u, closes.size());
    EXPECT_EQ(recording::kCom, closes[0].kind);
    EXPECT_EQ(recording::kUsb, closes[1].kind);
    EXPECT_EQ(1u, log.Count(recording::kCleanup, kUsb));
    EXPECT_EQ(1u, log.Count(recording::kCleanup, recording::kCom));
    EXPECT_EQ(0u, log.Count(recording::kCleanup, recording::kTcp));
}

}  // namespace

TEST_F(HandleTableTest, OpenRacingTheCloseOfTheSameDevicesLastHandleGetsAHandleOfItsOwn) {
    // The transport hands out the handle of a path that is still open, as Wirrow does, and its
    // close is held open until the test lets it go.
    recording::Behaviour &usbBehaviour = log.Behaviour(kUsb);
    usbBehaviour.sameHandleForSamePath = 1;
    const std::string enteredName = UniqueName("close-entered-");
    const std::string holdName = UniqueName("close-hold-");
    UniqueHandle entered(CreateEventA(nullptr, TRUE, FALSE, enteredName.c_str()));
    UniqueHandle hold(CreateEventA(nullptr, TRUE, FALSE, holdName.c_str()));
    ASSERT_TRUE(entered && hold);
    std::strncpy(usbBehaviour.closeEnteredEvent, enteredName.c_str(), sizeof(usbBehaviour.closeEnteredEvent) - 1);
    std::strncpy(usbBehaviour.closeHoldEvent, holdName.c_str(), sizeof(usbBehaviour.closeHoldEvent) - 1);

    HandleTable handles(table);
    HCOMM first = nullptr;
    ASSERT_EQ(COMM_SUCCESS, handles.Open(kUsbPath, 0, &first, nullptr, kRouterPort));
    const HCOMM firstTransportHandle = static_cast<CommHandle *>(first)->transportHandle;
    CommResult closed = 0xBAD0BAD0u;
    Thread closer;
    ASSERT_TRUE(closer.Start([&] { closed = handles.Close(first); }));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.Get(), 10000));
    // The close is inside the transport now; an open of the same device meets the closing handle.
    HCOMM second = nullptr;
    CommResult opened = 0xBAD0BAD0u;
    Thread opener;
    ASSERT_TRUE(opener.Start([&] { opened = handles.Open(kUsbPath, 0, &second, nullptr, kRouterPort); }));
    const DWORD start = GetTickCount();
    while (log.Count(recording::kOpen, kUsb) < 2 && GetTickCount() - start < 10000) Sleep(5);
    ASSERT_EQ(2u, log.Count(recording::kOpen, kUsb));
    SetEvent(hold.Get());
    ASSERT_TRUE(closer.Join(10000));
    ASSERT_TRUE(opener.Join(10000));
    EXPECT_EQ(COMM_SUCCESS, closed);
    ASSERT_EQ(COMM_SUCCESS, opened);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(firstTransportHandle, static_cast<CommHandle *>(second)->transportHandle)
        << "the new record wraps the transport handle that was just closed";
    ASSERT_EQ(1u, log.Count(recording::kClose, kUsb));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(firstTransportHandle), log.Calls(recording::kClose, kUsb)[0].handle);
    EXPECT_EQ(COMM_SUCCESS, handles.Close(second));
    EXPECT_EQ(2u, log.Count(recording::kClose, kUsb));
}
