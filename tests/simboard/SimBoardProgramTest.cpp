// SimBoard.exe as another process: ready line, update with saved image,
// stdin commands, and its ways to end.
#include "BoardInterface.h"
#include "ChildProgram.h"
#include "CommApi.h"
#include "LinkWindows.h"
#include "Payloads.h"
#include "ProgramFolder.h"
#include "RawHost.h"
#include "TempFolder.h"
#include "TextChecks.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include "UniqueName.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>
#include <mutex>
#include <string>
#include <vector>

using rawhost::Header;
using rawhost::Host;

namespace {

constexpr DWORD kWait = 10000;

// SimBoard.exe with pipes on stdin and stdout.
class Child : public ChildProgram {
public:
    Child() : ChildProgram("SimBoard.exe") {}
};

// Starts the program for the board `instance`, waits until it is ready and connects `host` to the board.
void StartConnected(Child &child, Host &host, const std::string &instance, const std::string &options = "") {
    ASSERT_TRUE(child.Start("--instance " + instance + options));
    std::string ready;
    ASSERT_TRUE(child.WaitLine("ready ", &ready));
    ASSERT_EQ(0u, host.Open(boardsim::BoardInterfacePath(instance)));
    Header reply;
    ASSERT_EQ(0u, host.Connect(&reply));
}

// Sends the image in update packets of maxPacket bytes; returns the statuses.
std::vector<std::uint16_t> Update(Host &host, const std::vector<std::uint8_t> &image, std::size_t maxPacket, bool le) {
    std::vector<std::uint16_t> statuses;
    for (std::size_t offset = 0; offset < image.size();) {
        std::size_t n = std::min(maxPacket - 16, image.size() - offset);
        std::vector<std::uint8_t> chunk(image.begin() + offset, image.begin() + offset + n);
        offset += n;
        std::uint16_t status = 0xFFFF;
        if (host.UpdateExchange(rawhost::UpdatePacket(chunk, offset == image.size(), SumOf(image), le), le, &status))
            break;
        statuses.push_back(status);
        if (status) break;
    }
    return statuses;
}

// A hidden top-level window on a thread of its own that records the device-change
// reports it receives, as a host's notification window would get them.
class DeviceChangeRecorder {
public:
    DeviceChangeRecorder() : reported_(MakeEvent(true, false)), ready_(MakeEvent(true, false)) {
        thread_.Start([this] { Run(); });
        ::WaitForSingleObject(ready_.Get(), kWait);
    }
    ~DeviceChangeRecorder() {
        if (window_) ::PostMessageA(window_, WM_CLOSE, 0, 0);
        thread_.Join(kWait);
    }
    HWND Window() const { return window_; }
    // The first removal report's event, device type and name.
    bool WaitReport(WPARAM *event, DWORD *deviceType, std::string *name) {
        if (::WaitForSingleObject(reported_.Get(), kWait) != WAIT_OBJECT_0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        *event = event_;
        *deviceType = deviceType_;
        *name = name_;
        return true;
    }

private:
    void Run() {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &DeviceChangeRecorder::Procedure;
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "SimBoardRemovalWatch";
        ::RegisterClassExA(&windowClass);
        window_ = ::CreateWindowExA(0, "SimBoardRemovalWatch", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        if (window_) ::SetWindowLongPtrA(window_, 0, reinterpret_cast<LONG_PTR>(this));
        ::SetEvent(ready_.Get());
        MSG message;
        while (window_ && ::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
        auto *watch = reinterpret_cast<DeviceChangeRecorder *>(::GetWindowLongPtrA(window, 0));
        if (message == WM_DEVICECHANGE && watch && second) {
            const auto *broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(second);
            std::lock_guard<std::mutex> lock(watch->mutex_);
            watch->event_ = first;
            watch->deviceType_ = broadcast->dbcc_devicetype;
            if (broadcast->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE) watch->name_ = broadcast->dbcc_name;
            ::SetEvent(watch->reported_.Get());
            return 0;
        }
        if (message == WM_DESTROY) ::PostQuitMessage(0);
        return ::DefWindowProcA(window, message, first, second);
    }

    UniqueHandle reported_, ready_;
    HWND window_ = nullptr;
    Thread thread_;
    std::mutex mutex_;
    WPARAM event_ = 0;
    DWORD deviceType_ = 0;
    std::string name_;
};

}  // namespace

TEST(SimBoardProgram, UnplugReportsTheRemovalToWindowsOfOtherProcesses) {
    const std::string instance = UniqueName("sbnote");
    const std::string path = boardsim::BoardInterfacePath(instance);
    DeviceChangeRecorder watch;
    ASSERT_NE(nullptr, watch.Window());
    Child child;
    Host host;
    ASSERT_NO_FATAL_FAILURE(StartConnected(child, host, instance));
    ASSERT_TRUE(child.Command("unplug"));
    WPARAM event = 0;
    DWORD deviceType = 0;
    std::string name;
    ASSERT_TRUE(watch.WaitReport(&event, &deviceType, &name));
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE), event);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), deviceType);
    EXPECT_EQ(path, name);
    // By the time the removal is reported the stream is already broken.
    Header reply;
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host.ReadHeader(&reply, kWait));
    std::string line;
    ASSERT_TRUE(child.WaitLine("ok unplug", &line));
    child.CloseStdin();
    EXPECT_EQ(0u, child.WaitExit());
}

