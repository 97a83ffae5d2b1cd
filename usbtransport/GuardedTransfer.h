// One transfer on the device with a time-out, a stop event and the handling of
// the device's errors: the header reads of the ReadWorker and both halves of
// the connect exchange go through it.
#pragma once
#include "DeviceFile.h"
#include "UniqueHandle.h"
#include <windows.h>

namespace wirrow {

// An overlapped block with its own auto-reset event.
class IoBlock {
public:
    DWORD Create();  // 0 or the error code
    void Close() {
        overlapped_ = OVERLAPPED{};
        event_.Reset();
    }
    bool Exists() const { return static_cast<bool>(event_); }
    // The block cleared for a new transfer, its event kept.
    OVERLAPPED &Fresh() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.Get();
        return overlapped_;
    }
    OVERLAPPED &Block() { return overlapped_; }
    HANDLE Event() const { return event_.Get(); }

private:
    OVERLAPPED overlapped_{};
    UniqueHandle event_;
};

enum class TransferDirection { Read, Write };

// What the transfer acts on: the device, the link's stop event (none during the connect
// exchange), and what to do when the device turns out to be gone.
struct TransferGuard {
    const DeviceFile *device;
    HANDLE stopEvent;
    void (*deviceLost)(void *context);
    void *context;
};

constexpr DWORD kNoTimeout = INFINITE;

// Errors by which a device reports that it is gone: the board's own 1167, and the pipe
// errors of a stream whose other end has left.
bool IsDeviceGoneError(DWORD error);

// 0 on success, otherwise 1460 (time-out), 1115 (stopped), 234 (short transfer), 1167 (device
// gone: deviceLost has run), 23 (damaged transfer) or the platform's code. The last error is set
// to the result as well.
DWORD GuardedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count,
                      IoBlock &io, DWORD timeoutMs, bool resetOnCrc);

}  // namespace wirrow
