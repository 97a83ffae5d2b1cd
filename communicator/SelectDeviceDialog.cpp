#include "SelectDeviceDialog.h"

#include "AddRouterDialog.h"
#include "CommApi.h"
#include "DataExchange.h"
#include "Hivekey.h"
#include "MessageMap.h"
#include "RouterCodec.h"
#include "SelectDialogIds.h"
#include "ScopeExit.h"
#include "SelectionText.h"
#include "ServicePort.h"
#include "StoreFormat.h"
#include "TextCompare.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <utility>
#include <vector>

namespace {

// Posted by the sockets library when a notification can be read.
constexpr UINT kNoticeMessage = WM_APP + 1;
constexpr std::uint16_t kNoticePort = 26215;
constexpr std::uint16_t kSpareNoticePort = 26216;
// The refreshes that notices ask for run from this timer: its message comes only
// when no input is waiting, while posted messages come before input.
constexpr UINT_PTR kNoticeTimer = 1;
// Notices read at one time; the rest wait for the next round.
constexpr int kMaxNoticesTaken = 256;
// This computer's addresses kept for its router service's notices.
constexpr std::size_t kMaxOwnAddresses = 16;

// The first fill of the router list makes room for 64 records; every other
// list call for 32. A call that reports more is repeated once with room for
// what it reported and 32 to spare; that second result is final.
constexpr std::uint32_t kFirstRouterRoom = 64;
constexpr std::uint32_t kListRoom = 32;
constexpr std::uint32_t kSpareRoom = 32;

constexpr char kRouterValue[] = "Router";
constexpr char kDeviceValue[] = "Device";

constexpr char kAddFailedTitle[] = "Failed to add the router.";
constexpr char kUnresolvedText[] = "Can't resolve the IP Address of the computer: ";
constexpr char kUnreachableText[] = "Can't reach the computer with IP Address ";
constexpr char kRemoveFailedTitle[] = "Can't remove router.";
constexpr char kRemoveFailedText[] = "You can only remove routers that you manually added.";

// The hidden key sequence that adds the entry of this computer's store to the
// router list: F8, L O C A L S, F8 (compared as virtual-key codes on release).
constexpr UINT kHiddenKeys[] = {VK_F8, 'L', 'O', 'C', 'A', 'L', 'S', VK_F8};
constexpr int kLastHiddenStep = 7;

template <typename Record, typename Call>
CommResult FetchRecords(std::uint32_t room, Call call, std::vector<Record> &records) {
    records.assign(room, Record{});
    std::uint32_t count = room;
    CommResult result = call(records.data(), &count);
    if (result == COMM_ERROR_MORE_DATA) {
        room = count + kSpareRoom;
        records.assign(room, Record{});
        count = room;
        result = call(records.data(), &count);
    }
    if (result != COMM_SUCCESS) {
        records.clear();
        return result;
    }
    records.resize(std::min(count, room));
    return result;
}

CommResult FetchRouters(std::uint32_t room, std::vector<RouterRecord> &routers) {
    return FetchRecords(room, [](RouterRecord *records, std::uint32_t *count) { return CommGetRouters(records, count); },
                        routers);
}

CommResult FetchDevices(const std::string &address, std::uint16_t port, std::vector<DeviceRecord> &devices) {
    return FetchRecords(
        kListRoom,
        [&](DeviceRecord *records, std::uint32_t *count) { return CommGetDevices(records, count, address.c_str(), port); },
        devices);
}

std::string RouterText(const RouterRecord &router) {
    return selection::ItemText(store::FieldText(router.name), store::FieldText(router.address), router.port);
}

std::string DeviceText(const DeviceRecord &device) {
    return selection::ItemText(selection::ToDisplayName(store::FieldText(device.displayName)),
                               store::FieldText(device.address), device.port);
}

// Entry texts, found ignoring case without comparing each with every other.
using TextSet = std::set<std::string, TextLessIgnoringCase>;

// Appends the texts that the list does not hold yet (ignoring case), unsorted;
// calls added(index) for each. Returns every text, to keep.
template <typename List, typename TextOf, typename Added>
TextSet AppendUnlisted(List &list, TextOf textOf, const std::vector<std::string> &texts, Added added) {
    TextSet present;
    for (int index = 0; index < list.GetCount(); ++index) present.insert(textOf(index));
    for (const std::string &text : texts) {
        if (present.insert(text).second) added(list.InsertString(-1, text));
    }
    return TextSet(texts.begin(), texts.end());
}

// Deletes the entries of a list control whose text is not in `keep` (the empty
// entry too when `keepEmpty` is false), last to first. The selection stays on
// its entry; when that entry goes, the entry that takes its place is selected
// (the new last one when it was the last). Returns whether the selected entry
// went away; `selected` is the index selected afterwards, -1 when none is.
template <typename List, typename TextOf>
bool DeleteUnlisted(List &list, TextOf textOf, const TextSet &keep, bool keepEmpty, int &selected) {
    selected = list.GetCurSel();
    bool lost = false;
    for (int index = list.GetCount() - 1; index >= 0; --index) {
        const std::string text = textOf(index);
        if ((keepEmpty && text.empty()) || keep.count(text) != 0) continue;
        list.DeleteString(index);
        if (index < selected) {
            --selected;
        } else if (index == selected) {
            lost = true;
            selected = std::min(index, list.GetCount() - 1);
        }
    }
    if (selected >= 0 && list.GetCurSel() != selected) list.SetCurSel(selected);
    return lost;
}

}  // namespace

