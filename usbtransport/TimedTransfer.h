// One transfer on the device, the one way every read and write of a link waits:
// started on an overlapped block, waited for with a time-out and the link's stop,
// cancelled when either comes first, and its failure mapped to a TransferOutcome in
// one place. The connect exchange, the ReadWorker's header and payload reads and
// every worker's write go through it; each caller only decides what an outcome
// means for its protocol step.
#pragma once
#include "DeviceFile.h"
#include "TransferOutcome.h"
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

// Errors by which a device reports that it is gone: the board's own ERROR_DEVICE_NOT_CONNECTED,
// and the pipe errors of a stream whose other end has left.
bool IsDeviceGoneError(DWORD error);

// Moves `count` bytes: Done (a transfer that finished as the time ran out counts), Short, TimedOut,
// Stopped, DeviceGone (deviceLost has run), Damaged or Failed. A damaged transfer (ERROR_CRC)
// resets the device's pipes with resetOnCrc; without it the device is taken as lost (DeviceGone).
// When both the transfer and the stop are there, the transfer wins: bytes that moved are not
// thrown away. `moved`, when given, gets the bytes that moved whatever the outcome.
TransferOutcome TimedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count,
                              IoBlock &io, DWORD timeoutMs, bool resetOnCrc, DWORD *moved = nullptr);

}  // namespace wirrow
