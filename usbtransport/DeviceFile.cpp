#include "DeviceFile.h"

namespace wirrow {

DWORD DeviceFile::Open(const std::string &path) {
    path_ = path;
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (!KernelHandleTraits::IsValid(handle)) {
        DWORD error = ::GetLastError();
        return error ? error : ERROR_OPEN_FAILED;
    }
    handle_.Reset(handle);
    return ERROR_SUCCESS;
}

bool DeviceFile::Write(const void *buffer, DWORD count, OVERLAPPED &block) const {
    if (!handle_) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return ::WriteFile(handle_.Get(), buffer, count, nullptr, &block) != FALSE;
}

bool DeviceFile::Read(void *buffer, DWORD count, OVERLAPPED &block) const {
    if (!handle_) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return ::ReadFile(handle_.Get(), buffer, count, nullptr, &block) != FALSE;
}

bool DeviceFile::Reset(OVERLAPPED &block) const {
    if (!handle_) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return ::DeviceIoControl(handle_.Get(), kLinkResetControlCode, const_cast<DWORD *>(&resetInput_),
                             sizeof(resetInput_), nullptr, 0, nullptr, &block) != FALSE;
}

bool DeviceFile::CancelAndSettle(OVERLAPPED &block, DWORD &transferred) const {
    transferred = 0;
    if (!handle_) return false;
    ::CancelIoEx(handle_.Get(), &block);
    // The block's event may already have been taken by an earlier wait: the block's own status
    // tells whether the transfer is over.
    if (!HasOverlappedIoCompleted(&block)) {
        ::WaitForSingleObject(block.hEvent, kSettleWaitMs);
        if (!HasOverlappedIoCompleted(&block)) {
            unsettled_ = true;
            return false;
        }
    }
    return ::GetOverlappedResult(handle_.Get(), &block, &transferred, FALSE) != FALSE;
}

}  // namespace wirrow
