// One transfer on the device, the one way every read and write of a link waits:
// started on an overlapped block, waited for with a time-out and the link's stop,
// cancelled when either comes first, and its failure mapped to the link's codes in
// one place. The connect exchange, the ReadWorker's header and payload reads and
// every worker's write go through it; each caller only decides what an outcome
// means for its protocol step.
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

// Moves `count` bytes or fails:
//   0     all of them moved (at once, or before the time-out and the stop);
//   234   the device handed over fewer (a byte stream may: the caller reads on or not);
//   1460  not done within timeoutMs: cancelled (a transfer that finished as the time ran out counts
//         as done);
//   1115  the stop came first: cancelled;
//   1167  the device is gone: deviceLost has run;
//   23    a damaged transfer: with resetOnCrc the device's pipes have been reset, without it the
//         device is taken as lost (deviceLost has run);
//   any other platform code as it came.
// When both the transfer and the stop are there, the transfer wins: bytes that moved are not
// thrown away. `moved`, when given, gets the bytes that moved whatever the outcome. The last
// error is set to the result as well.
DWORD TimedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count, IoBlock &io,
                    DWORD timeoutMs, bool resetOnCrc, DWORD *moved = nullptr);

}  // namespace wirrow
