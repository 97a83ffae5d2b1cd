// Communicator.dll through its real boundary: loaded by path into this process,
// its exports called, and the calls that reach the recording transports read
// back from their shared log.
#include "TestSupport.h"

#include "CloseRace.h"
#include "ProgramFolder.h"
#include "ProtectedPage.h"
#include "TextChecks.h"
#include "Thread.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <array>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <set>

using recording::Entry;
using recording::kCom;
using recording::kTcp;
using recording::kUsb;

namespace {

constexpr const char *kAllRecordingTransports[] = {"testtransports\\recording\\Netrow.dll",
                                                   "testtransports\\recording\\Serrow.dll",
                                                   "testtransports\\recording\\Wirrow.dll"};

class CommunicatorDll : public testing::Test {
protected:
    void SetUp() override {
        libraryFolder = folder.Subfolder("lib");
        // The current folder takes part in the plain-name library search: make it
        // one that holds nothing, so only what a test puts in place is found.
        std::string workFolder = folder.Subfolder("work");
        GetCurrentDirectoryA(MAX_PATH, savedDirectory);
        SetCurrentDirectoryA(workFolder.c_str());
        CopyBuildFile("Communicator.dll", libraryFolder);
        CopyBuildFile("Hivekey.dll", libraryFolder);
    }

    void TearDown() override {
        communicator.Unload();
        SetDllDirectoryA(nullptr);
        SetCurrentDirectoryA(savedDirectory);
    }

    void Install(std::initializer_list<const char *> files) { Install(files, libraryFolder); }
    void Install(std::initializer_list<const char *> files, const std::string &target) {
        for (const char *file : files) CopyBuildFile(file, target);
    }
    void InstallAll() {
        for (const char *file : kAllRecordingTransports) CopyBuildFile(file, libraryFolder);
    }

    void Load() { ASSERT_TRUE(communicator.Load(libraryFolder + "\\Communicator.dll")); }

    // Opens and expects success.
    HCOMM Open(const char *address, const char *routerHost = nullptr, uint32_t routerPort = kRouterPort) {
        HCOMM handle = nullptr;
        EXPECT_EQ(COMM_SUCCESS, communicator.open(address, 0, &handle, routerHost, routerPort));
        EXPECT_NE(nullptr, handle);
        return handle;
    }

    // The transport handle delivered by the transport's n-th CommOpen.
    uint64_t TransportHandle(std::size_t n = 0) const {
        auto opens = log.Calls(recording::kOpen);
        return n < opens.size() ? opens[n].handle : 0;
    }

    RecordingLogView log;
    TempFolder folder{"comm-test-"};
    std::string libraryFolder;
    char savedDirectory[MAX_PATH] = {};
    CommunicatorLibrary communicator;
};

std::string FolderOf(const char *path) {
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

// --- Loading and starting the transports ---------------------------------------

TEST_F(CommunicatorDll, ExportsNoStartupOrCleanup) {
    Load();
    EXPECT_EQ(nullptr, GetProcAddress(communicator.module, "CommStartup"));
    EXPECT_EQ(nullptr, GetProcAddress(communicator.module, "CommCleanup"));
}

TEST_F(CommunicatorDll, CarriesItsVersionResource) {
    std::string path = libraryFolder + "\\Communicator.dll";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000002u, fixed->dwFileVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    char *name = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904e4\\OriginalFilename",
                               reinterpret_cast<void **>(&name), &length));
    EXPECT_STREQ("Communicator.dll", name);
}

TEST_F(CommunicatorDll, FirstUsbOpenLoadsOnlyWirrowAndStartsItOnce) {
    InstallAll();
    Load();
    EXPECT_EQ(0u, log.Entries().size()) << "loading Communicator loads no transport";
    Open(kUsbPath);
    EXPECT_EQ(1u, log.Count(recording::kAttach));
    EXPECT_EQ(1u, log.Count(recording::kAttach, kUsb));
    EXPECT_EQ(1u, log.Count(recording::kStartup));
    EXPECT_EQ(1u, log.Count(recording::kStartup, kUsb));
    auto entries = log.Entries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(recording::kAttach, entries[0].call);
    EXPECT_EQ(recording::kStartup, entries[1].call);
    EXPECT_EQ(recording::kOpen, entries[2].call);
    EXPECT_STREQ(kUsbPath, entries[2].text[0]);
}