BEGIN_MESSAGE_MAP(SelectDeviceDialog, CDialog)
    ON_CBN_SELCHANGE(IDC_ROUTER_LIST, &SelectDeviceDialog::OnRouterChanged)
    ON_LBN_SELCHANGE(IDC_DEVICE_LIST, &SelectDeviceDialog::OnDeviceChanged)
    ON_BN_CLICKED(IDC_ADD_ROUTER, &SelectDeviceDialog::OnClickedAddRouter)
    ON_BN_CLICKED(IDC_REMOVE_ROUTER, &SelectDeviceDialog::OnClickedRemoveRouter)
    ON_MESSAGE(kNoticeMessage, &SelectDeviceDialog::OnNotice)
    ON_MESSAGE(WM_TIMER, &SelectDeviceDialog::OnTimer)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

SelectDeviceDialog::SelectDeviceDialog(HWND owner) : CDialog(IDD_SELECT_DEVICE) { m_hWndOwner = owner; }

void SelectDeviceDialog::DoDataExchange(CDataExchange *dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DEVICE_LIST, m_deviceList);
    DDX_Control(dx, IDC_ROUTER_LIST, m_routerList);
}

// No exception may leave a window procedure: it would unwind through the
// system's modal loop. A handler that runs out of memory leaves the dialog as
// it was.
LRESULT SelectDeviceDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return CDialog::WindowProc(message, wParam, lParam);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

BOOL SelectDeviceDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    FillRouterList();
    SelectRememberedRouter();
    OnRouterChanged();
    OpenNotifySocket();
    return TRUE;
}

void SelectDeviceDialog::FillRouterList() {
    std::vector<RouterRecord> routers;
    if (FetchRouters(kFirstRouterRoom, routers) != COMM_SUCCESS) return;
    for (const RouterRecord &router : routers) m_routerList.AddString(RouterText(router));
}

