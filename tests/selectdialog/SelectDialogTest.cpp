// CommSelectDevice as a host program's user meets it: Communicator.dll is
// loaded by path, the dialog runs its modal loop on a thread of the test and is
// driven from the test's own thread with window messages, as clicks and keys
// would. The routers are simulated on loopback, the store is the registry of
// the sandbox's Wine prefix.
#include "CommApi.h"
#include "FlashwellDriver.h"
#include "Hivekey.h"
#include "Library.h"
#include "SimulatedRouters.h"
#include "Thread.h"
#include "ProgramFolder.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

using flashwelltest::WaitUntil;
using routersim::SimulatedRouters;

namespace {

constexpr int kRouterList = 1000, kDeviceList = 1001, kAddRouter = 1002, kHostField = 1003, kRemoveRouter = 1004,
              kPortField = 1005, kMessageText = 0xFFFF;
constexpr std::uint16_t kAlphaPort = 26300, kBetaPort = 26301, kHomePort = 26302;
constexpr DWORD kWaitMs = 20000;
const std::vector<UINT> kUnlockKeys = {VK_F8, 'L', 'O', 'C', 'A', 'L', 'S', VK_F8};

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof(name);
    ::GetComputerNameA(name, &length);
    return name;
}

std::string RouterEntry(const std::string &name, std::uint16_t port, const char *address = "127.0.0.1") {
    return name + " (" + address + " : " + std::to_string(port) + ")";
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kWaitMs, &result)) return -1;
    return static_cast<LRESULT>(result);
}

struct TopWindowSearch {
    std::string caption;
    int itemId;
    std::vector<HWND> exclude;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND window, LPARAM parameter) {
    auto *search = reinterpret_cast<TopWindowSearch *>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window)) return TRUE;
    if (std::find(search->exclude.begin(), search->exclude.end(), window) != search->exclude.end()) return TRUE;
    if (!search->caption.empty() && flashwelltest::WindowText(window) != search->caption) return TRUE;
    if (!::GetDlgItem(window, search->itemId)) return TRUE;
    search->found = window;
    return FALSE;
}

// A visible window of this process with the caption (any when empty) and the
// control, other than the excluded ones.
HWND WaitForWindow(const std::string &caption, int itemId, std::vector<HWND> exclude = {}) {
    TopWindowSearch search{caption, itemId, std::move(exclude), nullptr};
    WaitUntil(
        [&] {
            search.found = nullptr;
            ::EnumWindows(&MatchTopWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        kWaitMs);
    return search.found;
}

// One control of a dialog template (DLGTEMPLATE, as the resource compiler writes it).
struct TemplateItem {
    int id;
    std::wstring className;  // by name, or "#0x80" for a predefined class
    std::wstring text;
    DWORD style;
    short x, y, cx, cy;
};

struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    std::vector<TemplateItem> items;
};

std::wstring ReadNameOrOrdinal(const WORD *&at) {
    if (*at == 0xFFFF) {
        std::wstring ordinal = L"#" + std::to_wstring(at[1]);
        at += 2;
        return ordinal;
    }
    std::wstring text(reinterpret_cast<const wchar_t *>(at));
    at += text.size() + 1;
    return text;
}

const WORD *AlignToDword(const WORD *at, const void *base) {
    std::size_t offset = reinterpret_cast<const BYTE *>(at) - static_cast<const BYTE *>(base);
    return reinterpret_cast<const WORD *>(static_cast<const BYTE *>(base) + ((offset + 3) & ~std::size_t(3)));
}

bool LoadDialogTemplate(HMODULE module, int id, DialogTemplate &result) {
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void *bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) return false;
    const auto *header = static_cast<const DLGTEMPLATE *>(bytes);
    result.style = header->style;
    result.cx = header->cx;
    result.cy = header->cy;
    const WORD *at = reinterpret_cast<const WORD *>(header + 1);
    ReadNameOrOrdinal(at);  // menu
    ReadNameOrOrdinal(at);  // class
    result.caption = ReadNameOrOrdinal(at);
    if (header->style & DS_SETFONT) {
        result.pointSize = *at++;
        result.font = ReadNameOrOrdinal(at);
    }
    for (WORD i = 0; i < header->cdit; ++i) {
        at = AlignToDword(at, bytes);
        const auto *item = reinterpret_cast<const DLGITEMTEMPLATE *>(at);
        at = reinterpret_cast<const WORD *>(item + 1);
        TemplateItem control{item->id == 0xFFFF ? -1 : item->id, L"", L"", item->style, item->x, item->y, item->cx, item->cy};
        control.className = ReadNameOrOrdinal(at);
        control.text = ReadNameOrOrdinal(at);
        const WORD extra = *at++;
        at = reinterpret_cast<const WORD *>(reinterpret_cast<const BYTE *>(at) + extra);
        result.items.push_back(control);
    }
    return true;
}

std::wstring Wide(const char *text) { return std::wstring(text, text + std::strlen(text)); }

class SelectDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ClearStore();
        ASSERT_EQ(0u, routers_.Start());
        library_.Reset(::LoadLibraryExA((ProgramFolder() + "\\Communicator.dll").c_str(), nullptr,
                                        LOAD_WITH_ALTERED_SEARCH_PATH));  // Hivekey.dll beside it
        ASSERT_TRUE(library_);
        select_ = library_.Symbol<PFN_CommSelectDevice>("CommSelectDevice");
        addDevice_ = library_.Symbol<PFN_CommAddDevice>("CommAddDevice");
        ASSERT_TRUE(select_ && addDevice_);
        std::memset(&record_, 0xA5, sizeof(record_));
    }

    void TearDown() override {
        if (worker_.Running()) {
            ::PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
            // A dialog that does not end keeps the library: unloading it under its feet would crash.
            if (!worker_.Join(kWaitMs)) library_.Release();
        }
        routers_.Stop();
        ClearStore();
    }

    static void ClearStore() {
        CHivekey store;
        store.Delete("Routers\\");
        store.Delete("Devices\\");
        store.Delete("Router");
        store.Delete("Device");
    }

    // Alpha, Beta and a router named after this computer, with their boards.
    void StartRouters() {
        ASSERT_EQ(0u, routers_.AddRouter(kAlphaPort, "Alpha"));
        ASSERT_EQ(0u, routers_.AddRouter(kBetaPort, "Beta"));
        ASSERT_EQ(0u, routers_.AddRouter(kHomePort, ComputerName()));
        ASSERT_TRUE(routers_.SetDevices(kAlphaPort, {Device("Board-A1", "USB-A1", 1), Device("", "usb#a2", 2),
                                                     Device("ANONYMOU-3", "COM7", 3)}));
        ASSERT_TRUE(routers_.SetDevices(kBetaPort, {Device("Beta-1", "10.1.1.1", 11), Device("Beta-2", "10.1.1.2", 12),
                                                    Device("Beta-3", "10.1.1.3", 13)}));
        ASSERT_TRUE(routers_.SetDevices(kHomePort, {Device("Home-1", "COM1", 0)}));
    }

    void Open(HWND parent = nullptr) {
        ASSERT_TRUE(worker_.Start([this, parent] { result_ = select_(&record_, parent); }));
        dialog_ = WaitForWindow("Connect to board", kRouterList);
        ASSERT_NE(nullptr, dialog_);
    }

    // The call's result once the dialog has gone.
    CommResult Finish() {
        EXPECT_TRUE(worker_.Join(kWaitMs));
        return worker_.Join(0) ? result_ : 0xDEADu;
    }

    HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }

    std::vector<std::string> Entries(int id) const {
        const bool combo = id == kRouterList;
        std::vector<std::string> texts;
        const LRESULT count = Send(Item(id), combo ? CB_GETCOUNT : LB_GETCOUNT);
        for (LRESULT index = 0; index < count; ++index) {
            const LRESULT length = Send(Item(id), combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, index);
            std::vector<char> text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1);
            Send(Item(id), combo ? CB_GETLBTEXT : LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
            texts.emplace_back(text.data());
        }
        return texts;
    }
    int Selected(int id) const {
        return static_cast<int>(Send(Item(id), id == kRouterList ? CB_GETCURSEL : LB_GETCURSEL));
    }
    std::string SelectedText(int id) const {
        const int selected = Selected(id);
        return selected >= 0 ? Entries(id)[static_cast<std::size_t>(selected)] : "(none)";
    }
    int IndexOf(int id, const std::string &text) const {
        const std::vector<std::string> texts = Entries(id);
        auto at = std::find(texts.begin(), texts.end(), text);
        return at == texts.end() ? -1 : static_cast<int>(at - texts.begin());
    }

    // The user picks an entry: the control's selection and its notification.
    void Choose(int id, const std::string &text) {
        const int index = IndexOf(id, text);
        ASSERT_GE(index, 0) << text;
        const bool combo = id == kRouterList;
        Send(Item(id), combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index));
        Send(dialog_, WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
             reinterpret_cast<LPARAM>(Item(id)));
    }
    // A click whose handler shows no window: returns when it has run.
    bool Click(int id) {
        return Send(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))) != -1;
    }
    void PostClick(int id) {
        ::PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    // Returns once the dialog's thread is back in its message loop.
    bool Sync() const { return Send(dialog_, WM_NULL) == 0; }

    // Key releases as the device list receives them.
    void ReleaseKeys(const std::vector<UINT> &keys) {
        for (UINT key : keys) ::PostMessageA(Item(kDeviceList), WM_KEYUP, key, 0xC0000001);
    }
    void Unlock() { ReleaseKeys(kUnlockKeys); }

    // Waits for a message box of the dialog, reads it and closes it with OK.
    bool AnswerMessageBox(std::string &text, std::string &title) {
        HWND box = WaitForWindow("", kMessageText, {dialog_});
        if (!box) return false;
        text = flashwelltest::ItemText(box, kMessageText);
        title = flashwelltest::WindowText(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        return WaitUntil([&] { return !::IsWindow(box); }, kWaitMs) && Sync();
    }

    // "Add New Router..." with host and port typed in and OK clicked (or Cancel).
    bool AddRouter(const std::string &host, const std::string &port, int button = IDOK) {
        PostClick(kAddRouter);
        HWND add = WaitForWindow("Add Router Into the List", kHostField, {dialog_});
        if (!add) return false;
        EXPECT_EQ("localhost", flashwelltest::ItemText(add, kHostField));
        EXPECT_EQ("26214", flashwelltest::ItemText(add, kPortField));
        Send(::GetDlgItem(add, kHostField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(host.c_str()));
        Send(::GetDlgItem(add, kPortField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(port.c_str()));
        ::PostMessageA(add, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(add, button)));
        return WaitUntil([&] { return !::IsWindow(add); }, kWaitMs);
    }

    // Notices to the dialog's port from a host that is no router, on a socket bound
    // to 127.0.0.9: under Wine it sends from 127.0.0.1 and a port of its own.
    void SendStrangersNotices(int count) {
        UniqueSocket stranger(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::inet_addr("127.0.0.9");
        ASSERT_EQ(0, ::bind(stranger.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof(address)));
        address.sin_port = ::htons(26215);
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        const char notice[13] = {9, 0, 0, 0, 9};
        for (int sent = 0; sent < count; ++sent) {
            ASSERT_EQ(13, ::sendto(stranger.Get(), notice, sizeof(notice), 0,
                                   reinterpret_cast<const sockaddr *>(&address), sizeof(address)));
        }
    }

    // A real click: the mouse moved onto the control, pressed and released through
    // the input queue, which the dialog reads after every message posted to it.
    void ClickWithMouse(int id) {
        RECT rect{};
        ASSERT_TRUE(::GetWindowRect(Item(id), &rect));
        INPUT input[3] = {};
        for (INPUT &each : input) each.type = INPUT_MOUSE;
        input[0].mi.dx = (rect.left + rect.right) / 2 * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
        input[0].mi.dy = (rect.top + rect.bottom) / 2 * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
        input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        ASSERT_EQ(3u, ::SendInput(3, input, sizeof(INPUT)));
    }

    std::size_t RequestsOfType(std::uint8_t type) const {
        const std::vector<routersim::ReceivedRequest> requests = routers_.Requests();
        return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const auto &request) {
            return request.request.type == type;
        }));
    }

    static std::string StoredText(const char *path) {
        char text[260] = {};
        DWORD size = sizeof(text);
        return CHivekey().Read(text, path, size) == 0 ? std::string(text) : std::string("(missing)");
    }
    static long long StoredNumber(const char *path) {
        DWORD value = 0;
        return CHivekey().Read(value, path) == 0 ? static_cast<long long>(value) : -1;
    }

    SimulatedRouters routers_;
    Library library_;
    PFN_CommSelectDevice select_ = nullptr;
    PFN_CommAddDevice addDevice_ = nullptr;
    SelectionRecord record_{};
    CommResult result_ = 0xDEADu;
    Thread worker_;
    HWND dialog_ = nullptr;
};

