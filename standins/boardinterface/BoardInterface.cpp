#include "BoardInterface.h"
#include "BoardInterfaceGuid.h"
#include "DeviceInfoSet.h"
#include <setupapi.h>
#include <dbt.h>
#include <winternl.h>
#include <cctype>
#include <vector>
#include <cstddef>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace boardsim {
namespace {

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "{cb98b0d6-aea0-42cc-bedd-24564f5abcee}": the form device setup writes into interface paths.
std::string GuidText(const GUID &guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

// Key whose "Linked" value decides whether the interface at `path` counts as present: under its
// class's key (the path's last part), named by the path with "\\?\" turned into "##?#".
std::string ControlKey(const std::string &path) {
    return std::string("System\\CurrentControlSet\\Control\\DeviceClasses\\") + path.substr(path.rfind('#') + 1) +
           "\\##?#" + path.substr(4) + "\\#\\Control";
}

}  // namespace

std::string BoardDeviceId(const std::string &instance) { return "USB\\VID_1234&PID_5678\\" + Upper(instance); }

std::string InterfacePath(const std::string &deviceId, const GUID &interfaceClass) {
    std::string path = "\\\\?\\" + Lower(deviceId) + "#" + GuidText(interfaceClass);
    std::replace(path.begin() + 4, path.end(), '\\', '#');
    return path;
}

std::string BoardInterfacePath(const std::string &instance) {
    return InterfacePath(BoardDeviceId(instance), BoardInterfaceGuid);
}

std::vector<std::string> ListPresentBoardInterfaces() { return ListPresentInterfaces(BoardInterfaceGuid); }

std::vector<std::string> ListPresentInterfaces(const GUID &interfaceClass) {
    std::vector<std::string> paths;
    DeviceInfoSet devices(::SetupDiGetClassDevsA(nullptr, nullptr, nullptr,
                                                 DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE));
    if (!devices) return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        if (!::SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &interfaceClass, index, &iface)) break;
        DWORD needed = 0;
        ::SetupDiGetDeviceInterfaceDetailA(devices.Get(), &iface, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> buffer(needed, 0);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (::SetupDiGetDeviceInterfaceDetailA(devices.Get(), &iface, detail, needed, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    return paths;
}

bool IsBoardInterfaceListed(const std::string &path) {
    for (const std::string &listed : ListPresentBoardInterfaces())
        if (::lstrcmpiA(listed.c_str(), path.c_str()) == 0) return true;
    return false;
}

DWORD RegisterBoardInterface(const std::string &instance) {
    return RegisterDeviceInterface(BoardDeviceId(instance), BoardInterfaceGuid);
}

DWORD SetBoardInterfacePresent(const std::string &instance, bool present) {
    return SetInterfacePresent(BoardInterfacePath(instance), present);
}

DWORD RemoveBoardInterface(const std::string &instance) {
    DWORD result = SetBoardInterfacePresent(instance, false);
    RemoveDevice(BoardDeviceId(instance));
    return result;
}

DWORD RegisterDeviceInterface(const std::string &deviceId, const GUID &interfaceClass) {
    // A list of no class: the device may exist already, made for an interface of another class.
    DeviceInfoSet list(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!list) return ::GetLastError();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiCreateDeviceInfoA(list.Get(), deviceId.c_str(), &interfaceClass, nullptr, nullptr, 0, &device)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_DEVINST_ALREADY_EXISTS) return error;
        if (!::SetupDiOpenDeviceInfoA(list.Get(), deviceId.c_str(), nullptr, 0, &device)) return ::GetLastError();
    } else if (!::SetupDiRegisterDeviceInfo(list.Get(), &device, 0, nullptr, nullptr, nullptr)) {
        return ::GetLastError();
    }
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    if (!::SetupDiCreateDeviceInterfaceA(list.Get(), &device, &interfaceClass, nullptr, 0, &iface))
        return ::GetLastError();
    return SetInterfacePresent(InterfacePath(deviceId, interfaceClass), true);
}

DWORD SetInterfacePresent(const std::string &path, bool present) {
    HKEY key = nullptr;
    LSTATUS status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, ControlKey(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                       nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    DWORD linked = present ? 1 : 0;
    status = ::RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&linked), sizeof(linked));
    ::RegCloseKey(key);
    return static_cast<DWORD>(status);
}

DWORD RemoveDevice(const std::string &deviceId) {
    DeviceInfoSet list(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!list) return ::GetLastError();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiOpenDeviceInfoA(list.Get(), deviceId.c_str(), nullptr, 0, &device)) return ::GetLastError();
    return ::SetupDiRemoveDevice(list.Get(), &device) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD DeviceLink::Create(const std::string &interfacePath, const std::string &pipeName) {
    using CreateLinkFn = LONG(NTAPI *)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PUNICODE_STRING);
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    auto createLink = reinterpret_cast<CreateLinkFn>(
        reinterpret_cast<void *>(::GetProcAddress(ntdll, "NtCreateSymbolicLinkObject")));
    if (!createLink) return ERROR_PROC_NOT_FOUND;

    // \\?\usb#... becomes \??\usb#...
    std::wstring name = L"\\??\\" + std::wstring(interfacePath.begin() + 4, interfacePath.end());
    std::wstring target = L"\\Device\\NamedPipe\\" + std::wstring(pipeName.begin(), pipeName.end());
    UNICODE_STRING nameString{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                              &name[0]};
    UNICODE_STRING targetString{static_cast<USHORT>(target.size() * 2), static_cast<USHORT>(target.size() * 2),
                                &target[0]};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &nameString;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    HANDLE link = nullptr;
    LONG status = createLink(&link, 0x000F0001 /* SYMBOLIC_LINK_ALL_ACCESS */, &attributes, &targetString);
    if (status < 0) return ::RtlNtStatusToDosError(status);
    link_.Reset(link);
    return ERROR_SUCCESS;
}

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    return TRUE;
}

}  // namespace

void BroadcastInterfaceRemoval(const std::string &interfacePath, DWORD perWindowTimeoutMs) {
    std::vector<HWND> windows;
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + interfacePath.size() + 1;
    std::vector<std::uint8_t> record(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)));
    auto *broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A *>(record.data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = BoardInterfaceGuid;
    std::memcpy(broadcast->dbcc_name, interfacePath.c_str(), interfacePath.size() + 1);
    // Sent one window at a time, after the enumeration: a receiver may create or destroy windows.
    for (HWND window : windows) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(broadcast),
                              SMTO_ABORTIFHUNG, perWindowTimeoutMs, &ignored);
    }
}

}  // namespace boardsim