TEST_F(CommunicatorDll, SecondOpenThroughTheSameRowNeitherLoadsNorStartsAgain) {
    InstallAll();
    Load();
    HCOMM first = Open(kUsbPath);
    HCOMM second = Open(kOtherUsbPath);
    EXPECT_NE(first, second);
    EXPECT_EQ(1u, log.Count(recording::kAttach));
    EXPECT_EQ(1u, log.Count(recording::kStartup));
    EXPECT_EQ(2u, log.Count(recording::kOpen, kUsb));
}

TEST_F(CommunicatorDll, PlainNameSearchComesFirst) {
    std::string searchFolder = folder.Subfolder("search");
    Install({"testtransports\\recording\\Wirrow.dll"}, searchFolder);
    // Beside Communicator lies a Wirrow.dll that would fail with 127.
    Install({"testtransports\\missing-export\\Wirrow.dll"});
    ASSERT_TRUE(SetDllDirectoryA(searchFolder.c_str()));
    Load();
    Open(kUsbPath);
    auto attaches = log.Calls(recording::kAttach);
    ASSERT_EQ(1u, attaches.size());
    EXPECT_STRCASEEQ(searchFolder.c_str(), FolderOf(attaches[0].text[0]).c_str());
}

TEST_F(CommunicatorDll, LibraryBesideCommunicatorIsFoundWhenNotOnTheSearchPath) {
    Install({"testtransports\\recording\\Wirrow.dll"});
    Load();
    Open(kUsbPath);
    auto attaches = log.Calls(recording::kAttach);
    ASSERT_EQ(1u, attaches.size());
    EXPECT_STRCASEEQ(libraryFolder.c_str(), FolderOf(attaches[0].text[0]).c_str());
}