TEST(SimBoardProgram, UpdateSavesTheImageAndStdinEndEndsTheProgram) {
    const std::string instance = UniqueName("sbprog");
    TempFolder folder;
    const std::string output = folder.File("flash.bin");
    Child child;
    ASSERT_TRUE(child.Start("--instance " + instance + " --max-payload 512 --byte-order big --flash-delay 50 --output \"" +
                            output + "\""));
    std::string ready;
    ASSERT_TRUE(child.WaitLine("ready ", &ready));
    EXPECT_TRUE(SameTextIgnoringCase("ready " + boardsim::BoardInterfacePath(instance), ready)) << ready;

    Host host;
    ASSERT_EQ(0u, host.Open(boardsim::BoardInterfacePath(instance)));
    Header reply;
    ASSERT_EQ(0u, host.Connect(&reply));
    const std::uint8_t expected[12] = {'s', 'c', 0, 0, 6, 1, 3, 0x00, 0, 0, 0x02, 0x00};
    EXPECT_EQ(0, memcmp(expected, reply.bytes, sizeof(expected)));

    std::vector<std::uint8_t> image = PatternPayload(1500);
    std::vector<std::uint16_t> statuses = Update(host, image, 512, false);
    EXPECT_EQ(std::vector<std::uint16_t>(4, 0), statuses);  // 496 + 496 + 496 + 12 bytes
    std::string flashed;
    ASSERT_TRUE(child.WaitLine("flashed ", &flashed));
    EXPECT_EQ(0, flashed.find("flashed 1500 "));
    EXPECT_EQ(std::string(image.begin(), image.end()), ReadWholeFile(output));

    host.Close();
    child.CloseStdin();
    EXPECT_EQ(0u, child.WaitExit());
    // Gone with the program: the path no longer opens.
    EXPECT_NE(0u, host.Open(boardsim::BoardInterfacePath(instance)));
}

TEST(SimBoardProgram, RejectedChunkEndsTheUpdateWithTheCode) {
    const std::string instance = UniqueName("sbprog");
    Child child;
    Host host;
    ASSERT_NO_FATAL_FAILURE(
        StartConnected(child, host, instance, " --max-payload 128 --reject-chunk 2:0x0102 --unlisted"));
    EXPECT_EQ((std::vector<std::uint16_t>{0, 0x0102}), Update(host, PatternPayload(1000), 128, true));
    ASSERT_TRUE(child.Command("quit"));
    EXPECT_EQ(0u, child.WaitExit());
}

