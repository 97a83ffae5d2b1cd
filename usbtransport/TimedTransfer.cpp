#include "TimedTransfer.h"

namespace wirrow {

DWORD IoBlock::Create() {
    event_ = MakeEvent(false, false);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.Get();
    return event_ ? ERROR_SUCCESS : ::GetLastError();
}

bool IsDeviceGoneError(DWORD error) {
    return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_BROKEN_PIPE;
}

namespace {

TransferOutcome ByCount(DWORD moved, DWORD count) {
    return moved < count ? TransferOutcome::Short : TransferOutcome::Done;
}

// The one mapping of a failed transfer's platform error.
TransferOutcome MapError(const TransferGuard &guard, DWORD error, IoBlock &io, bool resetOnCrc) {
    if (IsDeviceGoneError(error) || (error == ERROR_CRC && !resetOnCrc)) {
        guard.deviceLost(guard.context);
        return TransferOutcome::DeviceGone;
    }
    if (error == ERROR_TIMEOUT) {
        DWORD ignored = 0;
        guard.device->CancelAndSettle(io.Block(), ignored);
        return TransferOutcome::TimedOut;
    }
    if (error != ERROR_CRC) return TransferOutcome::Failed;
    OVERLAPPED &block = io.Fresh();
    if (!guard.device->Reset(block) && ::GetLastError() == ERROR_IO_PENDING) {
        // A reset that the device does not finish within the allowance is abandoned.
        if (::WaitForSingleObject(block.hEvent, kSettleWaitMs) != WAIT_OBJECT_0) {
            DWORD ignored = 0;
            guard.device->CancelAndSettle(block, ignored);
        }
    }
    return TransferOutcome::Damaged;
}

}  // namespace

TransferOutcome TimedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count,
                              IoBlock &io, DWORD timeoutMs, bool resetOnCrc, DWORD *movedOut) {
    DWORD ignored = 0;
    DWORD &moved = movedOut ? *movedOut : ignored;
    moved = 0;
    OVERLAPPED &block = io.Fresh();
    const bool started = direction == TransferDirection::Write ? guard.device->Write(buffer, count, block)
                                                               : guard.device->Read(buffer, count, block);
    if (started) {
        // Completed at once. A byte stream may hand over fewer bytes than asked for.
        if (!::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE)) moved = count;
        return ByCount(moved, count);
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        HANDLE waits[2] = {block.hEvent, guard.stopEvent};
        const DWORD waited = ::WaitForMultipleObjects(guard.stopEvent ? 2 : 1, waits, FALSE, timeoutMs);
        if (waited == WAIT_OBJECT_0) {
            if (::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE)) return ByCount(moved, count);
            error = ::GetLastError();
        } else {
            const DWORD waitError = ::GetLastError();
            // The caller's buffer must be let go of before the transfer ends. One that finished
            // just as the wait ran out counts.
            const bool finished = guard.device->CancelAndSettle(block, moved);
            if (waited == WAIT_TIMEOUT)
                return finished && moved == count ? TransferOutcome::Done : TransferOutcome::TimedOut;
            if (waited == WAIT_OBJECT_0 + 1) return TransferOutcome::Stopped;
            error = waitError;
        }
    }
    return MapError(guard, error, io, resetOnCrc);
}

}  // namespace wirrow