TEST_F(CommunicatorDll, MissingLibraryGives126AndLeavesTheHandleUntouched) {
    Load();
    auto sentinel = reinterpret_cast<HCOMM>(0x5A5A);
    HCOMM handle = sentinel;
    EXPECT_EQ(COMM_ERROR_MOD_NOT_FOUND, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(COMM_ERROR_MOD_NOT_FOUND, communicator.open(kSerialPort, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(COMM_ERROR_MOD_NOT_FOUND, communicator.open("board.example", 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(sentinel, handle);
    // Installed later, the library is found by the next open.
    Install({"testtransports\\recording\\Wirrow.dll"});
    Open(kUsbPath);
    EXPECT_EQ(1u, log.Count(recording::kStartup));
}

TEST_F(CommunicatorDll, MissingFunctionGives127AgainWithoutReloadOrRestart) {
    Install({"testtransports\\missing-export\\Wirrow.dll"});
    Load();
    auto sentinel = reinterpret_cast<HCOMM>(0x5A5A);
    HCOMM handle = sentinel;
    EXPECT_EQ(COMM_ERROR_PROC_NOT_FOUND, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(COMM_ERROR_PROC_NOT_FOUND, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(sentinel, handle);
    EXPECT_EQ(1u, log.Count(recording::kAttach));
    EXPECT_EQ(1u, log.Count(recording::kStartup));
    EXPECT_EQ(0u, log.Count(recording::kOpen));

    // The library was started, so unload cleans it up once and releases it.
    communicator.Unload();
    EXPECT_EQ(1u, log.Count(recording::kCleanup));
    EXPECT_EQ(1u, log.Count(recording::kDetach));
}

TEST_F(CommunicatorDll, StartupFailureIsPassedOnAndStartupRetriedByTheNextOpen) {
    InstallAll();
    log.Behaviour(kUsb).results[recording::kStartup] = 0x2A;
    Load();
    HCOMM handle = nullptr;
    EXPECT_EQ(0x2Au, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0u, log.Count(recording::kOpen));

    log.Behaviour(kUsb).results[recording::kStartup] = 0;
    Open(kUsbPath);
    Open(kOtherUsbPath);
    EXPECT_EQ(1u, log.Count(recording::kAttach)) << "the library stays loaded after the failure";
    EXPECT_EQ(2u, log.Count(recording::kStartup)) << "no start after the successful one";
    EXPECT_EQ(2u, log.Count(recording::kOpen));
}

TEST_F(CommunicatorDll, UnloadAfterAFailedStartupCallsNoTransportFunction) {
    InstallAll();
    log.Behaviour(kUsb).results[recording::kStartup] = 5;
    Load();
    HCOMM handle = nullptr;
    EXPECT_EQ(5u, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    communicator.Unload();
    auto entries = log.Entries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(recording::kAttach, entries[0].call);
    EXPECT_EQ(recording::kStartup, entries[1].call);
    EXPECT_EQ(recording::kDetach, entries[2].call);
}

// --- Choosing the transport ---------------------------------------------------------

struct RowCase {
    const char *address;
    const char *routerHost;
    uint32_t routerPort;
    recording::Kind expected;
};

class TransportChoice : public CommunicatorDll, public testing::WithParamInterface<RowCase> {};

TEST_P(TransportChoice, OpensThroughTheExpectedRowOnly) {
    const RowCase &row = GetParam();
    InstallAll();
    Load();
    Open(row.address, row.routerHost, row.routerPort);
    auto opens = log.Calls(recording::kOpen);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(row.expected, opens[0].kind);
    auto attaches = log.Calls(recording::kAttach);
    ASSERT_EQ(1u, attaches.size()) << "no other transport is loaded";
    EXPECT_EQ(row.expected, attaches[0].kind);
}

const RowCase kRowCases[] = {
    {"com7", nullptr, kRouterPort, kCom},
    {"COM12", nullptr, 0, kCom},
    {"\\\\?\\USB#VID_1234&PID_5678#SIM0#{CB98B0D6-AEA0-42CC-BEDD-24564F5ABCEE}", nullptr, kRouterPort, kUsb},
    {kUsbPath, nullptr, kRouterPort, kUsb},
    {"CO", nullptr, kRouterPort, kTcp},
    {"\\\\?\\hid#vid_1234&pid_5678#sim0#{4d1e55b2-f16f-11cf-88cb-001111000030}", nullptr, kRouterPort, kTcp},
    {"192.168.10.20", nullptr, kRouterPort, kTcp},
    {"", nullptr, kRouterPort, kTcp},
    {"COM3", kRouterHost, kRouterPort, kTcp},
    {kUsbPath, "router.example", 1, kTcp},
    {"COM3", kRouterHost, 0, kCom},
    {"COM3", kRouterHost, 65536, kCom},
    {"COM3", "", kRouterPort, kCom},
    {kUsbPath, "", kRouterPort, kUsb},
    {nullptr, kRouterHost, kRouterPort, kTcp},
};

INSTANTIATE_TEST_SUITE_P(Addresses, TransportChoice, testing::ValuesIn(kRowCases));

TEST_F(CommunicatorDll, OneLibraryPerKindServesMixedOpens) {
    InstallAll();
    Load();
    Open(kUsbPath);
    Open(kSerialPort);
    Open("board.example");
    Open(kOtherUsbPath);
    Open("com4");
    for (auto kind : {kTcp, kCom, kUsb}) {
        EXPECT_EQ(1u, log.Count(recording::kAttach, kind));
        EXPECT_EQ(1u, log.Count(recording::kStartup, kind));
    }
    EXPECT_EQ(2u, log.Count(recording::kOpen, kUsb));
    EXPECT_EQ(2u, log.Count(recording::kOpen, kCom));
    EXPECT_EQ(1u, log.Count(recording::kOpen, kTcp));
}

// --- Passing calls through ------------------------------------------------------------

TEST_F(CommunicatorDll, OpenPassesItsFiveArgumentsUnchanged) {
    InstallAll();
    Load();
    const char address[] = "COM9";
    const char host[] = "10.1.2.3";
    HCOMM handle = nullptr;
    ASSERT_EQ(COMM_SUCCESS, communicator.open(address, 0xA5A5F00Du, &handle, host, 0x12346666u));
    auto opens = log.Calls(recording::kOpen, kTcp);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(Bits(address), opens[0].args[0]);
    EXPECT_EQ(0xA5A5F00Du, opens[0].args[1]);
    EXPECT_NE(0u, opens[0].args[2]);
    EXPECT_EQ(Bits(host), opens[0].args[3]);
    EXPECT_EQ(0x12346666u, opens[0].args[4]) << "the port reaches the transport whole";
    EXPECT_NE(opens[0].handle, Bits(handle)) << "the caller gets Communicator's own handle";
}

TEST_F(CommunicatorDll, EachPassThroughCallSwapsOnlyTheHandle) {
    InstallAll();
    auto &behaviour = log.Behaviour(kUsb);
    behaviour.results[recording::kGetOption] = 87;
    behaviour.results[recording::kSetOption] = 1230;
    behaviour.results[recording::kConnect] = 1167;
    behaviour.results[recording::kDisconnect] = 0x77;
    behaviour.results[recording::kSendData] = 1460;
    behaviour.results[recording::kReceiveData] = 8;
    Load();
    Open(kSerialPort);  // another open record, so that the swap is not a guess
    HCOMM handle = Open(kUsbPath);
    uint64_t transportHandle = log.Calls(recording::kOpen, kUsb).at(0).handle;

    uint32_t value = 0;
    uint8_t byte = 1;
    std::array<uint8_t, 16> request{}, reply{};
    std::array<uint8_t, 32> data{};
    uint32_t length = sizeof(data);
    uint8_t channel = 0, subchannel = 0;
    EXPECT_EQ(87u, communicator.getOption(handle, 0xDEAD0001u, &value));
    EXPECT_EQ(1230u, communicator.setOption(handle, 0xDEAD0002u, &byte));
    EXPECT_EQ(1167u, communicator.connect(handle, 0x11223344u, &byte, request.data(), reply.data()));
    EXPECT_EQ(0x77u, communicator.disconnect(handle));
    EXPECT_EQ(1460u, communicator.sendData(handle, data.data(), 0x87654321u, 0xAABBCC42u, 0x01020301u));
    EXPECT_EQ(8u, communicator.receiveData(handle, data.data(), &length, &channel, &subchannel));

    auto usbCalls = log.Entries();
    std::vector<Entry> passed;
    for (const Entry &entry : usbCalls) {
        if (entry.kind == kUsb && entry.call >= recording::kGetOption) passed.push_back(entry);
    }
    ASSERT_EQ(6u, passed.size());
    for (const Entry &entry : passed) EXPECT_EQ(transportHandle, entry.handle) << "call " << entry.call;
    EXPECT_EQ(recording::kGetOption, passed[0].call);
    EXPECT_EQ(0xDEAD0001u, passed[0].args[0]);
    EXPECT_EQ(Bits(&value), passed[0].args[1]);
    EXPECT_EQ(recording::kSetOption, passed[1].call);
    EXPECT_EQ(0xDEAD0002u, passed[1].args[0]);
    EXPECT_EQ(Bits(&byte), passed[1].args[1]);
    EXPECT_EQ(recording::kConnect, passed[2].call);
    EXPECT_EQ(0x11223344u, passed[2].args[0]);
    EXPECT_EQ(Bits(&byte), passed[2].args[1]);
    EXPECT_EQ(Bits(request.data()), passed[2].args[2]);
    EXPECT_EQ(Bits(reply.data()), passed[2].args[3]);
    EXPECT_EQ(recording::kDisconnect, passed[3].call);
    EXPECT_EQ(recording::kSendData, passed[4].call);
    EXPECT_EQ(Bits(data.data()), passed[4].args[0]);
    EXPECT_EQ(0x87654321u, passed[4].args[1]);
    EXPECT_EQ(0xAABBCC42u, passed[4].args[2]);
    EXPECT_EQ(0x01020301u, passed[4].args[3]);
    EXPECT_EQ(recording::kReceiveData, passed[5].call);
    EXPECT_EQ(Bits(data.data()), passed[5].args[0]);
    EXPECT_EQ(Bits(&length), passed[5].args[1]);
    EXPECT_EQ(Bits(&channel), passed[5].args[2]);
    EXPECT_EQ(Bits(&subchannel), passed[5].args[3]);
    EXPECT_EQ(0u, log.Count(recording::kGetOption, kCom));
}

TEST_F(CommunicatorDll, HandlesNotOpenAreRefusedWithSixWithoutReachingATransport) {
    InstallAll();
    Load();
    HCOMM closed = Open(kUsbPath);
    Open(kOtherUsbPath);
    ASSERT_EQ(COMM_SUCCESS, communicator.close(closed));
    std::size_t before = log.Entries().size();
    uint32_t value = 0;
    uint32_t length = 4;
    const std::function<CommResult(HCOMM)> calls[] = {
        [&](HCOMM h) { return communicator.getOption(h, 1, &value); },
        [&](HCOMM h) { return communicator.setOption(h, 4, &value); },
        [&](HCOMM h) { return communicator.connect(h, 66, nullptr, nullptr, nullptr); },
        [&](HCOMM h) { return communicator.disconnect(h); },
        [&](HCOMM h) { return communicator.sendData(h, &value, 4, 66, 1); },
        [&](HCOMM h) { return communicator.receiveData(h, &value, &length, nullptr, nullptr); },
        [&](HCOMM h) { return communicator.close(h); }};
    for (HCOMM handle : {HCOMM(nullptr), closed, reinterpret_cast<HCOMM>(0x12345678)}) {
        for (std::size_t call = 0; call < std::size(calls); ++call) {
            SetLastError(0);
            EXPECT_EQ(COMM_ERROR_INVALID_HANDLE, calls[call](handle)) << "call " << call << " on " << handle;
            EXPECT_EQ(COMM_ERROR_INVALID_HANDLE, GetLastError()) << "call " << call << " on " << handle;
        }
    }
    EXPECT_EQ(before, log.Entries().size());
}

// A missing address counts as one wherever no router pair names the device.
TEST_F(CommunicatorDll, OpenWithoutAnOutParameterOrAnAddressGivesEPointerAndLoadsNothing) {
    InstallAll();
    Load();
    EXPECT_EQ(COMM_E_POINTER, communicator.open(kUsbPath, 0, nullptr, nullptr, kRouterPort));
    const struct {
        const char *routerHost;
        uint32_t routerPort;
    } withoutRouter[] = {{nullptr, kRouterPort}, {"", kRouterPort}, {kRouterHost, 0}, {kRouterHost, 65536}};
    for (const auto &row : withoutRouter) {
        HCOMM handle = reinterpret_cast<HCOMM>(0x5A5A);
        EXPECT_EQ(COMM_E_POINTER, communicator.open(nullptr, 0, &handle, row.routerHost, row.routerPort))
            << (row.routerHost ? row.routerHost : "(null)") << ":" << row.routerPort;
        EXPECT_EQ(reinterpret_cast<HCOMM>(0x5A5A), handle);
    }
    EXPECT_EQ(0u, log.Count(recording::kAttach)) << "no transport is loaded for them";
    EXPECT_EQ(0u, log.Count(recording::kOpen));
}

// --- The address check of CommConnect -------------------------------------------------

TEST_F(CommunicatorDll, ConnectWithNullBlocksReachesTheTransport) {
    InstallAll();
    Load();
    HCOMM handle = Open(kUsbPath);
    EXPECT_EQ(COMM_SUCCESS, communicator.connect(handle, 66, nullptr, nullptr, nullptr));
    auto connects = log.Calls(recording::kConnect);
    ASSERT_EQ(1u, connects.size());
    EXPECT_EQ(66u, connects[0].args[0]);
    EXPECT_EQ(0u, connects[0].args[1]);
    EXPECT_EQ(0u, connects[0].args[2]);
    EXPECT_EQ(0u, connects[0].args[3]);
}

TEST_F(CommunicatorDll, ConnectAcceptsAReadOnlyRequestAndAWritableReply) {
    InstallAll();
    Load();
    HCOMM handle = Open(kUsbPath);
    ProtectedPage readOnly(PAGE_READONLY);
    ProtectedPage writable(PAGE_READWRITE);
    ASSERT_NE(nullptr, readOnly.Base());
    ASSERT_NE(nullptr, writable.Base());
    // Blocks that end exactly at the end of their pages.
    EXPECT_EQ(COMM_SUCCESS, communicator.connect(handle, 66, nullptr, readOnly.Base() + 4080, writable.Base() + 4080));
    EXPECT_EQ(1u, log.Count(recording::kConnect));
}

TEST_F(CommunicatorDll, ConnectRefusesUnusableBlocksWith87WithoutCallingTheTransport) {
    InstallAll();
    Load();
    HCOMM handle = Open(kUsbPath);
    ProtectedPage readOnly(PAGE_READONLY);
    ProtectedPage noAccess(PAGE_NOACCESS);
    std::array<uint8_t, 16> block{};
    ASSERT_NE(nullptr, readOnly.Base());
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, nullptr, readOnly.Base()));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, block.data(), readOnly.Base()));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, noAccess.Base(), nullptr));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, noAccess.Base(), block.data()));
    // A reply block that runs from a committed page into a reserved one.
    auto *reserved = static_cast<uint8_t *>(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(nullptr, reserved);
    ASSERT_NE(nullptr, VirtualAlloc(reserved, 4096, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, nullptr, reserved + 4096 - 8));
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, communicator.connect(handle, 66, nullptr, reserved + 4096 - 8, nullptr));
    VirtualFree(reserved, 0, MEM_RELEASE);
    EXPECT_EQ(0u, log.Count(recording::kConnect));
}

