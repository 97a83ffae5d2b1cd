// Wirrow's handle lifecycle against simulated boards: the registry of open handles,
// CommStartup/CommCleanup, the removal watch of each handle (its hidden window and
// what a removal report does), and resource counts over many opens and closes.
#include "BoardInterface.h"
#include "LinkTestSupport.h"
#include "LinkWindows.h"
#include "SimulatedBoard.h"
#include <dbt.h>
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kWait = 10000;


// Open handles of this process; Wine's GetProcessHandleCount reports 0, so values are probed.
DWORD ProbeHandleCount() {
    DWORD count = 0;
    for (uintptr_t value = 4; value < 0x8000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

// The platform sets up a few process-wide objects of its own lazily, at moments of its choosing
// (seen: one handle, once, somewhere in 40 rounds). A leak of a round grows with the rounds; this
// much growth over many rounds is the platform's.
constexpr DWORD kPlatformHandleSlack = 2;

std::string Upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Sends a device-change report to a window as the platform would, naming `path`.
LRESULT SendDeviceChange(HWND window, WPARAM event, DWORD deviceType, const std::string &path) {
    std::vector<uint8_t> record(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1 + 8);
    auto *broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A *>(record.data());
    broadcast->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1);
    broadcast->dbcc_devicetype = deviceType;
    std::memcpy(broadcast->dbcc_name, path.c_str(), path.size() + 1);
    return ::SendMessageA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast));
}

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, CommStartup()); }
    void TearDown() override {
        CommCleanup();
        boards_.clear();
    }

    boardsim::SimulatedBoard &StartBoard() {
        boardsim::BoardConfig config;
        config.instance = UniqueName("lc");
        config.updateMode = false;
        config.link.replyTimeoutSeconds = 1;
        boards_.push_back(std::make_unique<boardsim::SimulatedBoard>(config));
        EXPECT_EQ(0u, boards_.back()->Start());
        return *boards_.back();
    }

    static HCOMM Open(const std::string &path, DWORD *lastError = nullptr) {
        HCOMM handle = nullptr;
        ::SetLastError(0);
        const CommResult result = CommOpen(path.c_str(), 0, &handle, nullptr, 0);
        if (lastError) *lastError = ::GetLastError();
        EXPECT_EQ(0u, result);
        return handle;
    }

    static CommResult Connect(HCOMM handle) {
        const uint8_t sub = 1;
        return CommConnect(handle, 'B', &sub, nullptr, nullptr);
    }

    // True when the link carries a message to the board.
    static bool CarriesMessage(HCOMM handle, boardsim::SimulatedBoard &board) {
        const uint8_t message[] = {1, 2, 3, 4, 5};
        if (CommSendData(handle, message, sizeof(message), 'B', 1) != 0) return false;
        boardsim::HostMessage taken;
        return board.WaitHostMessage(&taken, kWait) && taken.data.size() == sizeof(message);
    }

    std::vector<std::unique_ptr<boardsim::SimulatedBoard>> boards_;
};

// ---- The removal watch -----------------------------------------------------------------------

TEST_F(LifecycleTest, EachHandleHasAHiddenWindowOfTheWirrowClass) {
    auto &board = StartBoard();
    HCOMM handle = Open(board.InterfacePath());
    HWND window = WaitLinkWindow(handle);
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(nullptr, ::GetParent(window));
    EXPECT_EQ(0x00CF0000, ::GetWindowLongA(window, GWL_STYLE) & 0x00CF0000);
    EXPECT_EQ(0, ::GetWindowTextLengthA(window));
    EXPECT_NE(::GetCurrentThreadId(), ::GetWindowThreadProcessId(window, nullptr)) << "a thread of its own";
    WNDCLASSEXA info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(::GetClassInfoExA(reinterpret_cast<HINSTANCE>(::GetClassLongPtrA(window, GCLP_HMODULE)), "WIRROW", &info));
    EXPECT_EQ(3u, info.style);
    EXPECT_EQ(0, info.cbClsExtra);
    EXPECT_EQ(static_cast<int>(sizeof(LONG_PTR)), info.cbWndExtra);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), info.hbrBackground);
    EXPECT_EQ(nullptr, info.hIcon);
    EXPECT_EQ(nullptr, info.hCursor);
    EXPECT_EQ(nullptr, info.lpszMenuName);

    EXPECT_EQ(0u, CommClose(handle));
    EXPECT_TRUE(LinkWindows().empty()) << "closing the handle ends its window";
}

