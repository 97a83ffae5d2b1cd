// The Comm API as Wirrow exports it: each call finds its handle among the open
// links and hands the work to that UsbLink or to the registry. No exception leaves here.
#include "CommApi.h"
#include "HandleRegistry.h"
#include "RemovalWatch.h"
#include "UsbLink.h"
#include <windows.h>

#include <type_traits>

// The header declares the start and end only for transport builds; this one must see them, as
// Communicator binds them.
static_assert(std::is_same_v<decltype(&CommStartup), PFN_CommStartup> &&
                  std::is_same_v<decltype(&CommCleanup), PFN_CommCleanup>,
              "Wirrow is built with COMM_TRANSPORT_LIBRARY");

using wirrow::Registry;
using wirrow::UsbLink;

namespace {

template <typename Body> CommResult Guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return COMM_ERROR_NOT_ENOUGH_MEMORY;
    }
}

// A call on an open link: found and counted in one step, so that another thread's close of the
// handle (a caller's mistake, but not one that may corrupt memory) either comes first, and the call
// gets COMM_ERROR_INVALID_HANDLE, or frees the link only once the call has left.
template <typename Body> CommResult OnLink(HCOMM handle, Body body) {
    UsbLink *link = Registry().EnterCall(handle);
    if (!link) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return COMM_ERROR_INVALID_HANDLE;
    }
    const CommResult result = Guarded([&] { return body(*link); });
    link->LeaveCall();
    return result;
}

}  // namespace

extern "C" {

// Nothing of the transport's own happens at load: the registry is built empty on first use. At an
// unload by FreeLibrary no link is left (each open link and each of the library's threads holds a
// reference to the library), so the registry's destruction after this only frees its empty list, and
// the notification windows' class can go. At process exit every other thread is already gone,
// wherever it stood: nothing is waited for or given back then.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason != DLL_PROCESS_DETACH) return TRUE;
    if (reserved != nullptr)
        wirrow::HandleRegistry::NoteProcessEnding();
    else
        wirrow::UnregisterNotifyWindowClass();
    return TRUE;
}

CommResult COMM_CALL CommStartup(void) {
    return Guarded([] { return Registry().Startup(); });
}

CommResult COMM_CALL CommCleanup(void) {
    return Guarded([] { return Registry().Cleanup(); });
}

CommResult COMM_CALL CommOpen(const char *address, uint32_t, HCOMM *handle, const char *, uint32_t) {
    return Guarded([&] { return Registry().Open(address, handle); });
}

CommResult COMM_CALL CommClose(HCOMM handle) {
    return Guarded([&] { return Registry().Close(handle); });
}

CommResult COMM_CALL CommConnect(HCOMM handle, uint32_t channel, const uint8_t *subchannel, const void *request,
                                 void *reply) {
    return OnLink(handle, [&](UsbLink &link) { return link.Connect(channel, subchannel, request, reply); });
}

CommResult COMM_CALL CommDisconnect(HCOMM handle) {
    return OnLink(handle, [&](UsbLink &link) { return link.Disconnect(); });
}

CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value) {
    return OnLink(handle, [&](UsbLink &link) { return link.GetOption(option, value); });
}

CommResult COMM_CALL CommSetOption(HCOMM handle, uint32_t option, const void *value) {
    return OnLink(handle, [&](UsbLink &link) { return link.SetOption(option, value); });
}

CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length, uint32_t channel,
                                  uint32_t subchannel) {
    return OnLink(handle, [&](UsbLink &link) { return link.SendData(data, length, channel, subchannel); });
}

CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length, uint8_t *channel,
                                     uint8_t *subchannel) {
    return OnLink(handle, [&](UsbLink &link) { return link.ReceiveData(buffer, length, channel, subchannel); });
}

}  // extern "C"