// --- Closing ---------------------------------------------------------------------------

TEST_F(CommunicatorDll, CloseReturnsTheTransportErrorAndFreesTheRecordAnyway) {
    InstallAll();
    log.Behaviour(kUsb).results[recording::kClose] = 1167;
    Load();
    HCOMM handle = Open(kUsbPath);
    EXPECT_EQ(1167u, communicator.close(handle));
    auto closes = log.Calls(recording::kClose);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(TransportHandle(), closes[0].handle);
    // The record is gone: a second close is refused, and unload closes nothing.
    EXPECT_EQ(COMM_ERROR_INVALID_HANDLE, communicator.close(handle));
    communicator.Unload();
    EXPECT_EQ(1u, log.Count(recording::kClose));
    EXPECT_EQ(1u, log.Count(recording::kCleanup));
}

TEST_F(CommunicatorDll, FailedTransportOpenLeavesTheOutParameterAndTheListAlone) {
    InstallAll();
    log.Behaviour(kUsb).results[recording::kOpen] = 2;
    Load();
    auto sentinel = reinterpret_cast<HCOMM>(0x5A5A);
    HCOMM handle = sentinel;
    EXPECT_EQ(2u, communicator.open(kUsbPath, 0, &handle, nullptr, kRouterPort));
    EXPECT_EQ(sentinel, handle);
    communicator.Unload();
    EXPECT_EQ(0u, log.Count(recording::kClose)) << "no record was made that unload would close";
}

