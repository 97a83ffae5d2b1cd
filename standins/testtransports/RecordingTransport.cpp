// A test transport library: exports the Comm API, records every call with its
// arguments into the shared RecordingLog and answers as the log's behaviour
// block for its kind says. Handles are numbers, never memory.
#include "CommApi.h"
#include "RecordingLog.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <cstring>

#ifndef RECORDING_KIND
#error "RECORDING_KIND names the transport kind"
#endif

namespace {

using recording::Call;
using recording::Entry;

UniqueHandle logMapping;
recording::Log *theLog = nullptr;
SRWLOCK pathLock = SRWLOCK_INIT;
uintptr_t nextHandleNumber = 1;

constexpr unsigned kMaxOpenPaths = 64;
struct OpenPath {
    char path[192];
    HCOMM handle;
};
OpenPath openPaths[kMaxOpenPaths];

uint64_t Bits(const void *pointer) { return reinterpret_cast<uintptr_t>(pointer); }

void CopyText(char *field, const char *text) {
    if (text == nullptr) return;
    std::strncpy(field, text, sizeof(Entry::text[0]) - 1);
}

const recording::Behaviour *Behaviour() { return theLog ? &theLog->behaviour[RECORDING_KIND] : nullptr; }

uint32_t ResultFor(Call call) { return Behaviour() ? Behaviour()->results[call] : 0; }

Entry *Record(Call call, HCOMM handle, uint32_t result, uint64_t a0 = 0, uint64_t a1 = 0, uint64_t a2 = 0,
              uint64_t a3 = 0, uint64_t a4 = 0) {
    if (!theLog) return nullptr;
    long index = InterlockedIncrement(&theLog->count) - 1;
    if (index < 0 || index >= static_cast<long>(recording::kEntryCapacity)) return nullptr;
    Entry &entry = theLog->entries[index];
    entry.kind = RECORDING_KIND;
    entry.call = call;
    entry.threadId = GetCurrentThreadId();
    entry.result = result;
    entry.handle = Bits(handle);
    uint64_t args[5] = {a0, a1, a2, a3, a4};
    std::memcpy(entry.args, args, sizeof(args));
    return &entry;
}

void OpenLog(HINSTANCE self) {
    char name[128];
    DWORD length = GetEnvironmentVariableA(recording::kLogNameVariable, name, sizeof(name));
    if (length == 0 || length >= sizeof(name)) return;
    logMapping.Reset(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name));
    if (!logMapping) return;
    theLog = static_cast<recording::Log *>(MapViewOfFile(logMapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (Entry *entry = Record(recording::kAttach, nullptr, 0)) {
        GetModuleFileNameA(self, entry->text[0], sizeof(entry->text[0]) - 1);
    }
}

void CloseLog(LPVOID reserved) {
    Record(recording::kDetach, nullptr, 0, reserved != nullptr ? 1 : 0);
    if (theLog) UnmapViewOfFile(theLog);
    theLog = nullptr;
    logMapping.Reset();
}

HCOMM NewHandle() {
    // Distinct per kind, so that a test sees which transport a handle came from.
    return reinterpret_cast<HCOMM>((static_cast<uintptr_t>(RECORDING_KIND) + 1) << 20 | nextHandleNumber++ << 4);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) OpenLog(self);
    if (reason == DLL_PROCESS_DETACH) CloseLog(reserved);
    return TRUE;
}

extern "C" {

CommResult COMM_CALL CommStartup(void) {
    if (Behaviour() && Behaviour()->startupDelayMs) Sleep(Behaviour()->startupDelayMs);
    uint32_t result = ResultFor(recording::kStartup);
    Record(recording::kStartup, nullptr, result);
    return result;
}

CommResult COMM_CALL CommCleanup(void) {
    uint32_t result = ResultFor(recording::kCleanup);
    Record(recording::kCleanup, nullptr, result);
    return result;
}

CommResult COMM_CALL CommOpen(const char *address, uint32_t reserved, HCOMM *handle, const char *routerHost,
                              uint32_t routerPort) {
    uint32_t result = ResultFor(recording::kOpen);
    HCOMM delivered = nullptr;
    if (result == 0) {
        AcquireSRWLockExclusive(&pathLock);
        bool sameHandle = Behaviour() && Behaviour()->sameHandleForSamePath && address != nullptr;
        for (unsigned slot = 0; sameHandle && slot < kMaxOpenPaths && !delivered; ++slot) {
            if (openPaths[slot].handle && std::strcmp(openPaths[slot].path, address) == 0) {
                delivered = openPaths[slot].handle;
            }
        }
        if (!delivered) {
            delivered = NewHandle();
            for (unsigned slot = 0; address != nullptr && slot < kMaxOpenPaths; ++slot) {
                if (!openPaths[slot].handle) {
                    std::strncpy(openPaths[slot].path, address, sizeof(openPaths[slot].path) - 1);
                    openPaths[slot].handle = delivered;
                    break;
                }
            }
        }
        ReleaseSRWLockExclusive(&pathLock);
        *handle = delivered;
    }
    Entry *entry = Record(recording::kOpen, delivered, result, Bits(address), reserved, Bits(handle),
                          Bits(routerHost), routerPort);
    if (entry) {
        CopyText(entry->text[0], address);
        CopyText(entry->text[1], routerHost);
    }
    return result;
}

CommResult COMM_CALL CommClose(HCOMM handle) {
    if (Behaviour() && Behaviour()->closeHoldEvent[0]) {
        UniqueHandle entered(OpenEventA(EVENT_MODIFY_STATE, FALSE, Behaviour()->closeEnteredEvent));
        UniqueHandle hold(OpenEventA(SYNCHRONIZE, FALSE, Behaviour()->closeHoldEvent));
        if (entered) SetEvent(entered.Get());
        if (hold) WaitForSingleObject(hold.Get(), 10000);
    }
    AcquireSRWLockExclusive(&pathLock);
    for (OpenPath &open : openPaths) {
        if (open.handle == handle) open = OpenPath{};
    }
    ReleaseSRWLockExclusive(&pathLock);
    uint32_t result = ResultFor(recording::kClose);
    Record(recording::kClose, handle, result);
    return result;
}

CommResult COMM_CALL CommConnect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request,
                                 void *reply) {
    uint32_t result = ResultFor(recording::kConnect);
    Record(recording::kConnect, handle, result, channel, Bits(subchannel), Bits(request), Bits(reply));
    return result;
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    uint32_t result = ResultFor(recording::kDisconnect);
    Record(recording::kDisconnect, handle, result);
    return result;
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    uint32_t result = ResultFor(recording::kGetOption);
    Record(recording::kGetOption, handle, result, option, Bits(value));
    return result;
}

#ifndef RECORDING_WITHOUT_SET_OPTION
CommResult COMM_CALL CommSetOption(HCOMM handle, uint32_t option, const void *value) {
    uint32_t result = ResultFor(recording::kSetOption);
    Record(recording::kSetOption, handle, result, option, Bits(value));
    return result;
}
#endif

CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                  uint32_t subchannel) {
    uint32_t result = ResultFor(recording::kSendData);
    Record(recording::kSendData, handle, result, Bits(data), length, channel, subchannel);
    return result;
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    uint32_t result = ResultFor(recording::kReceiveData);
    Record(recording::kReceiveData, handle, result, Bits(buffer), Bits(length), Bits(channel), Bits(subchannel));
    return result;
}

}  // extern "C"
