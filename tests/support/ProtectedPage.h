// Test support: one committed page of memory with a chosen protection, followed by a page that
// is only reserved, so that a block running past the end meets memory that is not there. For
// checks that a bad pointer gives a result code instead of a fault.
#pragma once
#include <windows.h>

#include <cstdint>

class ProtectedPage {
public:
    explicit ProtectedPage(DWORD protection) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        size_ = info.dwPageSize;
        base_ = static_cast<std::uint8_t *>(::VirtualAlloc(nullptr, 2 * size_, MEM_RESERVE, PAGE_NOACCESS));
        if (base_ && !::VirtualAlloc(base_, size_, MEM_COMMIT, protection)) Free();
    }
    ~ProtectedPage() { Free(); }
    ProtectedPage(const ProtectedPage &) = delete;
    ProtectedPage &operator=(const ProtectedPage &) = delete;

    // Null when the page could not be made.
    std::uint8_t *Base() const { return base_; }
    DWORD Size() const { return size_; }

private:
    void Free() {
        if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
        base_ = nullptr;
    }
    std::uint8_t *base_ = nullptr;
    DWORD size_ = 0;
};
