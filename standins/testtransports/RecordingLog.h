// The shared-memory log of the recording test transports. A test creates a
// file mapping of one RecordingLog, names it in the environment variable
// RECORDING_TRANSPORT_LOG before the transports are loaded, sets the behaviour of
// each transport kind in it, and reads back every call the transports received,
// with its arguments, in the order of the calls.
#pragma once
#include <cstdint>

namespace recording {

constexpr char kLogNameVariable[] = "RECORDING_TRANSPORT_LOG";

enum Kind : uint32_t { kTcp = 0, kCom = 1, kUsb = 2, kKindCount = 3 };

enum Call : uint32_t {
    kAttach,  // DLL_PROCESS_ATTACH; text[0] holds the module's path
    kDetach,  // DLL_PROCESS_DETACH; args[0] is 1 at process exit
    kStartup,
    kCleanup,
    kOpen,  // args: address, reserved, out handle, router host, router port; text: address, host
    kClose,
    kGetOption,
    kSetOption,
    kConnect,
    kDisconnect,
    kSendData,
    kReceiveData,
    kCallCount
};

struct Behaviour {
    uint32_t results[kCallCount];    // what each call returns (0 by default)
    uint32_t sameHandleForSamePath;  // non-zero: a repeated open of an open path gives its handle
    uint32_t startupDelayMs;         // CommStartup takes this long, to widen races in tests
    // Named events: when closeHoldEvent is set, CommClose sets closeEnteredEvent and then waits
    // (at most 10 s) for closeHoldEvent before it lets go of the handle, to hold a close open.
    char closeEnteredEvent[64];
    char closeHoldEvent[64];
};

struct Entry {
    uint32_t kind;
    uint32_t call;
    uint32_t threadId;
    uint32_t result;
    uint64_t handle;   // the handle received; for kOpen, the handle delivered
    uint64_t args[5];  // the call's arguments in order, the handle excluded
    char text[2][192];
};

constexpr uint32_t kEntryCapacity = 512;

struct Log {
    volatile long count;  // entries claimed; may exceed the capacity (then the extra ones are dropped)
    Behaviour behaviour[kKindCount];
    Entry entries[kEntryCapacity];
};

}  // namespace recording