bool Untouched(const char (&field)[COMM_TEXT_FIELD_SIZE]) {
    return std::all_of(field, field + COMM_TEXT_FIELD_SIZE, [](char c) { return c == static_cast<char>(0xA5); });
}

}  // namespace

// ---- The dialogs as their templates make them ----

TEST_F(SelectDialogTest, TemplatesGiveEveryControlItsIdTextStyleAndPlaceInTabOrder) {
    struct Control {
        int id;
        const wchar_t *className;  // predefined classes by their atom
        const char *text;
        DWORD style;  // besides WS_CHILD and WS_VISIBLE; the control's default bits included
        short x, y, cx, cy;
    };
    constexpr DWORD kLabel = SS_LEFT | WS_GROUP;
    const Control connect[] = {
        {kRouterList, L"#133", "", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 23, 26, 248, 103},
        {kDeviceList, L"#131", "",
         LBS_SORT | LBS_NOTIFY | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_TABSTOP, 23, 75,
         248, 55},
        {IDOK, L"#128", "Connect To Board", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, 292, 96, 82, 14},
        {IDCANCEL, L"#128", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 292, 116, 82, 14},
        {kRemoveRouter, L"#128", "Remove Current Router", BS_PUSHBUTTON | WS_TABSTOP, 292, 24, 82, 14},
        {kAddRouter, L"#128", "Add New Router...", BS_PUSHBUTTON | WS_TABSTOP, 292, 44, 82, 14},
        {-1, L"#130", "Vexa Routers On The Network", kLabel, 23, 15, 97, 8},
        {-1, L"#130", "Devices Connected To The Router", kLabel, 23, 62, 112, 8},
        {-1, L"#130",
         "To connect Vexa tool to a board, first select the router connected directly to the board, then select the "
         "board and click \"Connect To Board\" button. ",
         kLabel, 30, 150, 336, 25},
        {-1, L"#128", "", BS_GROUPBOX, 23, 141, 349, 85},
        {-1, L"#130",
         "All the Vexa Protocol Routers on the local network are detected automatically. If your protocol router is "
         "remote, you can add that router manually by clicking \"Add New Router\". ",
         kLabel, 30, 179, 336, 21},
        {-1, L"#130",
         "You can remove the manually added router at any time by clicking \"Remove Current Router\". You CAN NOT "
         "remove those routers which are automatically detected.",
         kLabel, 30, 199, 336, 25},
    };
    const Control add[] = {
        {IDOK, L"#128", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 121, 7, 50, 14},
        {IDCANCEL, L"#128", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 121, 25, 50, 14},
        {-1, L"#130", "Port Number", kLabel, 17, 7, 56, 11},
        {kPortField, L"#129", "", ES_LEFT | ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 17, 19, 40, 14},
        {-1, L"#130", "IP Address or Machine Name", kLabel, 17, 40, 97, 10},
        {kHostField, L"#129", "", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 17, 51, 95, 14},
    };
    auto check = [&](int templateId, const char *caption, short cx, short cy, const Control *controls, std::size_t count) {
        DialogTemplate dialog;
        ASSERT_TRUE(LoadDialogTemplate(library_.Get(), templateId, dialog)) << templateId;
        EXPECT_EQ(Wide(caption), dialog.caption);
        EXPECT_EQ(DWORD(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT), dialog.style);
        EXPECT_EQ(L"MS Sans Serif", dialog.font);
        EXPECT_EQ(8, dialog.pointSize);
        EXPECT_EQ(cx, dialog.cx);
        EXPECT_EQ(cy, dialog.cy);
        ASSERT_EQ(count, dialog.items.size());
        for (std::size_t i = 0; i < count; ++i) {  // template order is tab order
            const Control &c = controls[i];
            const TemplateItem &item = dialog.items[i];
            EXPECT_EQ(c.id, item.id) << i;
            EXPECT_EQ(c.className, item.className) << i;
            EXPECT_EQ(Wide(c.text), item.text) << i;
            EXPECT_EQ(c.style | WS_CHILD | WS_VISIBLE, item.style) << i;
            EXPECT_EQ(c.x, item.x) << i;
            EXPECT_EQ(c.y, item.y) << i;
            EXPECT_EQ(c.cx, item.cx) << i;
            EXPECT_EQ(c.cy, item.cy) << i;
        }
    };
    check(1001, "Connect to board", 397, 238, connect, std::size(connect));
    check(1002, "Add Router Into the List", 178, 73, add, std::size(add));

    // Shown: no router answers and none is stored.
    Open();
    EXPECT_EQ("Connect to board", flashwelltest::WindowText(dialog_));
    EXPECT_TRUE(Entries(kRouterList).empty());
    EXPECT_TRUE(Entries(kDeviceList).empty());
    EXPECT_FALSE(Enabled(IDOK)) << "nothing to connect to";
    EXPECT_TRUE(Enabled(kRemoveRouter));
    EXPECT_TRUE(Click(kRemoveRouter)) << "does nothing, shows nothing";
    PostClick(kAddRouter);
    HWND addDialog = WaitForWindow("Add Router Into the List", kHostField, {dialog_});
    ASSERT_NE(nullptr, addDialog);
    EXPECT_FALSE(::IsWindowEnabled(dialog_)) << "modal to the first dialog";
    ::PostMessageA(addDialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(addDialog); }, kWaitMs));
    ::PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// ---- The first fill and the choice remembered from last time ----

struct RememberedCase {
    const char *what;
    const char *router;  // null: no value stored
    long long device;    // -1: no value stored
    const char *expectedRouter;  // null: the computer's own
    const char *expectedDevice;
};

