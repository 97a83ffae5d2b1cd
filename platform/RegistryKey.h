// Owner of one open registry key.
#pragma once
#include <windows.h>
#include <utility>

class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    RegistryKey(RegistryKey &&other) noexcept : key_(other.Release()) {}
    RegistryKey &operator=(RegistryKey &&other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~RegistryKey() { Reset(); }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY Release() { return std::exchange(key_, nullptr); }
    void Reset(HKEY key = nullptr) {
        HKEY old = std::exchange(key_, key);
        if (old) ::RegCloseKey(old);
    }

private:
    HKEY key_ = nullptr;
};
