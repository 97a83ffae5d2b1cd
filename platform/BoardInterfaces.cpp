#include "BoardInterfaces.h"
#include "BoardInterfaceGuid.h"
#include <setupapi.h>

DeviceInfoSet PresentInterfaces(const GUID *interfaceClass) {
    const DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE | (interfaceClass ? 0 : DIGCF_ALLCLASSES);
    return DeviceInfoSet(::SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr, flags));
}

DeviceInfoSet RegisteredInterfaces(const GUID &interfaceClass) {
    return DeviceInfoSet(::SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
}

std::vector<std::string> BoardInterfacesOf(const DeviceInfoSet &devices) {
    std::vector<std::string> paths;
    if (!devices) return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        // ERROR_NO_MORE_ITEMS is the normal end; any other failure ends the listing too.
        if (!::SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &BoardInterfaceGuid, index, &iface)) break;
        DWORD needed = 0;
        ::SetupDiGetDeviceInterfaceDetailA(devices.Get(), &iface, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> buffer(needed, 0);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!::SetupDiGetDeviceInterfaceDetailA(devices.Get(), &iface, detail, needed, nullptr, &device)) continue;
        paths.emplace_back(detail->DevicePath);
    }
    return paths;
}
