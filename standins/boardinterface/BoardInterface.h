// Makes a simulated board look like a present USB device interface of
// BoardInterfaceGuid, as the platform shows a plugged-in board:
//  - a device-setup registration that SetupDiGetClassDevs lists while "present",
//  - an NT symbolic link so that the interface path opens a named pipe.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <string>
#include <vector>

namespace boardsim {

// "\\?\usb#vid_1234&pid_5678#<instance>#{cb98b0d6-...}" for an instance such as "sim0".
std::string BoardInterfacePath(const std::string &instance);

// Registers (or re-uses) the device and its interface and marks it present or absent.
// Returns 0 or a Win32 error code.
DWORD RegisterBoardInterface(const std::string &instance);
DWORD SetBoardInterfacePresent(const std::string &instance, bool present);
// The present board interfaces' paths, in the order device setup lists them;
// an independent listing for tests to hold the product's search against.
std::vector<std::string> ListPresentBoardInterfaces();
// The same for the interfaces of any class: from the listing of every class, those of this one.
std::vector<std::string> ListPresentInterfaces(const GUID &interfaceClass);
bool IsBoardInterfaceListed(const std::string &path);  // ignoring letter case

// Marks absent and deletes the registration.
DWORD RemoveBoardInterface(const std::string &instance);

// Any device and interface class, for listings with more than boards in them. A board's device is
// BoardDeviceId(instance); its board interface is the one of class BoardInterfaceGuid.
std::string BoardDeviceId(const std::string &instance);
// "\\?\<device id with # for \>#{class}", lower case, as device setup names the interface.
std::string InterfacePath(const std::string &deviceId, const GUID &interfaceClass);
// Registers (or re-uses) the device and gives it a present interface of the class.
DWORD RegisterDeviceInterface(const std::string &deviceId, const GUID &interfaceClass);
DWORD SetInterfacePresent(const std::string &interfacePath, bool present);
// Deletes the device's registration; its interfaces stay as they were marked (absent ones are not listed).
DWORD RemoveDevice(const std::string &deviceId);

// Reports the interface's removal as the platform does once a board has gone: WM_DEVICECHANGE
// with DBT_DEVICEREMOVECOMPLETE and a DEV_BROADCAST_DEVICEINTERFACE_A naming the path, sent to
// every top-level window of the desktop (hidden ones too, in this and other processes). Windows
// that did not register for the board's interface class ignore it. Each send is bounded, so a
// hung window cannot hold the board up.
void BroadcastInterfaceRemoval(const std::string &interfacePath, DWORD perWindowTimeoutMs = 5000);

// Holds an NT symbolic link \??\<interface path> -> \Device\NamedPipe\<pipe>; the link
// lives while this object holds it.
class DeviceLink {
public:
    DWORD Create(const std::string &interfacePath, const std::string &pipeName);
    void Remove() { link_.Reset(); }
    bool Exists() const { return static_cast<bool>(link_); }

private:
    UniqueHandle link_;
};

}  // namespace boardsim