TEST_F(LifecycleTest, UnplugEndsAWaitingReceiveAndLeavesTheHandleUntilClosed) {
    auto &board = StartBoard();
    const std::string path = board.InterfacePath();
    HCOMM handle = Open(path);
    ASSERT_NE(nullptr, WaitLinkWindow(handle));
    ASSERT_EQ(0u, Connect(handle));
    std::vector<uint8_t> buffer(256);
    uint32_t length = 256;
    AsyncCall receive([&] { return CommReceiveData(handle, buffer.data(), &length, nullptr, nullptr); });
    ASSERT_FALSE(receive.Finished(50)) << "nothing to receive yet";

    ASSERT_EQ(0u, board.Unplug());
    ASSERT_TRUE(receive.Finished(kWait));
    EXPECT_EQ(1167u, receive.Result());
    // The lost pipe can release the receive before the removal report has ended the window.
    EXPECT_TRUE(LinkWindowsGone()) << "the removal ends the window";

    uint32_t payload = 0;
    EXPECT_EQ(0u, CommGetOption(handle, COMM_OPT_MAX_PAYLOAD, &payload));
    EXPECT_EQ(1167u, CommSendData(handle, buffer.data(), 4, 'B', 1));
    DWORD lastError = 0;
    EXPECT_EQ(handle, Open(path, &lastError)) << "the old handle stays until it is closed";
    EXPECT_EQ(183u, lastError);

    EXPECT_EQ(0u, CommClose(handle));
    ASSERT_EQ(0u, board.Replug());
    ASSERT_TRUE(board.WaitListening(kWait));
    HCOMM fresh = Open(path, &lastError);
    EXPECT_NE(183u, lastError) << "a new handle";
    ASSERT_NE(nullptr, fresh);
    ASSERT_EQ(0u, Connect(fresh));
    EXPECT_TRUE(CarriesMessage(fresh, board));
    EXPECT_EQ(0u, CommClose(fresh));
}

TEST_F(LifecycleTest, UnplugOfAnOpenedHandleClosesIt) {
    auto &board = StartBoard();
    HCOMM handle = Open(board.InterfacePath());
    ASSERT_NE(nullptr, WaitLinkWindow(handle));
    ASSERT_EQ(0u, board.Unplug());
    EXPECT_EQ(1167u, Connect(handle)) << "the device is closed";
    EXPECT_EQ(0u, CommClose(handle));
}

// CommOpen returns before the window is made: a board that went before its registration stood
// sent its report to no one, and device setup is asked instead. Here the interface is marked gone
// and no report is sent at all; the device itself still opens. The NotifyWorker makes windows in
// the order of the opens, so once the second handle's window is there the first one's check is done.
TEST_F(LifecycleTest, ABoardGoneBeforeItsWindowWatchesIsNoticed) {
    auto &gone = StartBoard();
    auto &present = StartBoard();
    ASSERT_EQ(0u, boardsim::SetInterfacePresent(gone.InterfacePath(), false));
    HCOMM handle = Open(gone.InterfacePath());
    HCOMM kept = Open(present.InterfacePath());
    const HWND keptWindow = WaitLinkWindow(kept);
    ASSERT_NE(nullptr, keptWindow);
    EXPECT_EQ(std::vector<HWND>{keptWindow}, LinkWindows()) << "the gone board's watch ended";
    EXPECT_EQ(1167u, Connect(handle)) << "the device is closed";
    EXPECT_EQ(0u, CommClose(handle));
    ASSERT_EQ(0u, Connect(kept));
    EXPECT_TRUE(CarriesMessage(kept, present)) << "a present board keeps its link";
    EXPECT_EQ(0u, CommClose(kept));
}

