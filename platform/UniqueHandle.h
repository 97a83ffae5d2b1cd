// Owner of one kernel handle (event, mutex, semaphore, file, thread, ...).
#pragma once
#include <windows.h>
#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(IsValid(handle) ? handle : nullptr) {}
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&other) noexcept : handle_(other.Release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    void Reset(HANDLE handle = nullptr) {
        HANDLE old = std::exchange(handle_, IsValid(handle) ? handle : nullptr);
        if (old) ::CloseHandle(old);
    }

    static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = nullptr;
};

inline UniqueHandle MakeEvent(bool manualReset, bool initiallySet) {
    return UniqueHandle(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr));
}

inline UniqueHandle MakeMutex() { return UniqueHandle(::CreateMutexA(nullptr, FALSE, nullptr)); }

inline UniqueHandle MakeSemaphore(LONG initial, LONG maximum) {
    return UniqueHandle(::CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}
