// The library's list of open links, in the order of opening, with the lock that
// guards it. One registry lives from the library's load to its unload.
#pragma once
#include "CommApi.h"
#include "UniqueHandle.h"
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
    CommResult Close(UsbLink *link);

    // Set when the process ends: its threads are gone then and nothing is waited for.
    static void NoteProcessEnding() { processEnding_ = true; }

private:
    static void Destroy(UsbLink *link);

    bool started_ = false;
    UniqueHandle lock_;
    std::vector<UsbLink *> handles_;
    static bool processEnding_;
};

HandleRegistry &Registry();

}  // namespace wirrow