TEST_F(LifecycleTest, ReportsForOtherDevicesOrEventsChangeNothing) {
    auto &board = StartBoard();
    const std::string path = board.InterfacePath();
    HCOMM handle = Open(path);
    HWND window = WaitLinkWindow(handle);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0u, Connect(handle));

    std::string otherPath = path;
    otherPath[otherPath.size() - 2] = otherPath[otherPath.size() - 2] == 'e' ? 'f' : 'e';
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, otherPath));
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path.substr(0, path.size() - 1)));
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, path));
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEREMOVEPENDING, DBT_DEVTYP_DEVICEINTERFACE, path));
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, path));
    EXPECT_EQ(0, ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0)) << "no broadcast record";
    EXPECT_EQ(0, ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_TRUE(CarriesMessage(handle, board)) << "the link still runs";
    EXPECT_EQ(0u, CommClose(handle));
}

TEST_F(LifecycleTest, ARemovalReportInOtherLetterCaseCounts) {
    auto &board = StartBoard();
    const std::string path = board.InterfacePath();
    HCOMM handle = Open(path);
    HWND window = WaitLinkWindow(handle);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0u, Connect(handle));
    uint32_t length = 16;
    uint8_t buffer[16];
    AsyncCall receive([&] { return CommReceiveData(handle, buffer, &length, nullptr, nullptr); });
    EXPECT_EQ(0, SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, Upper(path)));
    ASSERT_TRUE(receive.Finished(kWait));
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_TRUE(board.WaitListening(kWait)) << "the device was closed";
    EXPECT_EQ(0u, CommClose(handle));
}

TEST_F(LifecycleTest, RemovalRacingACallersDisconnectAndCloseClosesEverythingOnce) {
    auto &board = StartBoard();
    DWORD handlesBefore = 0;
    for (int round = 0; round < 13; ++round) {
        if (round == 1) handlesBefore = ProbeHandleCount();  // after the first open set up the process's share
        HCOMM handle = Open(board.InterfacePath());
        HWND window = WaitLinkWindow(handle);
        ASSERT_NE(nullptr, window);
        ASSERT_EQ(0u, Connect(handle));
        // The report is delivered on the window's own thread while this thread stops the link.
        std::string path = board.InterfacePath();
        AsyncCall removal([&] {
            return SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path) == 0 ? 0u : 1u;
        });
        if (round % 2) {
            EXPECT_EQ(0u, CommDisconnect(handle));
        }
        EXPECT_EQ(0u, CommClose(handle));
        ASSERT_TRUE(removal.Finished(kWait));
        ASSERT_TRUE(board.WaitListening(kWait));
    }
    EXPECT_TRUE(LinkWindows().empty());
    EXPECT_LE(ProbeHandleCount(), handlesBefore + kPlatformHandleSlack) << handlesBefore << " before";
}

TEST_F(LifecycleTest, RemovalRacingAConnectLeavesAClosedHandleWithoutWorkers) {
    auto &board = StartBoard();
    DWORD handlesBefore = 0;
    DWORD threadsBefore = 0;
    for (int round = 0; round < 24; ++round) {
        HCOMM handle = Open(board.InterfacePath());
        HWND window = WaitLinkWindow(handle);
        ASSERT_NE(nullptr, window);
        if (round == 1) {
            handlesBefore = ProbeHandleCount();
            threadsBefore = ProcessThreadCount();
        }
        // The report comes on the window's thread while this thread connects; the rounds spread the
        // report over the exchange, the start of the workers and the running link.
        std::string path = board.InterfacePath();
        UniqueHandle go = MakeEvent(true, false);
        AsyncCall removal([&] {
            ::WaitForSingleObject(go.Get(), kWait);
            for (int spin = 0; spin < round * 2000; ++spin) YieldProcessor();  // a macro in the 32-bit headers
            return SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path) == 0 ? 0u : 1u;
        });
        ::SetEvent(go.Get());
        const CommResult connected = Connect(handle);
        EXPECT_TRUE(connected == 0 || connected == 1167) << connected;
        ASSERT_TRUE(removal.Finished(kWait));
        EXPECT_EQ(1167u, CommSendData(handle, "x", 1, 'B', 1)) << "round " << round;
        EXPECT_EQ(1167u, Connect(handle)) << "a removed handle stays closed";
        EXPECT_EQ(0u, CommClose(handle));
        ASSERT_TRUE(board.WaitListening(kWait));
    }
    EXPECT_TRUE(ThreadCountFallsTo(threadsBefore - 1)) << "the NotifyWorker of the first round's handle ended";
    EXPECT_LE(ProbeHandleCount(), handlesBefore + kPlatformHandleSlack) << handlesBefore << " before";
}