// The router entry chosen last, else the first entry that begins with this
// computer's name (its router service), else the first; with the device chosen
// last under it only when the router entry was found again.
void SelectDeviceDialog::SelectRememberedRouter() {
    CHivekey store;
    bool found = false;
    char saved[COMM_TEXT_FIELD_SIZE] = {};
    DWORD size = sizeof(saved);
    if (store.Read(saved, kRouterValue, size) == ERROR_SUCCESS) {
        if (saved[0] == '\0') {
            m_routerList.SetCurSel(0);
            found = true;
        } else if (int at = m_routerList.FindString(-1, saved); at >= 0) {
            m_routerList.SetCurSel(at);
            found = true;
        }
    }
    if (!found) {
        char computer[COMM_TEXT_FIELD_SIZE] = {};
        DWORD length = sizeof(computer);
        int at = ::GetComputerNameA(computer, &length) ? m_routerList.FindString(-1, computer) : CB_ERR;
        m_routerList.SetCurSel(at >= 0 ? at : 0);
    }
    DWORD device = 0;
    if (found && store.Read(device, kDeviceValue) != ERROR_SUCCESS) device = 0;
    if (static_cast<LONG>(device) < 0) device = 0;
    if (int selected = m_routerList.GetCurSel(); selected >= 0) m_routerList.SetItemData(selected, device);
}

std::string SelectDeviceDialog::SelectedRouterText() const {
    int selected = m_routerList.GetCurSel();
    return selected >= 0 ? m_routerList.GetLBText(selected) : std::string();
}

void SelectDeviceDialog::EnableItem(int id, bool enable) { ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE); }

void SelectDeviceDialog::OnRouterChanged() {
    const int selected = m_routerList.GetCurSel();
    if (selected < 0) return;
    const std::string text = m_routerList.GetLBText(selected);
    m_routerList.UpdateWindow();
    FillDeviceList(text);
    const int devices = m_deviceList.GetCount();
    if (devices <= 0) {
        EnableItem(IDOK, false);
    } else {
        DWORD_PTR remembered = m_routerList.GetItemData(selected);
        if (remembered >= static_cast<DWORD_PTR>(devices)) {
            m_routerList.SetItemData(selected, 0);
            remembered = 0;
        }
        m_deviceList.SetCurSel(static_cast<int>(remembered));
        EnableItem(IDOK, true);
    }
    EnableItem(IDC_REMOVE_ROUTER, !text.empty());
}

void SelectDeviceDialog::FillDeviceList(const std::string &routerText) {
    if (!selection::ListsDevices(routerText)) return;
    // The empty entry and an entry that does not scan list this computer's store.
    const selection::ScannedItem router = selection::ScanItemText(routerText);
    const std::uint16_t port = router.fields >= 3 ? router.port : 0;
    m_deviceList.ResetContent();
    m_deviceList.UpdateWindow();
    std::vector<DeviceRecord> devices;
    if (FetchDevices(router.address, port, devices) != COMM_SUCCESS) return;
    for (const DeviceRecord &device : devices) m_deviceList.AddString(DeviceText(device));
}

void SelectDeviceDialog::FollowRouterSelection() {
    if (m_routerList.GetCurSel() >= 0) {
        OnRouterChanged();
        return;
    }
    m_deviceList.ResetContent();
    EnableItem(IDOK, false);
}

void SelectDeviceDialog::OnDeviceChanged() {
    const int router = m_routerList.GetCurSel();
    const int device = m_deviceList.GetCurSel();
    if (router >= 0 && device >= 0) m_routerList.SetItemData(router, static_cast<DWORD_PTR>(device));
}

void SelectDeviceDialog::OnOK() {
    const std::string routerText = SelectedRouterText();
    const int device = m_deviceList.GetCurSel();
    if (device < 0) {
        EndDialog(IDOK);
        return;
    }
    {
        CHivekey store;
        store.Write(routerText.c_str(), kRouterValue, REG_SZ);
        store.Write(static_cast<DWORD>(device), kDeviceValue);
    }
    m_routerPort = 0;
    if (const selection::ScannedItem router = selection::ScanItemText(routerText); router.fields == 3) {
        m_routerAddress = router.address;
        m_routerPort = router.port;
    }
    m_devicePort = 0;
    if (const selection::ScannedItem board = selection::ScanItemText(m_deviceList.GetText(device)); board.fields == 3) {
        m_devicePort = board.port;
        m_deviceAddress = board.address;
        m_displayName = selection::FromDisplayName(board.name);
    }
    EndDialog(IDOK);
}

