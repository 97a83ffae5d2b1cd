// The removal watch of one link: the NotifyWorker, a thread of this library with a
// hidden "WIRROW" window registered for the device notifications of the board
// interface. When the platform reports that the link's board has gone, the watch
// calls its removal handler on that thread; the link then stops and closes its
// device, so calls waiting on it return COMM_ERROR_DEVICE_NOT_CONNECTED instead of hanging.
//
// The watch owns its thread, its window and its registration. The window and the
// registration are made and let go of by the NotifyWorker itself (a window can only
// be destroyed by its own thread), in one place (LetGo): at once when End runs on the
// NotifyWorker (the removal handler), after a close message when it runs elsewhere.
// The window's destroy message ends the message loop and with it the thread.
#pragma once
#include "CriticalSection.h"
#include "PinnedThread.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <dbt.h>
#include <functional>
#include <string>

namespace wirrow {

extern const char kNotifyWindowClass[];
// The module the class and its windows belong to: this library.
HINSTANCE NotifyWindowInstance();
// At the library's unload, when no link (and so no window) is left.
void UnregisterNotifyWindowClass();

// True for a completed removal report of a device interface whose name is `path` in any letter
// case (multibyte-aware). The name is read no further than the size the report states.
bool IsRemovalOf(WPARAM event, const DEV_BROADCAST_HDR *broadcast, const std::string &path);

class RemovalWatch {
public:
    RemovalWatch() = default;
    // The owner has ended the watch and waited for it (WaitEnded) before.
    ~RemovalWatch() = default;
    RemovalWatch(const RemovalWatch &) = delete;
    RemovalWatch &operator=(const RemovalWatch &) = delete;

    // Starts the NotifyWorker for the board at `path`. `owner` goes into the window's extra
    // bytes (the link's address); `onRemoved` runs on the NotifyWorker when the board goes.
    // Returns once the window watches, or the worker could not make it and ended, or after
    // kNotifyReadyWaitMs: a worker still setting up its window needs the loader lock, so a host
    // that releases the library right after opening would otherwise wait for it forever. False
    // when no thread could be started: the link then works without removal reports, and the
    // next transfer notices a lost board through its ERROR_DEVICE_NOT_CONNECTED.
    bool Start(const std::string &path, const void *owner, std::function<void()> onRemoved);
    // Asks the NotifyWorker to let go of its window and registration and end. Any thread
    // (the NotifyWorker's own too), any number of times; a watch still being set up ends
    // instead of watching.
    void End();
    // Started and not yet asked to end.
    bool Watching();
    // True when the NotifyWorker has ended (or never ran) within the time.
    bool WaitEnded(DWORD timeoutMs);

private:
    void NotifyWorker();
    void LetGo();
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

    std::string path_;
    const void *owner_ = nullptr;
    std::function<void()> onRemoved_;
    UniqueHandle ready_;  // set by the NotifyWorker once its window watches
    PinnedThread worker_;
    // Over the three below: End and the NotifyWorker's setup and end may meet.
    CriticalSection guard_;
    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr;
    bool ending_ = false;
};

}  // namespace wirrow