// ---- The WorkerPool: link workers' threads kept for the next connect -----------------------------

TEST_F(LifecycleTest, ALinksWorkerThreadsServeTheNextHandleAndEndWithCleanup) {
    auto &first = StartBoard();
    auto &second = StartBoard();
    HCOMM handle = Open(first.InterfacePath());
    ASSERT_NE(nullptr, WaitLinkWindow(handle));
    ASSERT_EQ(0u, Connect(handle));
    std::vector<DWORD> running = ProcessThreadIds();
    EXPECT_EQ(0u, CommClose(handle));

    HCOMM next = Open(second.InterfacePath());
    ASSERT_NE(nullptr, WaitLinkWindow(next));
    ASSERT_EQ(0u, Connect(next));
    EXPECT_TRUE(CarriesMessage(next, second));
    std::sort(running.begin(), running.end());
    for (DWORD id : ProcessThreadIds())
        EXPECT_TRUE(std::binary_search(running.begin(), running.end(), id)) << "thread " << id << " started anew";
    EXPECT_EQ(0u, CommClose(next));

    const DWORD withoutLinks = ProcessThreadCount() - 4;  // the three waiting threads and the NotifyWorker
    EXPECT_EQ(0u, CommCleanup());
    // Well before the 5 s after which the waiting threads end by themselves.
    EXPECT_TRUE(ThreadCountFallsTo(withoutLinks, 2000)) << "the cleanup ends the waiting threads";
    ASSERT_EQ(0u, CommStartup());
}

// ---- The NotifyWorker: one thread for the windows of every handle ------------------------------

DWORD WindowThread(HWND window) { return ::GetWindowThreadProcessId(window, nullptr); }

TEST_F(LifecycleTest, WindowsOfHandlesOpenAtOnceShareOneThreadThatEndsWithCleanup) {
    std::vector<HWND> windows;
    for (int i = 0; i < 3; ++i) {
        auto &board = StartBoard();
        windows.push_back(WaitLinkWindow(Open(board.InterfacePath())));
        ASSERT_NE(nullptr, windows.back());
    }
    const DWORD worker = WindowThread(windows[0]);
    EXPECT_NE(::GetCurrentThreadId(), worker);
    EXPECT_EQ(worker, WindowThread(windows[1]));
    EXPECT_EQ(worker, WindowThread(windows[2]));
    UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, worker));
    ASSERT_TRUE(thread);

    EXPECT_EQ(0u, CommCleanup());
    EXPECT_TRUE(LinkWindows().empty());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.Get(), kWait)) << "the cleanup ends the worker";
    ASSERT_EQ(0u, CommStartup());
}

TEST_F(LifecycleTest, AHandleOpenedRightAfterACloseHasItsWindowOnTheSameThread) {
    auto &board = StartBoard();
    HCOMM first = Open(board.InterfacePath());
    HWND firstWindow = WaitLinkWindow(first);
    ASSERT_NE(nullptr, firstWindow);
    const DWORD worker = WindowThread(firstWindow);
    EXPECT_EQ(0u, CommClose(first));
    EXPECT_TRUE(LinkWindows().empty());
    ASSERT_TRUE(board.WaitListening(kWait));

    HCOMM second = Open(board.InterfacePath());
    HWND secondWindow = WaitLinkWindow(second);
    ASSERT_NE(nullptr, secondWindow);
    EXPECT_EQ(worker, WindowThread(secondWindow)) << "the worker stays from one handle to the next";
    EXPECT_EQ(0u, CommClose(second));
}