void SelectDeviceDialog::OnClickedAddRouter() {
    AddRouterDialog add(this);
    if (add.DoModal() != IDOK) return;

    in_addr address{};
    address.s_addr = ::inet_addr(add.m_host.c_str());
    if (address.s_addr == INADDR_NONE) {
        const hostent *host = ::gethostbyname(add.m_host.c_str());
        if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list[0]) {
            MessageBox((kUnresolvedText + add.m_host).c_str(), kAddFailedTitle, MB_OK | MB_ICONERROR);
            return;
        }
        std::memcpy(&address, host->h_addr_list[0], sizeof(address));
    }
    std::string ipText = ::inet_ntoa(address);

    const hostent *reverse = ::gethostbyaddr(reinterpret_cast<const char *>(&address), sizeof(address), AF_INET);
    if (!reverse || reverse->h_addrtype != AF_INET) {
        MessageBox((kUnreachableText + ipText).c_str(), kAddFailedTitle, MB_OK | MB_ICONERROR);
        return;
    }
    // Copied at once: the next lookup reuses the same entry.
    std::string hostName = reverse->h_name ? reverse->h_name : "";
    const hostent *forward = ::gethostbyname(hostName.c_str());
    if (forward && forward->h_addrtype == AF_INET && forward->h_length == 4 && forward->h_addr_list[0]) {
        std::memcpy(&address, forward->h_addr_list[0], sizeof(address));
        ipText = ::inet_ntoa(address);
    }
    hostName = selection::ShortHostName(hostName);
    const std::uint16_t port = static_cast<std::uint16_t>(add.m_port);

    // A router listed under the same address is selected instead, whatever its port.
    std::vector<RouterRecord> routers;
    if (FetchRouters(kListRoom, routers) == COMM_SUCCESS) {
        bool listed = false;
        for (const RouterRecord &router : routers) {
            if (!SameTextIgnoringCase(store::FieldText(router.address).c_str(), ipText.c_str())) continue;
            listed = true;
            const int at = m_routerList.FindString(-1, RouterText(router));
            if (at >= 0 && at != m_routerList.GetCurSel()) {
                m_routerList.SetCurSel(at);
                OnRouterChanged();
            }
        }
        if (listed) return;
    }

    const std::string name = hostName.empty() ? ipText : hostName;
    CommAddRouter(name.c_str(), port);
    const int at = m_routerList.AddString(selection::ItemText(name, ipText, port));
    m_routerList.SetCurSel(at);
    OnRouterChanged();
}

void SelectDeviceDialog::OnClickedRemoveRouter() {
    const int selected = m_routerList.GetCurSel();
    if (selected < 0) return;
    const selection::RemovalTarget target = selection::ReadRemovalTarget(m_routerList.GetLBText(selected));
    if (CommRemoveRouter(target.name.c_str(), target.port) != COMM_SUCCESS) {
        MessageBox(kRemoveFailedText, kRemoveFailedTitle, MB_OK | MB_ICONERROR);
        return;
    }
    m_routerList.DeleteString(selected);
    const int remaining = m_routerList.GetCount();
    if (remaining > 0) m_routerList.SetCurSel(std::min(selected, remaining - 1));
    // The device list shows the boards of the entry now selected, so that a board
    // of the removed router is never returned with another router's address.
    FollowRouterSelection();
}