TEST_F(CommunicatorDll, TwoRecordsOfOneTransportHandleCloseItOnceWithTheLastRecord) {
    InstallAll();
    log.Behaviour(kUsb).sameHandleForSamePath = 1;
    Load();
    HCOMM first = Open(kUsbPath);
    HCOMM second = Open(kUsbPath);
    EXPECT_NE(first, second);
    ASSERT_EQ(TransportHandle(0), TransportHandle(1));
    EXPECT_EQ(COMM_SUCCESS, communicator.close(first));
    EXPECT_EQ(0u, log.Count(recording::kClose)) << "the second record still uses the transport handle";
    uint32_t value = 0;
    EXPECT_EQ(COMM_SUCCESS, communicator.getOption(second, 1, &value));
    EXPECT_EQ(COMM_SUCCESS, communicator.close(second));
    auto closes = log.Calls(recording::kClose);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(TransportHandle(0), closes[0].handle);
}

TEST_F(CommunicatorDll, TwoRecordsOfOneTransportHandleClosedLaterFirst) {
    InstallAll();
    log.Behaviour(kUsb).sameHandleForSamePath = 1;
    Load();
    HCOMM first = Open(kUsbPath);
    HCOMM second = Open(kUsbPath);
    EXPECT_EQ(COMM_SUCCESS, communicator.close(second));
    EXPECT_EQ(0u, log.Count(recording::kClose));
    EXPECT_EQ(COMM_SUCCESS, communicator.close(first));
    EXPECT_EQ(1u, log.Count(recording::kClose));
    communicator.Unload();
    EXPECT_EQ(1u, log.Count(recording::kClose));
}

