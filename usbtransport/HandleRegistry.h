// The library's list of open links, in the order of opening, with the lock that
// guards it. One registry lives from the library's load to its unload.
#pragma once
#include "CommApi.h"
#include "SrwLock.h"
#include <vector>

namespace wirrow {

class UsbLink;

class HandleRegistry {
public:
    HandleRegistry() = default;
    virtual ~HandleRegistry();
    HandleRegistry(const HandleRegistry &) = delete;
    HandleRegistry &operator=(const HandleRegistry &) = delete;

    CommResult Startup();
    CommResult Cleanup();
    CommResult Open(const char *address, HCOMM *handle);
    // 0 when the handle was open here (it is closed now) or is a link that is not open here;
    // COMM_ERROR_INVALID_HANDLE otherwise.
    CommResult Close(HCOMM handle);
    // The open link behind the handle with this call counted on it (UsbLink::LeaveCall ends it),
    // or null when the handle is not open here. Found and counted in one shared hold of the lock
    // that Close holds exclusive to take a link off the list: a close waits for every call it let in.
    UsbLink *EnterCall(HCOMM handle);

    // Set when the process ends: its threads are gone then and nothing is waited for.
    static void NoteProcessEnding() { processEnding_ = true; }

private:
    static void Destroy(UsbLink *link);
    // Takes the link off the list; false when it is not on it.
    bool Remove(UsbLink *link);

    bool started_ = false;
    // Held shared by every call on a link to find it and count itself on it, exclusive to change
    // the list; never while a link's own lock is taken. In user space: the data path touches no
    // kernel object here.
    SrwLock lock_;
    std::vector<UsbLink *> handles_;
    static bool processEnding_;
};

HandleRegistry &Registry();

}  // namespace wirrow