const RememberedCase kRememberedCases[] = {
    {"found", "Beta (127.0.0.1 : 26301)", 1, "Beta", "Beta-2 (10.1.1.2 : 12)"},
    {"found by its beginning, ignoring case", "bETA", 2, "Beta", "Beta-3 (10.1.1.3 : 13)"},
    {"empty text: the first entry", "", 1, "Alpha", "#1"},
    {"not found: the computer's entry, device 0", "Gamma (127.0.0.1 : 26303)", 2, nullptr, "Home-1 (COM1 : 0)"},
    {"nothing stored", nullptr, -1, nullptr, "Home-1 (COM1 : 0)"},
    {"index past the end: device 0", "Beta", 3, "Beta", "Beta-1 (10.1.1.1 : 11)"},
    {"negative index: device 0", "Beta", 0xFFFFFFFF, "Beta", "Beta-1 (10.1.1.1 : 11)"},
    {"no device value: device 0", "Beta", -1, "Beta", "Beta-1 (10.1.1.1 : 11)"},
};

class RememberedChoice : public SelectDialogTest, public testing::WithParamInterface<RememberedCase> {};

TEST_P(RememberedChoice, SelectsTheRouterAndDeviceChosenLastTime) {
    const RememberedCase &c = GetParam();
    StartRouters();
    ASSERT_NE(0, ::_strnicmp(ComputerName().c_str(), "Alpha", ComputerName().size())) << "the names must differ";
    ASSERT_NE(0, ::_strnicmp(ComputerName().c_str(), "Beta", ComputerName().size()));
    if (c.router) {
        ASSERT_EQ(0u, CHivekey().Write(c.router, "Router", REG_SZ));
    }
    if (c.device >= 0) {
        ASSERT_EQ(0u, CHivekey().Write(static_cast<DWORD>(c.device), "Device"));
    }
    Open();
    const std::vector<std::string> routers = Entries(kRouterList);
    ASSERT_EQ(3u, routers.size());
    EXPECT_EQ(RouterEntry("Alpha", kAlphaPort), routers[0]) << "sorted";
    EXPECT_EQ(RouterEntry("Beta", kBetaPort), routers[1]);
    const std::string expectedRouter = c.expectedRouter ? c.expectedRouter : ComputerName();
    const std::uint16_t port = expectedRouter == "Alpha" ? kAlphaPort : expectedRouter == "Beta" ? kBetaPort : kHomePort;
    EXPECT_EQ(RouterEntry(expectedRouter, port), SelectedText(kRouterList));
    if (c.expectedDevice[0] == '#')
        EXPECT_EQ(std::atoi(c.expectedDevice + 1), Selected(kDeviceList));
    else
        EXPECT_EQ(c.expectedDevice, SelectedText(kDeviceList));
    EXPECT_TRUE(Enabled(IDOK));
    EXPECT_TRUE(Enabled(kRemoveRouter));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

INSTANTIATE_TEST_SUITE_P(Cases, RememberedChoice, testing::ValuesIn(kRememberedCases));

TEST_F(SelectDialogTest, ListsEveryRouterWhenMoreThanTheFirstRoomAnswerAndNamesAnonymousBoards) {
    StartRouters();
    for (int i = 0; i < 70; ++i) {  // more than the 64 of the first call
        const std::string name = "Stored-" + std::to_string(100 + i);
        ASSERT_EQ(0u, CHivekey().Write(("127.0.0.1:" + std::to_string(30000 + i)).c_str(), ("Routers\\" + name).c_str(),
                                       REG_SZ));
    }
    ASSERT_EQ(0u, CHivekey().Write("Alpha", "Router", REG_SZ));
    Open();
    const std::vector<std::string> routers = Entries(kRouterList);
    EXPECT_EQ(73u, routers.size());
    EXPECT_NE(routers.end(), std::find(routers.begin(), routers.end(), RouterEntry("Stored-169", 30069)));
    std::vector<std::string> devices = Entries(kDeviceList);
    std::sort(devices.begin(), devices.end());
    EXPECT_EQ((std::vector<std::string>{"ANONYMOU-3 (COM7 : 3)", "Anonymous (usb#a2 : 2)", "Board-A1 (USB-A1 : 1)"}),
              devices);
    // Another router: its own boards, its remembered device (0 for a new entry).
    Choose(kDeviceList, "Anonymous (usb#a2 : 2)");
    Choose(kRouterList, RouterEntry("Beta", kBetaPort));
    EXPECT_EQ("Beta-1 (10.1.1.1 : 11)", SelectedText(kDeviceList));
    Choose(kRouterList, RouterEntry("Alpha", kAlphaPort));
    EXPECT_EQ("Anonymous (usb#a2 : 2)", SelectedText(kDeviceList)) << "remembered per router entry";
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// ---- Ending the dialog ----

struct CancelCase {
    const char *how;
    UINT message;
    WPARAM wParam;
    bool toList;  // sent to the device list (a key) rather than to the dialog
};

const CancelCase kCancelCases[] = {
    {"Cancel button", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), false},
    {"Escape key", WM_KEYDOWN, VK_ESCAPE, true},
    {"close box", WM_SYSCOMMAND, SC_CLOSE, false},
};

class CancelTheDialog : public SelectDialogTest, public testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTheDialog, Returns1223AndLeavesTheRecordAndTheStoreAlone) {
    StartRouters();
    Open();
    Choose(kRouterList, RouterEntry("Beta", kBetaPort));
    ::PostMessageA(GetParam().toList ? Item(kDeviceList) : dialog_, GetParam().message, GetParam().wParam, 0);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
    EXPECT_TRUE(Untouched(record_.displayName) && Untouched(record_.address) && Untouched(record_.routerAddress));
    EXPECT_EQ(0xA5A5, record_.port);
    EXPECT_EQ(0xA5A5, record_.routerPort);
    EXPECT_EQ("(missing)", StoredText("Router"));
    EXPECT_EQ(-1, StoredNumber("Device"));
}

INSTANTIATE_TEST_SUITE_P(Ways, CancelTheDialog, testing::ValuesIn(kCancelCases));

struct AcceptCase {
    const char *what;
    const char *router;  // an entry text; "" for the hidden entry of this computer's store
    const char *device;  // the device entry chosen
    bool enterKey;
    const char *displayName, *address;
    std::uint16_t port;
    const char *routerAddress;
    std::uint16_t routerPort;
};