TEST_F(CommunicatorDll, UnloadClosesASharedTransportHandleOnce) {
    InstallAll();
    log.Behaviour(kUsb).sameHandleForSamePath = 1;
    Load();
    Open(kUsbPath);
    Open(kOtherUsbPath);
    Open(kUsbPath);
    communicator.Unload();
    auto closes = log.Calls(recording::kClose);
    ASSERT_EQ(2u, closes.size());
    EXPECT_EQ(TransportHandle(1), closes[0].handle);
    EXPECT_EQ(TransportHandle(0), closes[1].handle);
    EXPECT_NE(closes[0].handle, closes[1].handle);
}

// --- Unloading Communicator ---------------------------------------------------------------

TEST_F(CommunicatorDll, UnloadWithNoTransportLoadedCallsNothing) {
    InstallAll();
    Load();
    communicator.Unload();
    EXPECT_EQ(0u, log.Entries().size());
}

TEST_F(CommunicatorDll, UnloadClosesLaterHandlesFirstThenCleansUpUsbComTcp) {
    InstallAll();
    Load();
    Open("board.example");
    Open(kSerialPort);
    Open(kUsbPath);
    Open(kOtherUsbPath);
    std::size_t before = log.Entries().size();
    std::string usbPath = libraryFolder + "\\Wirrow.dll";
    ASSERT_NE(nullptr, GetModuleHandleA(usbPath.c_str()));
    communicator.Unload();

    auto entries = log.Entries();
    // The libraries' own detach runs once the loader has finished with
    // Communicator; the calls Communicator makes are in its order.
    std::vector<std::pair<uint32_t, uint32_t>> teardown;  // kind, call
    std::vector<uint32_t> detached;
    for (std::size_t index = before; index < entries.size(); ++index) {
        if (entries[index].call == recording::kDetach) {
            detached.push_back(entries[index].kind);
        } else {
            teardown.emplace_back(entries[index].kind, entries[index].call);
        }
    }
    std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {kUsb, recording::kClose},   {kUsb, recording::kClose},   {kCom, recording::kClose},
        {kTcp, recording::kClose},   {kUsb, recording::kCleanup}, {kCom, recording::kCleanup},
        {kTcp, recording::kCleanup}};
    EXPECT_EQ(expected, teardown);
    EXPECT_EQ(3u, detached.size());
    EXPECT_EQ(TransportHandle(3), entries[before].handle) << "the later USB handle first";
    EXPECT_EQ(TransportHandle(2), entries[before + 1].handle);
    for (const Entry &detach : log.Calls(recording::kDetach)) EXPECT_EQ(0u, detach.args[0]);
    EXPECT_EQ(nullptr, GetModuleHandleA(usbPath.c_str())) << "the transport library is released";
}

