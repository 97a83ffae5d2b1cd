// "Connect to board": the routers that answer on the network, the router
// service of this computer and the routers added by hand in a drop-down list,
// the boards of the selected router in a list below it. The user picks both and
// clicks "Connect To Board"; the dialog then holds the board's and the router's
// address and port. Routers are added ("Add New Router...") and removed
// ("Remove Current Router", hand-added ones only) from here too, and the
// routers' notifications on UDP port 26215 (26216 when that is taken) keep
// both lists up to date while the dialog is open: those of listed routers and
// of this computer's router service, all queued ones before one refresh, and a
// refresh at most once a second (NoticeRules.h).
//
// Each router entry's item data is the index of the device entry last chosen
// under it. The last choice outlives the dialog as the store values "Router"
// (the router entry's text) and "Device" (the device entry's index).
//
// Everything runs on the thread of the modal loop, notifications included. The
// calls into the store and the router protocol block that thread while they run.
#pragma once
#include "Controls.h"
#include "Dialog.h"
#include "NoticeRules.h"
#include "UniqueSocket.h"

#include <cstdint>
#include <string>
#include <vector>

class SelectDeviceDialog : public CDialog {
public:
    explicit SelectDeviceDialog(HWND owner);

    // The choice, filled when the dialog ends with IDOK and a board selected.
    std::string m_routerAddress;
    std::uint16_t m_routerPort = 0;
    std::string m_displayName;
    std::string m_deviceAddress;
    std::uint16_t m_devicePort = 0;

protected:
    UniqueSocket m_notifySocket;
    // What the notices taken ask for, until the refresh runs.
    bool m_routersNoticed = false;
    std::string m_devicesNoticedFor;  // the router entry selected when its notice came
    notices::RefreshPacer m_refreshPacer;
    std::vector<std::uint32_t> m_ownAddresses;  // this computer's, for its router service's notices
    std::uint16_t m_servicePort = 0;
    int m_keyStep = 0;
    CListBox m_deviceList;
    CComboBox m_routerList;

    void DoDataExchange(CDataExchange *dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL PreTranslateMessage(MSG *msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnRouterChanged();
    void OnDeviceChanged();
    void OnClickedAddRouter();
    void OnClickedRemoveRouter();
    LRESULT OnNotice(WPARAM wParam, LPARAM lParam);
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    void FillRouterList();
    void SelectRememberedRouter();
    void FillDeviceList(const std::string &routerText);
    // After the selected router entry went away: the device list follows the
    // entry selected now, or empties when none is.
    void FollowRouterSelection();
    void RefreshRouterList();
    void RefreshDeviceList(const std::string &address, std::uint16_t port);
    void OpenNotifySocket();
    // Reads the notices queued on the socket, a bounded number at a time, and
    // notes what those of accepted senders ask for.
    void TakeNotices();
    notices::AcceptedSenders AcceptedSenders() const;
    void RunNoticedRefreshes();
    // Whether the socket posts a message when a notice can be read.
    void WatchNotices(bool watch);
    std::string SelectedRouterText() const;
    void EnableItem(int id, bool enable);
};