TEST(SimBoardProgram, StopEventEndsTheProgram) {
    const std::string eventName = "Local\\" + UniqueName("simboard-stop");
    UniqueHandle stop(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(stop);
    Child child;
    ASSERT_TRUE(child.Start("--instance " + UniqueName("sbprog") + " --no-stdin --stop-event " + eventName));
    std::string ready;
    ASSERT_TRUE(child.WaitLine("ready ", &ready));
    ASSERT_TRUE(::SetEvent(stop.Get()));
    EXPECT_EQ(0u, child.WaitExit());
}

TEST(SimBoardProgram, UnplugAndReplugCommands) {
    const std::string instance = UniqueName("sbprog");
    const std::string path = boardsim::BoardInterfacePath(instance);
    Child child;
    Host host;
    ASSERT_NO_FATAL_FAILURE(StartConnected(child, host, instance));
    ASSERT_TRUE(child.Command("unplug"));
    std::string line;
    ASSERT_TRUE(child.WaitLine("ok unplug", &line));
    Header reply;
    // The connection is dropped (a pipe sees ERROR_PIPE_NOT_CONNECTED) and the path no longer opens.
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED), host.ReadHeader(&reply, kWait));
    host.Close();
    EXPECT_NE(0u, host.Open(path));
    ASSERT_TRUE(child.Command("replug"));
    ASSERT_TRUE(child.WaitLine("ok replug", &line));
    ASSERT_EQ(0u, host.Open(path));
    ASSERT_EQ(0u, host.Connect(&reply));
    ASSERT_TRUE(child.Command("send 9 2 0a0b0c"));
    ASSERT_TRUE(child.WaitLine("queued 1", &line));
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(0u, host.ReceiveMessage(&channel, &subchannel, &data, true));
    EXPECT_EQ(9, channel);
    EXPECT_EQ((std::vector<std::uint8_t>{0x0a, 0x0b, 0x0c}), data);
    // Closed and opened again once the board says it is listening.
    host.Close();
    ASSERT_TRUE(child.Command("listening"));
    ASSERT_TRUE(child.WaitLine("ok listening", &line));
    ASSERT_EQ(0u, host.Open(path));
    ASSERT_EQ(0u, host.Connect(&reply));
    child.CloseStdin();
    EXPECT_EQ(0u, child.WaitExit());
}

TEST(SimBoardProgram, BadOptionEndsWithTwo) {
    Child child;
    ASSERT_TRUE(child.Start("--max-payload zero"));
    std::string line;
    EXPECT_TRUE(child.WaitLine("bad value for --max-payload", &line));
    EXPECT_EQ(2u, child.WaitExit());
}

// The whole way of a removal across processes: SimBoard.exe is unplugged while
// Wirrow (loaded from beside this program) holds it open in this process. The handle
// is only opened, so no transfer notices the broken stream: only the removal report
// can close it.
TEST(SimBoardProgram, UnplugClosesAWirrowHandleInAnotherProcess) {
    HMODULE wirrow = ::LoadLibraryA((ProgramFolder() + "\\Wirrow.dll").c_str());
    ASSERT_NE(nullptr, wirrow);
    auto bind = [wirrow](const char *name) { return reinterpret_cast<void *>(::GetProcAddress(wirrow, name)); };
    auto startup = reinterpret_cast<PFN_CommStartup>(bind("CommStartup"));
    auto cleanup = reinterpret_cast<PFN_CommCleanup>(bind("CommCleanup"));
    auto open = reinterpret_cast<PFN_CommOpen>(bind("CommOpen"));
    auto connect = reinterpret_cast<PFN_CommConnect>(bind("CommConnect"));
    auto close = reinterpret_cast<PFN_CommClose>(bind("CommClose"));
    ASSERT_TRUE(startup && cleanup && open && connect && close);
    ASSERT_EQ(0u, startup());

    const std::string instance = UniqueName("sbwirrow");
    Child child;
    ASSERT_TRUE(child.Start("--instance " + instance));
    std::string line;
    ASSERT_TRUE(child.WaitLine("ready ", &line));
    HCOMM handle = nullptr;
    ASSERT_EQ(0u, open(boardsim::BoardInterfacePath(instance).c_str(), 0, &handle, nullptr, 0));
    const HWND window = WaitLinkWindow(handle);
    ASSERT_NE(nullptr, window) << "the handle's window watches";
    ASSERT_TRUE(child.Command("unplug"));
    // The board reports the removal before it answers.
    ASSERT_TRUE(child.WaitLine("ok unplug", &line));
    EXPECT_FALSE(::IsWindow(window)) << "the removal ended the handle's watch";
    const uint8_t subchannel = 1;
    EXPECT_EQ(1167u, connect(handle, 'B', &subchannel, nullptr, nullptr)) << "the device is closed";
    EXPECT_EQ(0u, close(handle));
    EXPECT_EQ(0u, cleanup());
    child.CloseStdin();
    EXPECT_EQ(0u, child.WaitExit());
    ::FreeLibrary(wirrow);
}