TEST_F(CommunicatorDll, ClosedHandlesAreNotClosedAgainAtUnload) {
    InstallAll();
    Load();
    HCOMM first = Open(kUsbPath);
    Open(kOtherUsbPath);
    EXPECT_EQ(COMM_SUCCESS, communicator.close(first));
    communicator.Unload();
    auto closes = log.Calls(recording::kClose);
    ASSERT_EQ(2u, closes.size());
    EXPECT_EQ(TransportHandle(0), closes[0].handle);
    EXPECT_EQ(TransportHandle(1), closes[1].handle);
}

// Library images of this process loaded from `folder`.
std::size_t ImagesFrom(const std::string &folder) {
    std::size_t count = 0;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Module32First(snapshot.Get(), &entry); more; more = Module32Next(snapshot.Get(), &entry))
        if (StartsWithIgnoringCase(entry.szExePath, folder)) ++count;
    return count;
}

// Handles that the C++ runtime linked into every library of this build keeps of each image that
// is loaded and freed again, measured on a library of nothing but that runtime. None in the 64-bit
// build; in the 32-bit one the DWARF unwinder makes the lock of its frame registry when the image
// registers its frames, and nothing in the static runtime gives it back at unload.
DWORD RuntimeHandlesPerImage(const std::string &library) {
    auto cycle = [&] {
        HMODULE module = LoadLibraryExA(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        EXPECT_NE(nullptr, module) << library;
        if (module) FreeLibrary(module);
    };
    cycle();
    constexpr DWORD kRounds = 4;
    const DWORD before = CountProcessHandles();
    for (DWORD round = 0; round < kRounds; ++round) cycle();
    const DWORD kept = CountProcessHandles() - before;
    EXPECT_EQ(0u, kept % kRounds) << "the runtime keeps the same of every image";
    return kept / kRounds;
}

TEST_F(CommunicatorDll, RepeatedLoadAndUnloadKeepsTheProcessHandleCountStable) {
    InstallAll();
    CopyBuildFile("RuntimeOnly.dll", folder.Subfolder("runtime"));
    std::size_t imagesPerCycle = 0;
    auto cycle = [&] {
        Load();
        HCOMM usb = Open(kUsbPath);
        Open(kSerialPort);
        imagesPerCycle = ImagesFrom(libraryFolder + "\\");  // Communicator, Hivekey and two transports
        EXPECT_EQ(COMM_SUCCESS, communicator.close(usb));
        communicator.Unload();
    };
    cycle();  // first-use work of the system (sockets provider, ...) happens once
    const DWORD runtimeKeeps = RuntimeHandlesPerImage(folder.Subfolder("runtime") + "\\RuntimeOnly.dll");
    DWORD before = CountProcessHandles();
    {
        // The count must see a single handle, or the comparison below proves nothing.
        UniqueHandle probe = MakeEvent(false, false);
        ASSERT_EQ(before + 1, CountProcessHandles());
    }
    constexpr int kCycles = 12;
    for (int round = 0; round < kCycles; ++round) cycle();
    EXPECT_EQ(4u, imagesPerCycle);
    EXPECT_EQ(before + kCycles * imagesPerCycle * runtimeKeeps, CountProcessHandles())
        << "beyond the " << runtimeKeeps << " handles the C++ runtime keeps of each of the " << imagesPerCycle
        << " library images";
    EXPECT_EQ(static_cast<std::size_t>(kCycles + 1), log.Count(recording::kCleanup, kUsb));
    EXPECT_EQ(static_cast<std::size_t>(kCycles + 1), log.Count(recording::kDetach, kCom));
}

// --- Threads ------------------------------------------------------------------------------

TEST_F(CommunicatorDll, ConcurrentOpensLoadAndStartTheLibraryOnce) {
    InstallAll();
    log.Behaviour(kUsb).startupDelayMs = 50;  // keeps the other threads arriving during the start
    Load();
    constexpr int kThreads = 8;
    UniqueHandle go = MakeEvent(true, false);
    std::array<Thread, kThreads> threads;
    std::array<HCOMM, kThreads> handles{};
    std::array<CommResult, kThreads> results{};
    std::array<std::string, kThreads> paths;
    for (int index = 0; index < kThreads; ++index) {
        paths[index] = "\\\\?\\usb#vid_1234&pid_5678#thread" + std::to_string(index);
        ASSERT_TRUE(threads[index].Start([&, index] {
            WaitForSingleObject(go.Get(), 10000);
            results[index] = communicator.open(paths[index].c_str(), 0, &handles[index], nullptr, kRouterPort);
        }));
    }
    SetEvent(go.Get());
    for (auto &thread : threads) ASSERT_TRUE(thread.Join(30000));
    std::set<HCOMM> distinct;
    for (int index = 0; index < kThreads; ++index) {
        EXPECT_EQ(COMM_SUCCESS, results[index]);
        distinct.insert(handles[index]);
    }
    EXPECT_EQ(static_cast<std::size_t>(kThreads), distinct.size());
    EXPECT_EQ(1u, log.Count(recording::kAttach));
    EXPECT_EQ(1u, log.Count(recording::kStartup));
    EXPECT_EQ(static_cast<std::size_t>(kThreads), log.Count(recording::kOpen));

    // Closing from as many threads leaves nothing for the unload to close.
    std::array<Thread, kThreads> closers;
    for (int index = 0; index < kThreads; ++index) {
        ASSERT_TRUE(closers[index].Start([&, index] { results[index] = communicator.close(handles[index]); }));
    }
    for (auto &thread : closers) ASSERT_TRUE(thread.Join(30000));
    for (CommResult result : results) EXPECT_EQ(COMM_SUCCESS, result);
    communicator.Unload();
    EXPECT_EQ(static_cast<std::size_t>(kThreads), log.Count(recording::kClose));
}

TEST_F(CommunicatorDll, CallsRacingTheCloseOfTheirHandleNeverUseTheFreedRecord) {
    InstallAll();
    Load();
    constexpr int kRounds = 3000;
    CloseRaceCounts counts;
    RunCloseRace(kRounds, 4,
                 {communicator.sendData, communicator.receiveData, communicator.getOption, communicator.disconnect,
                  communicator.close},
                 [&] { return Open(kUsbPath); }, counts);
    EXPECT_EQ(4 * kRounds, counts.afterClose.load());
    EXPECT_EQ(0, counts.notSixAfterClose.load());
    EXPECT_EQ(0, counts.unexpected.load());
}

// --- Process exit -----------------------------------------------------------------------

TEST_F(CommunicatorDll, ProcessExitWithHandlesOpenCallsNoTransport) {
    InstallAll();
    // The host runs in this test's empty working folder, as the test does.
    ToolRun host;
    ASSERT_TRUE(host.Start(ProgramFolder() + "\\communicator_exit_host.exe",
                           "\"" + libraryFolder + "\\Communicator.dll\"", folder.File("work")));
    ASSERT_NE(-1, host.Finish(60000));
    EXPECT_EQ(0, host.exitCode);
    EXPECT_EQ(2u, log.Count(recording::kOpen)) << "the host opened its handles";
    EXPECT_EQ(0u, log.Count(recording::kClose));
    EXPECT_EQ(0u, log.Count(recording::kCleanup));
    for (const Entry &detach : log.Calls(recording::kDetach)) EXPECT_EQ(1u, detach.args[0]) << "process exit";
}

}  // namespace