void SelectDeviceDialog::OpenNotifySocket() {
    UniqueSocket notify(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!notify) return;
    const BOOL broadcast = TRUE;
    ::setsockopt(notify.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&broadcast), sizeof(broadcast));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::htonl(INADDR_ANY);
    local.sin_port = ::htons(kNoticePort);
    if (::bind(notify.Get(), reinterpret_cast<const sockaddr *>(&local), sizeof(local)) != 0) {
        local.sin_port = ::htons(kSpareNoticePort);
        // Without either port the dialog works without notifications.
        if (::bind(notify.Get(), reinterpret_cast<const sockaddr *>(&local), sizeof(local)) != 0) return;
    }
    if (::WSAAsyncSelect(notify.Get(), m_hWnd, kNoticeMessage, FD_READ) != 0) return;
    m_notifySocket = std::move(notify);
    m_servicePort = ReadServicePort();
    char computer[COMM_TEXT_FIELD_SIZE] = {};
    DWORD length = sizeof(computer);
    const hostent *host = ::GetComputerNameA(computer, &length) ? ::gethostbyname(computer) : nullptr;
    if (!host || host->h_addrtype != AF_INET || host->h_length != sizeof(std::uint32_t)) return;
    for (char **address = host->h_addr_list; *address && m_ownAddresses.size() < kMaxOwnAddresses; ++address) {
        std::uint32_t own = 0;
        std::memcpy(&own, *address, sizeof(own));
        m_ownAddresses.push_back(own);
    }
}

void SelectDeviceDialog::WatchNotices(bool watch) {
    ::WSAAsyncSelect(m_notifySocket.Get(), m_hWnd, watch ? kNoticeMessage : 0, watch ? FD_READ : 0);
}

// Posted messages come before the user's input: after this one the socket posts
// nothing more until the timer has run, whatever arrives meanwhile.
LRESULT SelectDeviceDialog::OnNotice(WPARAM, LPARAM) {
    if (!m_notifySocket) return 0;
    WatchNotices(false);
    ::SetTimer(m_hWnd, kNoticeTimer, 0, nullptr);
    return 0;
}

LRESULT SelectDeviceDialog::OnTimer(WPARAM timer, LPARAM) {
    if (timer != kNoticeTimer || !m_notifySocket) return 0;
    ::KillTimer(m_hWnd, kNoticeTimer);
    // Watching again posts at once when notices came meanwhile; on every way
    // out (a refresh that ran out of memory too) but the wait for the pacer.
    ScopeExit watchAgain([this] { WatchNotices(true); });
    TakeNotices();
    if (!m_routersNoticed && m_devicesNoticedFor.empty()) return 0;
    if (const DWORD wait = m_refreshPacer.WaitMs(::GetTickCount()); wait > 0) {
        ::SetTimer(m_hWnd, kNoticeTimer, wait, nullptr);
        watchAgain.Dismiss();
        return 0;
    }
    RunNoticedRefreshes();
    m_refreshPacer.Ended(::GetTickCount());
    return 0;
}

notices::AcceptedSenders SelectDeviceDialog::AcceptedSenders() const {
    std::vector<notices::Endpoint> routers;
    for (int index = 0; index < m_routerList.GetCount(); ++index) {
        const selection::ScannedItem router = selection::ScanItemText(m_routerList.GetLBText(index));
        const unsigned long address = router.fields >= 3 ? ::inet_addr(router.address.c_str()) : INADDR_NONE;
        if (address != INADDR_NONE) routers.emplace_back(address, router.port);
    }
    return notices::AcceptedSenders(routers, m_ownAddresses, m_servicePort);
}

