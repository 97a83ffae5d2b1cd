#include "GuardedTransfer.h"

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

DWORD HandleError(const TransferGuard &guard, DWORD error, IoBlock &io, bool resetOnCrc) {
    if (IsDeviceGoneError(error)) {
        guard.deviceLost(guard.context);
        return Finish(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (error == ERROR_TIMEOUT) {
        DWORD moved = 0;
        guard.device->CancelAndSettle(io.Block(), moved);
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
                DWORD moved = 0;
                guard.device->CancelAndSettle(block, moved);
            }
        }
        return Finish(ERROR_CRC);
    }
    return Finish(error);
}

}  // namespace

DWORD GuardedTransfer(const TransferGuard &guard, TransferDirection direction, void *buffer, DWORD count,
                      IoBlock &io, DWORD timeoutMs, bool resetOnCrc) {
    OVERLAPPED &block = io.Fresh();
    const bool started = direction == TransferDirection::Write ? guard.device->Write(buffer, count, block)
                                                               : guard.device->Read(buffer, count, block);
    DWORD moved = 0;
    if (started) {
        // Completed at once. A byte stream may hand over fewer bytes than asked for.
        if (::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE) && moved < count)
            return Finish(ERROR_MORE_DATA);
        return Finish(ERROR_SUCCESS);
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        HANDLE waits[2] = {block.hEvent, guard.stopEvent};
        DWORD waited = ::WaitForMultipleObjects(guard.stopEvent ? 2 : 1, waits, FALSE, timeoutMs);
        if (waited == WAIT_TIMEOUT) {
            // The transfer may have finished just as the wait ran out; then it counts.
            if (guard.device->CancelAndSettle(block, moved) && moved == count) return Finish(ERROR_SUCCESS);
            return Finish(ERROR_TIMEOUT);
        }
        if (waited == WAIT_OBJECT_0 + 1) {
            guard.device->CancelAndSettle(block, moved);
            return Finish(ERROR_SHUTDOWN_IN_PROGRESS);
        }
        if (waited == WAIT_OBJECT_0) {
            if (::GetOverlappedResult(guard.device->Handle(), &block, &moved, FALSE))
                return Finish(moved < count ? ERROR_MORE_DATA : ERROR_SUCCESS);
            error = ::GetLastError();
        } else {
            error = ::GetLastError();
            guard.device->CancelAndSettle(block, moved);
        }
    }
    return HandleError(guard, error, io, resetOnCrc);
}

}  // namespace wirrow