TEST_F(LifecycleTest, ARemovalLeavesTheOtherHandlesWatching) {
    auto &gone = StartBoard();
    auto &staying = StartBoard();
    HCOMM goneHandle = Open(gone.InterfacePath());
    HCOMM stayingHandle = Open(staying.InterfacePath());
    HWND stayingWindow = WaitLinkWindow(stayingHandle);
    ASSERT_NE(nullptr, WaitLinkWindow(goneHandle));
    ASSERT_NE(nullptr, stayingWindow);
    ASSERT_EQ(0u, Connect(goneHandle));
    ASSERT_EQ(0u, Connect(stayingHandle));
    uint8_t buffers[2][16];
    uint32_t lengths[2] = {16, 16};
    AsyncCall goneReceive([&] { return CommReceiveData(goneHandle, buffers[0], &lengths[0], nullptr, nullptr); });
    AsyncCall stayingReceive([&] { return CommReceiveData(stayingHandle, buffers[1], &lengths[1], nullptr, nullptr); });

    ASSERT_EQ(0u, gone.Unplug());
    ASSERT_TRUE(goneReceive.Finished(kWait));
    EXPECT_EQ(1167u, goneReceive.Result());
    EXPECT_FALSE(stayingReceive.Finished(0)) << "the other link still waits for its board";
    EXPECT_TRUE(::IsWindow(stayingWindow));
    EXPECT_EQ(stayingWindow, WaitLinkWindow(stayingHandle));

    ASSERT_EQ(0u, staying.Unplug());
    ASSERT_TRUE(stayingReceive.Finished(kWait)) << "the other window still hears of its board's removal";
    EXPECT_EQ(1167u, stayingReceive.Result());
    EXPECT_TRUE(LinkWindowsGone());
    EXPECT_EQ(0u, CommClose(goneHandle));
    EXPECT_EQ(0u, CommClose(stayingHandle));
}

// ---- The registry ----------------------------------------------------------------------------

TEST_F(LifecycleTest, StartupTwiceAndCleanupWithoutStartupMakeNoKernelObject) {
    const DWORD started = ProbeHandleCount();
    EXPECT_EQ(0u, CommStartup());
    EXPECT_EQ(0u, CommCleanup());
    EXPECT_EQ(0u, CommCleanup());
    EXPECT_EQ(started, ProbeHandleCount()) << "the registry's lock lives in user space";
    EXPECT_EQ(0u, CommStartup());
}

TEST_F(LifecycleTest, CleanupTearsDownEveryHandleAndStartupStartsAfresh) {
    std::vector<HCOMM> handles;
    for (int i = 0; i < 3; ++i) {
        auto &board = StartBoard();
        handles.push_back(Open(board.InterfacePath()));
        ASSERT_NE(nullptr, WaitLinkWindow(handles.back()));
    }
    ASSERT_EQ(0u, Connect(handles[1]));
    uint32_t length = 16;
    uint8_t buffer[16];
    AsyncCall receive([&] { return CommReceiveData(handles[1], buffer, &length, nullptr, nullptr); });
    // The receive must be waiting inside the link, not arrive after the cleanup (which gives
    // COMM_ERROR_INVALID_HANDLE).
    EXPECT_FALSE(receive.Finished(200)) << "the receive waits for a message";
    EXPECT_EQ(0u, CommCleanup());
    ASSERT_TRUE(receive.Finished(kWait));
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_TRUE(LinkWindows().empty());
    for (auto &board : boards_) EXPECT_TRUE(board->WaitListening(kWait)) << "every device was closed";

    ASSERT_EQ(0u, CommStartup());
    HCOMM fresh = nullptr;
    for (auto &board : boards_) {
        DWORD lastError = 0;
        fresh = Open(board->InterfacePath(), &lastError);
        EXPECT_NE(183u, lastError) << "the registry started empty";
        EXPECT_NE(nullptr, fresh);
    }
    ASSERT_EQ(0u, Connect(fresh));
    EXPECT_TRUE(CarriesMessage(fresh, *boards_.back()));
}

