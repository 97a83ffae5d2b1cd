// Wirrow unloaded with handles open, as hosts do it: Communicator.dll released by
// FreeLibrary while its Wirrow handles are connected (Communicator's detach then
// closes them under the loader lock), Wirrow released and loaded again, and a
// process that ends with everything open. The real Communicator.dll and Wirrow.dll
// are copied beside each other into a fresh folder; this program's own folder holds
// no DLL of the build.
#include "CommApi.h"
#include "LinkWindows.h"
#include "SimulatedBoard.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

constexpr DWORD kUnloadBoundMs = 20000;
constexpr DWORD kWait = 10000;

std::atomic<unsigned> uniqueNumber{0};

std::string Unique(const char *stem) {
    return std::string(stem) + std::to_string(::GetCurrentProcessId()) + "x" + std::to_string(++uniqueNumber);
}

// The folder with the build's binaries: this program lives in a folder below it.
std::string BinaryFolder() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    std::string folder = exe.substr(0, exe.find_last_of('\\'));
    return folder.substr(0, folder.find_last_of('\\'));
}

// A fresh folder holding copies of Communicator.dll and Wirrow.dll; removed afterwards (a DLL still
// loaded stays behind, which the assertions below report anyway).
class LibraryFolder {
public:
    LibraryFolder() {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + Unique("wirrow-unload-");
        ::CreateDirectoryA(path_.c_str(), nullptr);
        for (const char *name : {"Communicator.dll", "Hivekey.dll", "Wirrow.dll"}) {
            if (!::CopyFileA((BinaryFolder() + "\\" + name).c_str(), (path_ + "\\" + name).c_str(), FALSE))
                throw std::runtime_error(std::string("cannot copy ") + name);
        }
    }
    ~LibraryFolder() {
        ::DeleteFileA((path_ + "\\Communicator.dll").c_str());
        ::DeleteFileA((path_ + "\\Hivekey.dll").c_str());
        ::DeleteFileA((path_ + "\\Wirrow.dll").c_str());
        ::RemoveDirectoryA(path_.c_str());
    }
    LibraryFolder(const LibraryFolder &) = delete;
    LibraryFolder &operator=(const LibraryFolder &) = delete;
    std::string File(const char *name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

template <typename Fn> Fn Export(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(::GetProcAddress(module, name)));
}

// Wirrow leaves the process only once its last thread has left its code; polled with a bound.
bool WirrowUnloaded(DWORD timeoutMs = kWait) {
    const DWORD start = ::GetTickCount();
    while (::GetModuleHandleA("Wirrow.dll")) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}

class WirrowUnload : public ::testing::Test {
protected:
    void SetUp() override {
        boardsim::BoardConfig config;
        config.instance = Unique("ul");
        config.updateMode = false;
        config.link.replyTimeoutSeconds = 1;
        board_ = std::make_unique<boardsim::SimulatedBoard>(config);
        ASSERT_EQ(0u, board_->Start());
        ASSERT_EQ(nullptr, ::GetModuleHandleA("Wirrow.dll"));
    }
    // Communicator.dll of the fresh folder, Hivekey.dll (which it imports) found beside it. The test
    // frees it: its release is what the cases check.
    HMODULE LoadCommunicator() const {
        return ::LoadLibraryExA(folder_.File("Communicator.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    std::unique_ptr<boardsim::SimulatedBoard> board_;
    LibraryFolder folder_;
};

// First in this program, so that its open makes the process's first window: the platform loads its
// window and notification libraries for it, under the loader lock, on the NotifyWorker. The release
// right after the open holds that lock while it tears the handle down, so the teardown must not wait
// for a window still being made (a wait that gives up takes the 3 s allowance and keeps Wirrow).
TEST_F(WirrowUnload, FreeLibraryOfCommunicatorRightAfterTheFirstOpenReturnsAtOnce) {
    HMODULE communicator = LoadCommunicator();
    ASSERT_NE(nullptr, communicator);
    auto open = Export<PFN_CommOpen>(communicator, "CommOpen");
    ASSERT_TRUE(open);
    HCOMM handle = nullptr;
    ASSERT_EQ(0u, open(board_->InterfacePath().c_str(), 0, &handle, nullptr, 26214));
    const ULONGLONG start = ::GetTickCount64();
    ::FreeLibrary(communicator);
    EXPECT_LT(::GetTickCount64() - start, 2000u) << "the release waited for the window";
    EXPECT_TRUE(board_->WaitListening(kWait)) << "the board sees the host leave";
    EXPECT_TRUE(WirrowUnloaded()) << "Wirrow stays loaded";
}

TEST_F(WirrowUnload, FreeLibraryOfCommunicatorWithConnectedHandlesReturnsAndDropsTheLink) {
    HMODULE communicator = LoadCommunicator();
    ASSERT_NE(nullptr, communicator);
    auto open = Export<PFN_CommOpen>(communicator, "CommOpen");
    auto connect = Export<PFN_CommConnect>(communicator, "CommConnect");
    auto receive = Export<PFN_CommReceiveData>(communicator, "CommReceiveData");
    ASSERT_TRUE(open && connect && receive);
    HCOMM handle = nullptr;
    ASSERT_EQ(0u, open(board_->InterfacePath().c_str(), 0, &handle, nullptr, 26214));
    const uint8_t subchannel = 1;
    ASSERT_EQ(0u, connect(handle, 'B', &subchannel, nullptr, nullptr));
    ASSERT_TRUE(board_->WaitLinkUp(kWait));
    ASSERT_NE(nullptr, ::GetModuleHandleA("Wirrow.dll"));

    UniqueHandle released = MakeEvent(true, false);
    Thread releaser;
    ASSERT_TRUE(releaser.Start([&] {
        ::FreeLibrary(communicator);
        ::SetEvent(released.Get());
    }));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(released.Get(), kUnloadBoundMs)) << "FreeLibrary hangs";
    EXPECT_TRUE(releaser.Join(kWait));
    EXPECT_TRUE(board_->WaitListening(kWait)) << "the board sees the host leave";
    EXPECT_TRUE(WirrowUnloaded()) << "Wirrow stays loaded";
}

TEST_F(WirrowUnload, FreeLibraryOfCommunicatorRightAfterConnectOnTheSameThreadReturns) {
    // Load, open, connect and release on one thread without a pause: the link workers have just
    // been started when the release closes the handle under the loader lock.
    UniqueHandle released = MakeEvent(true, false);
    std::atomic<CommResult> opened{0xBAD0BAD0u};
    std::atomic<CommResult> connected{0xBAD0BAD0u};
    std::atomic<bool> loaded{false};
    const std::string boardPath = board_->InterfacePath();
    Thread host;
    ASSERT_TRUE(host.Start([&] {
        HMODULE communicator = LoadCommunicator();
        loaded = communicator != nullptr;
        if (!communicator) {
            ::SetEvent(released.Get());
            return;
        }
        auto open = Export<PFN_CommOpen>(communicator, "CommOpen");
        auto connect = Export<PFN_CommConnect>(communicator, "CommConnect");
        HCOMM handle = nullptr;
        opened = open(boardPath.c_str(), 0, &handle, nullptr, 26214);
        const uint8_t subchannel = 1;
        if (opened == 0) connected = connect(handle, 'B', &subchannel, nullptr, nullptr);
        ::FreeLibrary(communicator);
        ::SetEvent(released.Get());
    }));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(released.Get(), kUnloadBoundMs)) << "FreeLibrary hangs";
    ASSERT_TRUE(loaded.load()) << "Communicator.dll did not load";
    EXPECT_EQ(0u, opened.load());
    EXPECT_EQ(0u, connected.load());
    EXPECT_TRUE(host.Join(kWait));
    EXPECT_TRUE(board_->WaitListening(kWait)) << "the board sees the host leave";
    EXPECT_TRUE(WirrowUnloaded()) << "Wirrow stays loaded";
}

TEST_F(WirrowUnload, WirrowReleasedAndLoadedAgainWatchesRemovalsAgain) {
    for (int round = 0; round < 2; ++round) {
        HMODULE wirrow = ::LoadLibraryA(folder_.File("Wirrow.dll").c_str());
        ASSERT_NE(nullptr, wirrow);
        auto startup = Export<PFN_CommStartup>(wirrow, "CommStartup");
        auto cleanup = Export<PFN_CommCleanup>(wirrow, "CommCleanup");
        auto open = Export<PFN_CommOpen>(wirrow, "CommOpen");
        auto connect = Export<PFN_CommConnect>(wirrow, "CommConnect");
        auto receive = Export<PFN_CommReceiveData>(wirrow, "CommReceiveData");
        ASSERT_TRUE(startup && cleanup && open && connect && receive);
        ASSERT_EQ(0u, startup());
        HCOMM handle = nullptr;
        ASSERT_EQ(0u, open(board_->InterfacePath().c_str(), 0, &handle, nullptr, 0));
        const uint8_t subchannel = 1;
        ASSERT_EQ(0u, connect(handle, 'B', &subchannel, nullptr, nullptr));
        // The window class of a released library must not outlive it: the removal report reaches
        // the window of the library loaded now.
        UniqueHandle done = MakeEvent(true, false);
        CommResult received = 0;
        Thread waiter;
        ASSERT_TRUE(waiter.Start([&] {
            uint8_t buffer[32];
            uint32_t length = sizeof(buffer);
            received = receive(handle, buffer, &length, nullptr, nullptr);
            ::SetEvent(done.Get());
        }));
        ASSERT_NE(nullptr, WaitLinkWindow(handle)) << "the handle's window watches";
        ASSERT_EQ(0u, board_->Unplug());
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.Get(), kWait));
        EXPECT_EQ(1167u, received);
        EXPECT_TRUE(waiter.Join(kWait));
        EXPECT_EQ(0u, cleanup());
        ::FreeLibrary(wirrow);
        EXPECT_TRUE(WirrowUnloaded());
        ASSERT_EQ(0u, board_->Replug());
        ASSERT_TRUE(board_->WaitListening(kWait));
    }
}

TEST_F(WirrowUnload, ProcessExitWithConnectedHandlesAndAWaitingReceiveEnds) {
    const std::string host = BinaryFolder() + "\\wirrow-unload-tests\\wirrow_unload_exit_host.exe";
    std::string commandLine =
        "\"" + host + "\" \"" + folder_.File("Communicator.dll") + "\" \"" + board_->InterfacePath() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessA(host.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(processHandle.Get(), 30000)) << "the process does not end";
    DWORD exitCode = 99;
    ::GetExitCodeProcess(processHandle.Get(), &exitCode);
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(board_->WaitLinkUp(0) || !board_->Events().empty()) << "the host connected";
    EXPECT_TRUE(board_->WaitListening(kWait)) << "the board sees the host leave";
}

}  // namespace
