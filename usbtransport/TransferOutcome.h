// What became of a transfer: one read or write on the device (TimedTransfer), or a caller's
// whole send or receive. Only UsbLink's public methods turn it into a Comm API result.
#pragma once
#include <cstdint>

namespace wirrow {

enum class TransferOutcome : uint8_t {
    Done,
    Short,       // the device handed over fewer bytes than asked (a byte stream may)
    TimedOut,    // not done in time: cancelled; a send whose tries or refusals ran out
    Stopped,     // the link's stop (or the connect's cancel) came first: cancelled
    DeviceGone,  // the device is gone, or damaged a transfer the link cannot recover: it is closed
    Damaged,     // a damaged transfer after which the device's pipes were reset
    Failed,      // any other platform error
    Unfinished,  // a received message broken off by the next one or by another address
    NoRoom,      // the caller's buffer cannot hold the next packet, which stays for the next receive
};

}  // namespace wirrow
