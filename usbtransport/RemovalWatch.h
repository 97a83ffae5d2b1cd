// The removal watch of one link: a hidden "WIRROW" window registered for the device
// notifications of the board interface, made and served on the library's NotifyWorker.
// When the platform reports that the link's board has gone, the watch calls its removal
// handler on that thread; the link then stops and closes its device, so calls waiting on
// it return COMM_ERROR_DEVICE_NOT_CONNECTED instead of hanging.
//
// The window and the registration are made and let go of on the NotifyWorker (a window
// can only be destroyed by its own thread), in one place (LetGoOfWindow): at once when End runs
// there (the removal handler), after a close message when it runs elsewhere.
#pragma once
#include "Condition.h"
#include "CriticalSection.h"
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
    // The owner has ended the watch and released it (Release) before.
    ~RemovalWatch() = default;
    RemovalWatch(const RemovalWatch &) = delete;
    RemovalWatch &operator=(const RemovalWatch &) = delete;

    // Asks the NotifyWorker for a window watching the board at `path`, and returns without waiting
    // for it: the window and its registration come a moment later (under Wine a thread's first
    // window takes tens of milliseconds), after which the watch asks device setup whether the board
    // is still there, so a board that goes in between is noticed too. `owner` goes into the
    // window's extra bytes (the link's address); `onRemoved` runs on the NotifyWorker when the
    // board goes. False when no worker could be started: the link then works without removal
    // reports, and the next transfer notices a lost board through its ERROR_DEVICE_NOT_CONNECTED.
    bool Start(const std::string &path, const void *owner, std::function<void()> onRemoved);
    // Asks for the window and registration to go. Any thread (the NotifyWorker too), any number
    // of times; a window still to be made is not made, and the removal handler no longer runs.
    void End();
    // Started and not yet asked to end.
    bool Watching();

    enum class Released { Settled, HandedOver, TimedOut };
    // After End: waits, at most timeoutMs, until nothing of the owner runs on the NotifyWorker any
    // more. Settled: the watch has let go of its window (or never had one) and may be freed.
    // HandedOver: the window is still being made, and the watch now belongs to the NotifyWorker,
    // which frees it once the window has come and gone; the owner must let go of it without freeing
    // it. The first window and registration of a process load the platform's libraries under the
    // loader lock, so a host's FreeLibrary right after its first open would otherwise wait for a
    // worker that waits for it. TimedOut: the removal handler still runs.
    Released Release(DWORD timeoutMs);

    // The window class, registered by the NotifyWorker as it starts; later registrations meet it
    // already there, which is fine.
    static void RegisterWindowClass();

private:
    friend class NotifyWorker;
    enum class Phase { Unstarted, Requested, Watching, LettingGo, Settled };

    // On the NotifyWorker.
    void MakeWindow();
    // The board has gone: the removal handler runs unless the watch is ending.
    void ReportRemoval();
    void LetGoOfWindow();
    void Settle();
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

    std::string path_;
    const void *owner_ = nullptr;
    std::function<void()> onRemoved_;
    // Over the seven below: End, the waits and the NotifyWorker may meet.
    CriticalSection guard_;
    Condition changed_;  // the phase moved on
    Phase phase_ = Phase::Unstarted;
    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr;
    bool ending_ = false;
    bool inHandler_ = false;   // the removal handler runs
    bool handedOver_ = false;  // the NotifyWorker frees the watch once settled
    RemovalWatch *next_ = nullptr;  // the NotifyWorker's lists (requests, then watches let go of)
};

}  // namespace wirrow
