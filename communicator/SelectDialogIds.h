// Resource and control ids of Communicator's board-selection dialogs
// (Communicator.rc, SelectDeviceDialog, AddRouterDialog).
#pragma once

#define IDD_SELECT_DEVICE 1001
#define IDD_ADD_ROUTER 1002

// "Connect to board"; IDOK is "Connect To Board", IDCANCEL "Cancel".
#define IDC_ROUTER_LIST 1000
#define IDC_DEVICE_LIST 1001
#define IDC_ADD_ROUTER 1002
#define IDC_REMOVE_ROUTER 1004

// "Add Router Into the List"
#define IDC_ROUTER_HOST 1003
#define IDC_ROUTER_PORT 1005
