// "Add Router Into the List": the host (a dotted IPv4 address or a machine
// name) and the UDP port of a router to add by hand. OK is enabled only while
// both fields hold something other than blanks; the port must lie in 0..65535.
#pragma once
#include "CommApi.h"
#include "Dialog.h"

#include <string>

class AddRouterDialog : public CDialog {
public:
    explicit AddRouterDialog(CWnd *parent);

    std::string m_host = "localhost";
    int m_port = COMM_ROUTER_PORT;

protected:
    void DoDataExchange(CDataExchange *dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFieldChanged();

    DECLARE_MESSAGE_MAP()
};
