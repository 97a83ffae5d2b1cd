// Owner of one SetupAPI device-information set.
#pragma once
#include <windows.h>
#include <setupapi.h>
#include <utility>

class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    DeviceInfoSet(const DeviceInfoSet &) = delete;
    DeviceInfoSet &operator=(const DeviceInfoSet &) = delete;
    DeviceInfoSet(DeviceInfoSet &&other) noexcept : set_(std::exchange(other.set_, INVALID_HANDLE_VALUE)) {}
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set_);
    }
    HDEVINFO Get() const { return set_; }
    explicit operator bool() const { return set_ != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO set_;
};