const AcceptCase kAcceptCases[] = {
    {"a named board", "Beta (127.0.0.1 : 26301)", "Beta-3 (10.1.1.3 : 13)", false, "Beta-3", "10.1.1.3", 13,
     "127.0.0.1", kBetaPort},
    {"with the Enter key", "Beta (127.0.0.1 : 26301)", "Beta-2 (10.1.1.2 : 12)", true, "Beta-2", "10.1.1.2", 12,
     "127.0.0.1", kBetaPort},
    {"a board without a name", "Alpha (127.0.0.1 : 26300)", "Anonymous (usb#a2 : 2)", false, "", "usb#a2", 2,
     "127.0.0.1", kAlphaPort},
    {"a name beginning with 8 letters of Anonymous", "Alpha (127.0.0.1 : 26300)", "ANONYMOU-3 (COM7 : 3)", false, "",
     "COM7", 3, "127.0.0.1", kAlphaPort},
    {"a board of this computer's store", "", "Bench-1 (COM3 : 4)", false, "Bench-1", "COM3", 4, "", 0},
    {"a board whose name has a blank", "", "Bench board (COM4 : 5)", false, "", "", 0, "", 0},
};

class AcceptTheChoice : public SelectDialogTest, public testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptTheChoice, FillsTheRecordAndRemembersTheChoice) {
    const AcceptCase &c = GetParam();
    StartRouters();
    DeviceRecord bench = Device("Bench-1", "COM3", 4), blank = Device("Bench board", "COM4", 5);
    ASSERT_EQ(0u, addDevice_(&bench, nullptr, 0));
    ASSERT_EQ(0u, addDevice_(&blank, nullptr, 0));
    Open();
    if (!*c.router) {
        Unlock();
        ASSERT_TRUE(WaitUntil([&] { return IndexOf(kRouterList, "") >= 0; }, kWaitMs));
    }
    Choose(kRouterList, c.router);
    Choose(kDeviceList, c.device);
    const int deviceIndex = Selected(kDeviceList);
    if (c.enterKey)
        ::PostMessageA(Item(kDeviceList), WM_KEYDOWN, VK_RETURN, 0);
    else
        PostClick(IDOK);
    ASSERT_EQ(COMM_SUCCESS, Finish());
    EXPECT_STREQ(c.displayName, record_.displayName);
    EXPECT_STREQ(c.address, record_.address);
    EXPECT_EQ(c.port, record_.port);
    EXPECT_STREQ(c.routerAddress, record_.routerAddress);
    EXPECT_EQ(c.routerPort, record_.routerPort);
    EXPECT_EQ(static_cast<char>(0xA5), record_.displayName[std::strlen(c.displayName) + 1]) << "only the text and its zero";
    EXPECT_EQ(c.router, StoredText("Router"));
    EXPECT_EQ(deviceIndex, StoredNumber("Device"));
}

INSTANTIATE_TEST_SUITE_P(Choices, AcceptTheChoice, testing::ValuesIn(kAcceptCases));

TEST_F(SelectDialogTest, AcceptingWithoutABoardReturnsAnEmptyChoiceAndStoresNothing) {
    ASSERT_EQ(0u, routers_.AddRouter(kAlphaPort, "Alpha"));  // no boards
    Open();
    EXPECT_EQ(RouterEntry("Alpha", kAlphaPort), SelectedText(kRouterList));
    EXPECT_FALSE(Enabled(IDOK));
    ::PostMessageA(dialog_, WM_COMMAND, IDOK, 0);  // a command, as the disabled button cannot give it
    ASSERT_EQ(COMM_SUCCESS, Finish());
    EXPECT_STREQ("", record_.displayName);
    EXPECT_STREQ("", record_.address);
    EXPECT_EQ(0, record_.port);
    EXPECT_STREQ("", record_.routerAddress);
    EXPECT_EQ(0, record_.routerPort);
    EXPECT_EQ("(missing)", StoredText("Router"));
    EXPECT_EQ(-1, StoredNumber("Device"));
}

TEST_F(SelectDialogTest, AnUnusableRecordIsRefusedAndADialogThatCannotBeShownChoosesNothing) {
    EXPECT_EQ(COMM_E_POINTER, select_(nullptr, nullptr));
    // An owner that is no window: the dialog cannot be made, which is no choice.
    EXPECT_EQ(COMM_ERROR_INVALID_PARAMETER, select_(&record_, reinterpret_cast<void *>(0x7FFF0123)));
    EXPECT_TRUE(Untouched(record_.displayName) && Untouched(record_.address) && Untouched(record_.routerAddress));
}