TEST_F(LifecycleTest, SamePathGivesTheSameHandleButOtherLetterCaseDoesNot) {
    auto &board = StartBoard();
    const std::string path = board.InterfacePath();
    HCOMM handle = Open(path);
    ASSERT_NE(nullptr, WaitLinkWindow(handle));
    DWORD lastError = 0;
    EXPECT_EQ(handle, Open(path, &lastError));
    EXPECT_EQ(183u, lastError);

    HCOMM other = reinterpret_cast<HCOMM>(1);
    ::SetLastError(0);
    const CommResult result = CommOpen(Upper(path).c_str(), 0, &other, nullptr, 0);
    // Not taken as the open handle: the platform opens the same device, which one host holds already.
    EXPECT_NE(0u, result);
    EXPECT_NE(183u, result);
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(1u, LinkWindows().size()) << "nothing stays behind from the failed open";
    EXPECT_EQ(0u, CommClose(handle));
}

TEST_F(LifecycleTest, FailedOpenLeavesNothingBehind) {
    auto &board = StartBoard();
    HCOMM handle = Open(board.InterfacePath());  // warms up the class and the notification service
    EXPECT_EQ(0u, CommClose(handle));
    ASSERT_EQ(0u, board.Unplug());
    ASSERT_TRUE(ThreadCountFallsTo(ProcessThreadCount()));
    const DWORD threads = ProcessThreadCount();
    const DWORD handles = ProbeHandleCount();
    HCOMM none = reinterpret_cast<HCOMM>(1);
    EXPECT_NE(0u, CommOpen(board.InterfacePath().c_str(), 0, &none, nullptr, 0)) << "the board is gone";
    EXPECT_EQ(nullptr, none);
    EXPECT_TRUE(ThreadCountFallsTo(threads));
    EXPECT_EQ(handles, ProbeHandleCount());
}

TEST_F(LifecycleTest, CloseOfARunningHandleStopsItsWorkersFirst) {
    auto &board = StartBoard();
    HCOMM handle = Open(board.InterfacePath());
    ASSERT_EQ(0u, Connect(handle));
    uint32_t length = 16;
    uint8_t buffer[16];
    AsyncCall receive([&] { return CommReceiveData(handle, buffer, &length, nullptr, nullptr); });
    ASSERT_FALSE(receive.Finished(50));
    EXPECT_EQ(0u, CommClose(handle));
    // Stopped workers end the waiting call with COMM_ERROR_DEVICE_NOT_CONNECTED; closing the device
    // under them would not end it this way on every path.
    ASSERT_TRUE(receive.Finished(kWait));
    EXPECT_EQ(1167u, receive.Result());
    EXPECT_TRUE(board.WaitListening(kWait));
    const auto events = board.Events();
    EXPECT_FALSE(std::any_of(events.begin(), events.end(), [](const boardsim::BoardEvent &e) {
        return e.kind == boardsim::BoardEventKind::HostPacket;
    })) << "nothing was sent on the way out";
}

TEST_F(LifecycleTest, HandlesAndThreadsStayLevelOverManyOpensAndCloses) {
    auto &board = StartBoard();
    auto cycle = [&] {
        HCOMM handle = Open(board.InterfacePath());
        ASSERT_NE(nullptr, WaitLinkWindow(handle));
        ASSERT_EQ(0u, Connect(handle));
        ASSERT_EQ(0u, CommClose(handle));
        ASSERT_TRUE(board.WaitListening(kWait));
    };
    cycle();  // the first open sets up what the process keeps (window class, notification service)
    ASSERT_TRUE(ThreadCountFallsTo(ProcessThreadCount()));
    const DWORD threads = ProcessThreadCount();
    const DWORD handles = ProbeHandleCount();
    for (int i = 0; i < 25; ++i) cycle();
    EXPECT_TRUE(ThreadCountFallsTo(threads)) << ProcessThreadCount() << " threads, " << threads << " before";
    EXPECT_LE(ProbeHandleCount(), handles + kPlatformHandleSlack) << handles << " before";
    EXPECT_TRUE(LinkWindows().empty());
}

}  // namespace
