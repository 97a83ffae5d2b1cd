// The board's device file: its path and the handle opened for overlapped I/O
// without sharing. Each transfer is started here; waiting is the caller's.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <winioctl.h>
#include <atomic>
#include <string>

namespace wirrow {

// IOCTL_LINK_RESET: device type 0x22, function 0x666, buffered, any access. Input bit 0 and
// bit 1 reset the board's two pipes.
constexpr DWORD kLinkResetControlCode = CTL_CODE(0x22, 0x666, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(kLinkResetControlCode == 0x00221998, "pipe-reset control code");
constexpr DWORD kResetBothPipes = 3;
// How long a cancelled transfer may take to be let go of by the device.
constexpr DWORD kSettleWaitMs = 3000;

class DeviceFile {
public:
    DeviceFile() = default;
    virtual ~DeviceFile() = default;
    DeviceFile(const DeviceFile &) = delete;
    DeviceFile &operator=(const DeviceFile &) = delete;

    // Stores the path and opens it; 0 or the platform's error code (the handle stays none).
    DWORD Open(const std::string &path);
    // Start one overlapped transfer; the platform call's immediate outcome (last error set on false).
    bool Write(const void *buffer, DWORD count, OVERLAPPED &block) const;
    bool Read(void *buffer, DWORD count, OVERLAPPED &block) const;
    bool Reset(OVERLAPPED &block) const;
    // Cancels the transfer started on `block` and waits (at most kSettleWaitMs) until the device
    // has let go of it, so that its buffer and block may be reused or freed. True when it had
    // completed anyway. A transfer still held after the wait marks the device unsettled.
    bool CancelAndSettle(OVERLAPPED &block, DWORD &transferred) const;
    // A cancelled transfer was never let go of: its buffer may still be written into, so the
    // memory of whoever owns this device must not be freed.
    bool Unsettled() const { return unsettled_.load(); }
    void Close() { handle_.Reset(); }

    HANDLE Handle() const { return handle_.Get(); }
    bool IsOpen() const { return static_cast<bool>(handle_); }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
    UniqueHandle handle_;
    const DWORD resetInput_ = kResetBothPipes;
    mutable std::atomic<bool> unsettled_{false};
};

}  // namespace wirrow
