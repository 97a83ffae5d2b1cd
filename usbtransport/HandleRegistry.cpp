#include "HandleRegistry.h"
#include "Library.h"
#include "MemoryAccess.h"
#include "MutexLock.h"
#include "UsbLink.h"
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
    if (!started_) {
        lock_ = MakeMutex();
        started_ = true;
    }
    return COMM_SUCCESS;
}

CommResult HandleRegistry::Cleanup() {
    if (!started_) return COMM_SUCCESS;
    while (!handles_.empty()) {
        UsbLink *link = handles_.back();
        handles_.pop_back();
        Destroy(link);
    }
    lock_.Reset();
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
        MutexLock hold(lock_.Get());
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
        MutexLock hold(lock_.Get());
        handles_.push_back(link.get());
    }
    *handle = link.release();
    return COMM_SUCCESS;
}

CommResult HandleRegistry::Close(UsbLink *link) {
    {
        MutexLock hold(lock_.Get());
        auto found = std::find(handles_.begin(), handles_.end(), link);
        if (found == handles_.end()) return COMM_SUCCESS;
        handles_.erase(found);
    }
    // Off the list, the link is this call's alone: its teardown runs without the lock, so a board
    // that is slow to let go holds up no open or close of another board.
    Destroy(link);
    return COMM_SUCCESS;
}

}  // namespace wirrow