void SelectDeviceDialog::TakeNotices() {
    const notices::AcceptedSenders accepted = AcceptedSenders();
    const std::string selected = SelectedRouterText();
    // Only the selected router's own notice refreshes its boards.
    const bool selectedListsDevices = !selected.empty() && selected.find(':') != std::string::npos;
    const unsigned long selectedAddress =
        selectedListsDevices ? ::inet_addr(selection::ScanItemText(selected).address.c_str()) : INADDR_NONE;
    for (int taken = 0; taken < kMaxNoticesTaken; ++taken) {
        // A longer datagram is taken by its first bytes (the read reports it cut).
        std::uint8_t bytes[router::kNoticeMinimumSize] = {};
        sockaddr_in from{};
        int fromLength = sizeof(from);
        int received = ::recvfrom(m_notifySocket.Get(), reinterpret_cast<char *>(bytes), sizeof(bytes), 0,
                                  reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (received == SOCKET_ERROR) {
            const int failure = ::WSAGetLastError();
            if (failure == WSAEWOULDBLOCK) return;
            if (failure != WSAEMSGSIZE) continue;
            received = sizeof(bytes);
        }
        if (!accepted.Accepts({from.sin_addr.s_addr, ::ntohs(from.sin_port)})) continue;
        switch (router::NoticeCodeOf(bytes, static_cast<std::size_t>(received))) {
        case router::kRoutersChangedNotice: m_routersNoticed = true; break;
        case router::kDevicesChangedNotice:
            if (selectedListsDevices && selectedAddress == from.sin_addr.s_addr) m_devicesNoticedFor = selected;
            break;
        default: break;
        }
    }
}

void SelectDeviceDialog::RunNoticedRefreshes() {
    if (std::exchange(m_routersNoticed, false)) RefreshRouterList();
    const std::string noticed = std::exchange(m_devicesNoticedFor, std::string());
    // When the user chose another router meanwhile, its boards were just listed.
    if (noticed.empty() || noticed != SelectedRouterText()) return;
    const selection::ScannedItem router = selection::ScanItemText(noticed);
    RefreshDeviceList(router.address, router.fields >= 3 ? router.port : 0);
}

void SelectDeviceDialog::RefreshRouterList() {
    std::vector<RouterRecord> routers;
    if (FetchRouters(kListRoom, routers) != COMM_SUCCESS) return;
    std::vector<std::string> texts;
    for (const RouterRecord &router : routers) texts.push_back(RouterText(router));
    auto textOf = [&](int index) { return m_routerList.GetLBText(index); };
    const TextSet keep = AppendUnlisted(m_routerList, textOf, texts, [](int) {});
    int selected = -1;
    // The empty entry (this computer's store) is never taken away.
    if (DeleteUnlisted(m_routerList, textOf, keep, true, selected)) FollowRouterSelection();
}

void SelectDeviceDialog::RefreshDeviceList(const std::string &address, std::uint16_t port) {
    std::vector<DeviceRecord> devices;
    if (FetchDevices(address, port, devices) != COMM_SUCCESS) return;
    std::vector<std::string> texts;
    for (const DeviceRecord &device : devices) texts.push_back(DeviceText(device));
    auto textOf = [&](int index) { return m_deviceList.GetText(index); };
    const TextSet keep = AppendUnlisted(m_deviceList, textOf, texts, [&](int at) {
        if (m_deviceList.GetCurSel() >= 0) return;
        m_deviceList.SetCurSel(at);
        EnableItem(IDOK, true);
    });
    int selected = -1;
    DeleteUnlisted(m_deviceList, textOf, keep, false, selected);
    if (selected < 0) EnableItem(IDOK, false);
}

// Key releases never reach the controls; they step through the hidden sequence.
BOOL SelectDeviceDialog::PreTranslateMessage(MSG *msg) {
    if (msg->message != WM_KEYUP || (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)))
        return CDialog::PreTranslateMessage(msg);
    const UINT key = static_cast<UINT>(msg->wParam);
    if (m_keyStep < kLastHiddenStep) {
        if (key == kHiddenKeys[m_keyStep]) ++m_keyStep;
    } else if (key == kHiddenKeys[kLastHiddenStep]) {
        m_routerList.AddString(std::string());
    }
    return TRUE;
}

void SelectDeviceDialog::OnDestroy() {
    CDialog::OnDestroy();
    m_notifySocket.Reset();
}
