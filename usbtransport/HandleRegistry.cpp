#include "HandleRegistry.h"
#include "Library.h"
#include "MemoryAccess.h"
#include "NotifyWorker.h"
#include "UsbLink.h"
#include "WorkerPool.h"
#include <mbstring.h>
#include <algorithm>
#include <memory>
#include <new>

namespace wirrow {

bool HandleRegistry::processEnding_ = false;

HandleRegistry &Registry() {
    static HandleRegistry registry;
    return registry;
}

HandleRegistry::~HandleRegistry() {
    if (started_ && !processEnding_) Cleanup();
}

CommResult HandleRegistry::Startup() {
    started_ = true;
    return COMM_SUCCESS;
}

CommResult HandleRegistry::Cleanup() {
    if (!started_) return COMM_SUCCESS;
    for (;;) {
        UsbLink *link = nullptr;
        {
            ExclusiveHold hold(lock_);
            if (handles_.empty()) break;
            link = handles_.back();
            handles_.pop_back();
        }
        Destroy(link);
    }
    // The windows and the link work have gone with their links: the NotifyWorker and the pool's
    // threads need not wait for their idle end.
    TheNotifyWorker().Shutdown(kWorkerStopAllowanceMs);
    TheWorkerPool().Shutdown(kWorkerStopAllowanceMs);
    started_ = false;
    return COMM_SUCCESS;
}

namespace {

// A reference to this library, held by every open link (its threads hold their own as well). An
// unload with links still open leaves the library loaded, so that no link outlives the code it
// runs on; CommClose and CommCleanup give the references back.
Library PinThisLibrary() {
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCSTR>(reinterpret_cast<const void *>(&PinThisLibrary)), &self);
    return Library(self);
}

}  // namespace

void HandleRegistry::Destroy(UsbLink *link) {
    // The caller still holds its own reference to the library, so giving this one back after the
    // teardown does not unload the code that runs here.
    Library pin = link->TakeLibraryPin();
    if (link->Teardown()) {
        delete link;
        return;
    }
    // A thread, a call or a device transfer still uses the link: it stays allocated, and the
    // library stays loaded under it, for the rest of the process.
    link->HoldLibraryPin(std::move(pin));
}

CommResult HandleRegistry::Open(const char *address, HCOMM *handle) {
    if (!handle || !CanWriteMemory(handle, sizeof(*handle))) return COMM_E_POINTER;
    if (!address || !CanReadMemory(address, 1)) {
        *handle = nullptr;
        return COMM_E_POINTER;
    }
    {
        SharedHold hold(lock_);
        for (UsbLink *link : handles_) {
            if (_mbscmp(reinterpret_cast<const unsigned char *>(link->Path().c_str()),
                        reinterpret_cast<const unsigned char *>(address)) == 0) {
                *handle = link;
                ::SetLastError(ERROR_ALREADY_EXISTS);
                return COMM_SUCCESS;
            }
        }
    }
    std::unique_ptr<UsbLink> link(new (std::nothrow) UsbLink);
    if (!link) {
        *handle = nullptr;
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD error = link->Open(address);
    if (error) {
        Destroy(link.release());
        *handle = nullptr;
        return error;
    }
    link->HoldLibraryPin(PinThisLibrary());
    {
        ExclusiveHold hold(lock_);
        handles_.push_back(link.get());
    }
    *handle = link.release();
    return COMM_SUCCESS;
}

CommResult HandleRegistry::Close(HCOMM handle) {
    auto *link = static_cast<UsbLink *>(handle);
    if (Remove(link)) {
        // Off the list, the link takes no new call and is this close's alone: its teardown waits for
        // the calls still inside and runs without the lock, so a board that is slow to let go holds
        // up no call, open or close of another board.
        Destroy(link);
        return COMM_SUCCESS;
    }
    // Not open here. The value is only read through the memory check, never run.
    if (UsbLink::FromHandle(handle)) return COMM_SUCCESS;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return COMM_ERROR_INVALID_HANDLE;
}

bool HandleRegistry::Remove(UsbLink *link) {
    ExclusiveHold hold(lock_);
    auto found = std::find(handles_.begin(), handles_.end(), link);
    if (found == handles_.end()) return false;
    handles_.erase(found);
    return true;
}

UsbLink *HandleRegistry::EnterCall(HCOMM handle) {
    SharedHold hold(lock_);
    for (UsbLink *link : handles_) {
        if (link != handle) continue;
        link->EnterCall();
        return link;
    }
    return nullptr;
}

}  // namespace wirrow
