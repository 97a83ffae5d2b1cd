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

DWORD Finish(DWORD result) {
    ::SetLastError(result);
    return result;
}

// The one error mapping of a failed transfer.
DWORD MapError(const TransferGuard &guard, DWORD error, IoBlock &io, bool resetOnCrc) {
    if (IsDeviceGoneError(error)) {
        guard.deviceLost(guard.context);
        return Finish(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (error == ERROR_TIMEOUT) {
        DWORD ignored = 0;
        guard.device->CancelAndSettle(io.Block(), ignored);
        return Finish(ERROR_TIMEOUT);
    }
    if (error == ERROR_CRC) {
        if (!resetOnCrc) {
            guard.deviceLost(guard.context);
            return Finish(ERROR_CRC);
        }
        OVERLAPPED &block = io.Fresh();
        if (!guard.device->Reset(block) && ::GetLastError() == ERROR_IO_PENDING) {
            // A reset that the device does not finish within the allowance is abandoned.
            if (::WaitForSingleObject(block.hEvent, kSettleWaitMs) != WAIT_OBJECT_0) {
                DWORD ignored = 0;
                guard.device->CancelAndSettle(block, ignored);
            }
        }
        return Finish(ERROR_CRC);
    }
    return Finish(error);
}

}  // namespace

DWORD TimedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count, IoBlock &io,
                    DWORD timeoutMs, bool resetOnCrc, DWORD *movedOut) {
    DWORD ignored = 0;
    DWORD &moved = movedOut ? *movedOut : ignored;
    moved = 0;
    OVERLAPPED &block = io.Fresh();
    const bool started = direction == TransferDirection::Write ? guard.device->Write(buffer, count, block)
                                                               : guard.device->Read(buffer, count, block);
    if (started) {
        // Completed at once. A byte stream may hand over fewer bytes than asked for.
        if (!::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE)) moved = count;
        return Finish(moved < count ? ERROR_MORE_DATA : ERROR_SUCCESS);
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        HANDLE waits[2] = {block.hEvent, guard.stopEvent};
        const DWORD waited = ::WaitForMultipleObjects(guard.stopEvent ? 2 : 1, waits, FALSE, timeoutMs);
        if (waited == WAIT_OBJECT_0) {
            if (::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE))
                return Finish(moved < count ? ERROR_MORE_DATA : ERROR_SUCCESS);
            error = ::GetLastError();
        } else {
            const DWORD waitError = ::GetLastError();
            // The caller's buffer must be let go of before the transfer ends. One that finished
            // just as the wait ran out counts.
            const bool finished = guard.device->CancelAndSettle(block, moved);
            if (waited == WAIT_TIMEOUT) return Finish(finished && moved == count ? ERROR_SUCCESS : ERROR_TIMEOUT);
            if (waited == WAIT_OBJECT_0 + 1) return Finish(ERROR_SHUTDOWN_IN_PROGRESS);
            error = waitError;
        }
    }
    return MapError(guard, error, io, resetOnCrc);
}

}  // namespace wirrow