TEST_F(SelectDialogTest, WithoutAnOwnerNeitherAHiddenWindowNorAnotherProgramsWindowOwnsTheDialog) {
    // Another program's main window, the top visible one. A dialog owned by it would disable
    // it, so that program could not even be closed while the dialog is open.
    flashwelltest::FlashwellDriver otherProgram;
    ASSERT_TRUE(otherProgram.Start(ProgramFolder()));
    ASSERT_TRUE(::SetWindowPos(otherProgram.Dialog(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    // Above it, a hidden window of this program, as input-method and helper windows are: it
    // may go away while the dialog is made.
    struct HiddenWindow {
        HWND window = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "hidden", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
        ~HiddenWindow() {
            if (window) ::DestroyWindow(window);
        }
    } hidden;
    ASSERT_NE(nullptr, hidden.window);
    ASSERT_EQ(hidden.window, ::GetTopWindow(nullptr));
    HWND topVisible = hidden.window;
    while (topVisible && !::IsWindowVisible(topVisible)) topVisible = ::GetWindow(topVisible, GW_HWNDNEXT);
    ASSERT_EQ(otherProgram.Dialog(), topVisible);
    StartRouters();
    Open();
    const HWND owner = ::GetWindow(dialog_, GW_OWNER);
    EXPECT_NE(hidden.window, owner);
    EXPECT_NE(otherProgram.Dialog(), owner);
    EXPECT_TRUE(::IsWindowEnabled(otherProgram.Dialog()));
    ::PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// ---- Adding and removing routers ----

struct AddCase {
    const char *what;
    const char *alphaAddress;  // the address Alpha reports; no other router answers discovery
    const char *host;
    const char *port;
    const char *selected;        // the router entry selected afterwards
    const char *selectedDevice;  // its device entry selected afterwards
    const char *stored;          // the router's value under Routers afterwards; null: none
    const char *message;         // title|text; null: none
};

const AddCase kAddCases[] = {
    {"a listed address selects its entry, whatever the port", "127.0.0.1", "127.0.0.1", "26999",
     "Alpha (127.0.0.1 : 26300)", "#0", nullptr, nullptr},
    {"a name of a listed address selects its entry", "127.0.0.1", "localhost", "26214", "Alpha (127.0.0.1 : 26300)",
     "#0", nullptr, nullptr},
    {"a new dotted address is added under its reverse name", "127.0.0.5", "127.0.0.1", "26301",
     "localhost (127.0.0.1 : 26301)", "Beta-1 (10.1.1.1 : 11)", "localhost:26301", nullptr},
    {"a new name is added", "127.0.0.5", "LOCALHOST", "26301", "localhost (127.0.0.1 : 26301)",
     "Beta-1 (10.1.1.1 : 11)", "localhost:26301", nullptr},
    {"port 0 is accepted and lists this computer's store", "127.0.0.5", "localhost", "0", "localhost (127.0.0.1 : 0)",
     "(none)", "localhost:0", nullptr},
    {"a name that does not resolve", "127.0.0.1", "no-such-router.invalid", "26214", "Bench (127.0.0.3 : 0)", "(none)",
     nullptr, "Failed to add the router.|Can't resolve the IP Address of the computer: no-such-router.invalid"},
    {"an address without a name", "127.0.0.1", "127.0.0.9", "26214", "Bench (127.0.0.3 : 0)", "(none)", nullptr,
     "Failed to add the router.|Can't reach the computer with IP Address 127.0.0.9"},
};

class AddARouter : public SelectDialogTest, public testing::WithParamInterface<AddCase> {};

TEST_P(AddARouter, SelectsAddsOrTellsWhy) {
    const AddCase &c = GetParam();
    StartRouters();
    ASSERT_TRUE(routers_.SetAdvertisedAddress(kAlphaPort, c.alphaAddress));
    ASSERT_TRUE(routers_.SetDiscoverable(kBetaPort, false));
    ASSERT_TRUE(routers_.SetDiscoverable(kHomePort, false));
    // Port 0: the entry lists this computer's store, which is empty here.
    ASSERT_EQ(0u, CHivekey().Write("127.0.0.3:0", "Routers\\Bench", REG_SZ));
    ASSERT_EQ(0u, CHivekey().Write("Bench", "Router", REG_SZ));
    Open();
    ASSERT_EQ("Bench (127.0.0.3 : 0)", SelectedText(kRouterList));
    const std::vector<std::string> before = Entries(kRouterList);
    ASSERT_TRUE(AddRouter(c.host, c.port));
    if (c.message) {
        std::string text, title;
        ASSERT_TRUE(AnswerMessageBox(text, title));
        EXPECT_EQ(c.message, title + "|" + text);
    }
    ASSERT_TRUE(Sync());
    EXPECT_EQ(c.selected, SelectedText(kRouterList));
    if (c.selectedDevice[0] == '#') {
        EXPECT_EQ(std::atoi(c.selectedDevice + 1), Selected(kDeviceList));
    } else {
        EXPECT_EQ(c.selectedDevice, SelectedText(kDeviceList));
    }
    EXPECT_EQ(std::string(c.selectedDevice) != "(none)", Enabled(IDOK));
    EXPECT_EQ(before.size() + (c.stored ? 1 : 0), Entries(kRouterList).size());
    EXPECT_EQ(c.stored ? c.stored : "(missing)", StoredText("Routers\\localhost"));
    EXPECT_EQ("(missing)", StoredText("Routers\\127.0.0.1"));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

INSTANTIATE_TEST_SUITE_P(Hosts, AddARouter, testing::ValuesIn(kAddCases));

TEST_F(SelectDialogTest, AddRouterDialogWantsAHostAndAPortInRangeAndCancelsCleanly) {
    Open();
    PostClick(kAddRouter);
    HWND add = WaitForWindow("Add Router Into the List", kHostField, {dialog_});
    ASSERT_NE(nullptr, add);
    HWND ok = ::GetDlgItem(add, IDOK);
    EXPECT_TRUE(::IsWindowEnabled(ok));
    Send(::GetDlgItem(add, kHostField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("   "));
    EXPECT_FALSE(::IsWindowEnabled(ok)) << "blanks only";
    Send(::GetDlgItem(add, kHostField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("  host"));
    EXPECT_TRUE(::IsWindowEnabled(ok));
    Send(::GetDlgItem(add, kPortField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    EXPECT_FALSE(::IsWindowEnabled(ok)) << "no port";
    Send(::GetDlgItem(add, kPortField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("65536"));
    ::PostMessageA(add, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    HWND box = WaitForWindow("", kMessageText, {dialog_, add});
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("Enter a whole number from 0 to 65535.", flashwelltest::ItemText(box, kMessageText));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, kWaitMs));
    EXPECT_TRUE(::IsWindow(add)) << "stays open";
    ::PostMessageA(add, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(add, IDCANCEL)));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(add); }, kWaitMs));
    ASSERT_TRUE(Sync());
    EXPECT_TRUE(Entries(kRouterList).empty()) << "nothing added";
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

TEST_F(SelectDialogTest, RemovesOnlyRoutersAddedByHandAndTheBoardsFollowTheNextEntry) {
    StartRouters();
    // A router that does not answer discovery, added by hand.
    ASSERT_EQ(0u, routers_.AddRouter(26304, "Spare"));
    ASSERT_TRUE(routers_.SetDiscoverable(26304, false));
    ASSERT_TRUE(routers_.SetDevices(26304, {Device("Spare-1", "COM5", 5)}));
    ASSERT_EQ(0u, CHivekey().Write("127.0.0.1:26304", "Routers\\Bench", REG_SZ));
    ASSERT_EQ(0u, CHivekey().Write("Bench", "Router", REG_SZ));
    Open();
    ASSERT_EQ(4u, Entries(kRouterList).size());
    ASSERT_EQ("Bench (127.0.0.1 : 26304)", SelectedText(kRouterList));
    ASSERT_EQ("Spare-1 (COM5 : 5)", SelectedText(kDeviceList));
    const int index = Selected(kRouterList);

    ASSERT_TRUE(Click(kRemoveRouter));
    EXPECT_EQ("(missing)", StoredText("Routers\\Bench"));
    ASSERT_EQ(3u, Entries(kRouterList).size());
    EXPECT_EQ(index, Selected(kRouterList)) << "the entry that took its place";
    EXPECT_EQ(RouterEntry("Beta", kBetaPort), SelectedText(kRouterList));
    EXPECT_EQ("Beta-1 (10.1.1.1 : 11)", SelectedText(kDeviceList));

    Choose(kRouterList, RouterEntry("Alpha", kAlphaPort));
    PostClick(kRemoveRouter);
    std::string text, title;
    ASSERT_TRUE(AnswerMessageBox(text, title));
    EXPECT_EQ("You can only remove routers that you manually added.", text);
    EXPECT_EQ("Can't remove router.", title);
    EXPECT_EQ(3u, Entries(kRouterList).size());
    EXPECT_EQ(RouterEntry("Alpha", kAlphaPort), SelectedText(kRouterList));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

TEST_F(SelectDialogTest, RemovingTheLastRouterEmptiesTheBoardsSoNoneCanBeReturned) {
    ASSERT_EQ(0u, routers_.AddRouter(kBetaPort, "Beta"));
    ASSERT_TRUE(routers_.SetDiscoverable(kBetaPort, false));
    ASSERT_TRUE(routers_.SetDevices(kBetaPort, {Device("Beta-1", "10.1.1.1", 11)}));
    ASSERT_EQ(0u, CHivekey().Write("127.0.0.1:26301", "Routers\\Bench", REG_SZ));
    Open();
    ASSERT_EQ("Beta-1 (10.1.1.1 : 11)", SelectedText(kDeviceList));
    ASSERT_TRUE(Click(kRemoveRouter));
    EXPECT_TRUE(Entries(kRouterList).empty());
    EXPECT_TRUE(Entries(kDeviceList).empty());
    EXPECT_FALSE(Enabled(IDOK));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// ---- Notifications of the routers ----

TEST_F(SelectDialogTest, DevicesNoticeOfTheSelectedRouterRefreshesItsBoards) {
    StartRouters();
    ASSERT_EQ(0u, CHivekey().Write("Beta", "Router", REG_SZ));
    ASSERT_EQ(0u, CHivekey().Write(1, "Device"));
    Open();
    ASSERT_EQ("Beta-2 (10.1.1.2 : 12)", SelectedText(kDeviceList));
    const std::size_t listRequests = RequestsOfType(1);

    // Too short: ignored. The routers notice that follows shows it was read.
    ASSERT_EQ(0u, routers_.SendNotice(kBetaPort, 7, 12));
    const std::size_t discoveries = RequestsOfType(2);
    ASSERT_EQ(0u, routers_.SendNotice(kBetaPort, 9));
    ASSERT_TRUE(WaitUntil([&] { return RequestsOfType(2) > discoveries; }, kWaitMs));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(listRequests, RequestsOfType(1)) << "no device list asked for the 12-byte datagram";

    // The selected board goes away, another comes: the entry after it is selected.
    ASSERT_TRUE(routers_.SetDevices(kBetaPort, {Device("Beta-1", "10.1.1.1", 11), Device("Beta-3", "10.1.1.3", 13),
                                                Device("Beta-0", "10.1.1.0", 10)}));
    ASSERT_EQ(0u, routers_.SendNotice(kBetaPort, 7));
    const std::vector<std::string> expected = {"Beta-1 (10.1.1.1 : 11)", "Beta-3 (10.1.1.3 : 13)",
                                               "Beta-0 (10.1.1.0 : 10)"};
    ASSERT_TRUE(WaitUntil([&] { return Entries(kDeviceList) == expected; }, kWaitMs)) << "the new one appended";
    EXPECT_EQ("Beta-3 (10.1.1.3 : 13)", SelectedText(kDeviceList));
    EXPECT_TRUE(Enabled(IDOK));

    // A 20-byte datagram is taken by its byte 4; the last board goes, the one before it is selected.
    Choose(kDeviceList, "Beta-0 (10.1.1.0 : 10)");
    ASSERT_TRUE(routers_.SetDevices(kBetaPort, {Device("Beta-1", "10.1.1.1", 11), Device("Beta-3", "10.1.1.3", 13)}));
    ASSERT_EQ(0u, routers_.SendNotice(kBetaPort, 7, 20));
    ASSERT_TRUE(WaitUntil([&] { return Entries(kDeviceList).size() == 2; }, kWaitMs));
    EXPECT_EQ("Beta-3 (10.1.1.3 : 13)", SelectedText(kDeviceList));

    // Every board gone: nothing to connect to.
    ASSERT_TRUE(routers_.SetDevices(kBetaPort, {}));
    ASSERT_EQ(0u, routers_.SendNotice(kBetaPort, 7));
    ASSERT_TRUE(WaitUntil([&] { return Entries(kDeviceList).empty(); }, kWaitMs));
    ASSERT_TRUE(Sync());
    EXPECT_FALSE(Enabled(IDOK));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

TEST_F(SelectDialogTest, DevicesNoticeFromAnotherAddressChangesNothing) {
    StartRouters();
    // Port 0: the entry lists this computer's store; its address is not the sender's.
    ASSERT_EQ(0u, CHivekey().Write("127.0.0.2:0", "Routers\\Bench", REG_SZ));
    ASSERT_EQ(0u, CHivekey().Write("Bench", "Router", REG_SZ));
    DeviceRecord first = Device("Bench-1", "COM3", 0), second = Device("Bench-2", "COM4", 0);
    ASSERT_EQ(0u, addDevice_(&first, nullptr, 0));
    Open();
    ASSERT_EQ("Bench (127.0.0.2 : 0)", SelectedText(kRouterList));
    ASSERT_EQ((std::vector<std::string>{"Bench-1 (COM3 : 0)"}), Entries(kDeviceList));
    ASSERT_EQ(0u, addDevice_(&second, nullptr, 0));
    const std::size_t discoveries = RequestsOfType(2);
    ASSERT_EQ(0u, routers_.SendNotice(kAlphaPort, 7));  // from 127.0.0.1
    ASSERT_EQ(0u, routers_.SendNotice(kAlphaPort, 9));  // read after it
    ASSERT_TRUE(WaitUntil([&] { return RequestsOfType(2) > discoveries; }, kWaitMs));
    ASSERT_TRUE(Sync());
    EXPECT_EQ((std::vector<std::string>{"Bench-1 (COM3 : 0)"}), Entries(kDeviceList));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

TEST_F(SelectDialogTest, RoutersNoticeAppendsNewRoutersAndDropsGoneOnesButNeverTheEmptyEntry) {
    StartRouters();
    ASSERT_EQ(0u, CHivekey().Write("Beta", "Router", REG_SZ));
    Open();
    Unlock();
    ASSERT_TRUE(WaitUntil([&] { return IndexOf(kRouterList, "") == 0; }, kWaitMs));
    Choose(kRouterList, RouterEntry("Beta", kBetaPort));
    const int betaIndex = Selected(kRouterList);

    ASSERT_EQ(0u, routers_.AddRouter(26303, "Aardvark"));
    ASSERT_TRUE(routers_.SetDevices(26303, {Device("Aa-1", "COM9", 9)}));
    ASSERT_TRUE(routers_.RemoveRouter(kBetaPort));
    ASSERT_EQ(0u, routers_.SendNotice(kAlphaPort, 9));
    ASSERT_TRUE(WaitUntil([&] { return IndexOf(kRouterList, RouterEntry("Beta", kBetaPort)) < 0; }, kWaitMs));
    ASSERT_TRUE(Sync());
    const std::vector<std::string> routers = Entries(kRouterList);
    ASSERT_EQ(4u, routers.size());
    EXPECT_EQ("", routers[0]) << "kept";
    EXPECT_EQ(RouterEntry("Aardvark", 26303), routers.back()) << "appended, not sorted in";
    EXPECT_EQ(betaIndex, Selected(kRouterList)) << "the entry that took Beta's place";
    EXPECT_EQ(RouterEntry(ComputerName(), kHomePort), SelectedText(kRouterList));
    EXPECT_EQ("Home-1 (COM1 : 0)", SelectedText(kDeviceList)) << "the boards follow";
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// Anyone can send to the dialog's port. A stranger's notices refresh nothing (the
// device list asked for by Alpha's notice after them shows they were read), and
// a real click on Cancel is answered at once while 1,000 of them arrive.
TEST_F(SelectDialogTest, NoticesOfAStrangerRefreshNothingAndCancelIsAnsweredDuringTheirFlood) {
    StartRouters();
    ASSERT_EQ(0u, CHivekey().Write("Alpha", "Router", REG_SZ));
    Open();
    const std::size_t discoveries = RequestsOfType(2), deviceLists = RequestsOfType(1);
    SendStrangersNotices(100);
    ASSERT_EQ(0u, routers_.SendNotice(kAlphaPort, 7));
    ASSERT_TRUE(WaitUntil([&] { return RequestsOfType(1) > deviceLists; }, kWaitMs));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(discoveries, RequestsOfType(2));

    SendStrangersNotices(100);
    const DWORD clicked = ::GetTickCount();
    ClickWithMouse(IDCANCEL);
    SendStrangersNotices(900);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
    const DWORD cancelMs = ::GetTickCount() - clicked;
    std::printf("Cancel answered in %lu ms while 1,000 notices arrived\n", static_cast<unsigned long>(cancelMs));
    EXPECT_LT(cancelMs, 2000u);
    EXPECT_EQ(discoveries, RequestsOfType(2));
}

// Notices of a listed router, again and again: a refresh each time, but never
// sooner than a second after the last one ended.
TEST_F(SelectDialogTest, NoticesOfARouterRefreshAtMostOnceASecond) {
    StartRouters();
    Open();
    const std::size_t before = RequestsOfType(2);
    for (DWORD start = ::GetTickCount(); RequestsOfType(2) < before + 3 && ::GetTickCount() - start < kWaitMs;) {
        ASSERT_EQ(0u, routers_.SendNotice(kAlphaPort, 9));
        routers_.WaitForRequests(routers_.Requests().size() + 1, 10);  // paces the notices
    }
    std::vector<std::chrono::steady_clock::time_point> refreshes;
    for (const routersim::ReceivedRequest &request : routers_.Requests())
        if (request.request.type == 2) refreshes.push_back(request.at);
    ASSERT_GE(refreshes.size(), before + 3);
    for (std::size_t i = before + 1; i < refreshes.size(); ++i)
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(refreshes[i] - refreshes[i - 1]).count(), 1000);
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

// ---- The hidden key sequence ----

struct KeyCase {
    const char *what;
    std::vector<UINT> keys;  // released one after the other
    std::size_t emptyEntries;
};

const KeyCase kKeyCases[] = {
    {"the sequence", {VK_F8, 'L', 'O', 'C', 'A', 'L', 'S', VK_F8}, 1},
    {"other keys between do not reset it", {VK_F8, 'X', 'L', 'O', VK_F8, 'C', 'A', 'L', 'Q', 'S', VK_F8}, 1},
    {"each further release of the last key adds one", {VK_F8, 'L', 'O', 'C', 'A', 'L', 'S', VK_F8, 'Z', VK_F8, VK_F8}, 3},
};

class HiddenKeys : public SelectDialogTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(HiddenKeys, AddTheEntryOfThisComputersStore) {
    StartRouters();
    DeviceRecord bench = Device("Bench-1", "COM3", 4);
    ASSERT_EQ(0u, addDevice_(&bench, nullptr, 0));
    ASSERT_EQ(0u, CHivekey().Write("Beta", "Router", REG_SZ));
    Open();
    ReleaseKeys(GetParam().keys);
    const std::size_t expected = 3 + GetParam().emptyEntries;
    ASSERT_TRUE(WaitUntil([&] { return Entries(kRouterList).size() == expected; }, kWaitMs));
    for (std::size_t i = 0; i < GetParam().emptyEntries; ++i) EXPECT_EQ("", Entries(kRouterList)[i]) << "sorted first";
    EXPECT_EQ(RouterEntry("Beta", kBetaPort), SelectedText(kRouterList)) << "the selection stays";
    Choose(kRouterList, "");
    EXPECT_EQ("Bench-1 (COM3 : 4)", SelectedText(kDeviceList)) << "this computer's store";
    EXPECT_FALSE(Enabled(kRemoveRouter));
    Click(IDCANCEL);
    EXPECT_EQ(COMM_ERROR_CANCELLED, Finish());
}

INSTANTIATE_TEST_SUITE_P(Sequences, HiddenKeys, testing::ValuesIn(kKeyCases));
