#include "RemovalWatch.h"
#include "BoardInterfaceGuid.h"
#include "InterfacePresence.h"
#include "NotifyWorker.h"
#include <cstddef>
#include <cstring>
#include <utility>

namespace wirrow {

const char kNotifyWindowClass[] = "WIRROW";

#ifndef _WIN64
static_assert(sizeof(WNDCLASSEXA) == 48, "window class record of the 32-bit platform");
#endif
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "device-interface filter");

namespace {

HMODULE ThisLibrary() {
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(reinterpret_cast<const void *>(&ThisLibrary)), &self);
    return self;
}

}  // namespace

// The class belongs to this library's module: a class left registered for the process after an
// unload would keep a window procedure in unmapped code, and the next load of the library would
// meet it as "already exists". UnregisterNotifyWindowClass gives it back at unload.
HINSTANCE NotifyWindowInstance() { return ThisLibrary(); }

void UnregisterNotifyWindowClass() { ::UnregisterClassA(kNotifyWindowClass, NotifyWindowInstance()); }

bool IsRemovalOf(WPARAM event, const DEV_BROADCAST_HDR *broadcast, const std::string &path) {
    if (event != DBT_DEVICEREMOVECOMPLETE) return false;
    if (!broadcast || broadcast->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
    const auto *interfaceBroadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(broadcast);
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (broadcast->dbch_size <= nameOffset) return false;
    const size_t room = broadcast->dbch_size - nameOffset;
    const char *name = interfaceBroadcast->dbcc_name;
    return SameInterfaceName(name, strnlen(name, room), path);
}

bool RemovalWatch::Start(const std::string &path, const void *owner, std::function<void()> onRemoved) {
    path_ = path;
    owner_ = owner;
    onRemoved_ = std::move(onRemoved);
    {
        SectionHold hold(guard_);
        phase_ = Phase::Requested;
    }
    // Not under guard_: the worker's lock is never taken while a watch's is held.
    if (TheNotifyWorker().Request(this)) return true;
    SectionHold hold(guard_);
    phase_ = Phase::Settled;
    return false;
}

void RemovalWatch::End() {
    {
        SectionHold hold(guard_);
        ending_ = true;
        // A window can only be destroyed by its own thread: on another, the close message asks
        // the NotifyWorker to let go (WindowProcedure). A window still to be made is not made.
        if (!TheNotifyWorker().IsCurrent()) {
            if (window_) ::PostMessageA(window_, WM_CLOSE, 0, 0);
            return;
        }
    }
    LetGoOfWindow();  // the removal handler, on the NotifyWorker itself
}

bool RemovalWatch::Watching() {
    SectionHold hold(guard_);
    return (phase_ == Phase::Requested || phase_ == Phase::Watching) && !ending_;
}

RemovalWatch::Released RemovalWatch::Release(DWORD timeoutMs) {
    SectionHold hold(guard_);
    const Waited waited = changed_.Wait(guard_, nullptr, timeoutMs, [this] {
        return phase_ == Phase::Unstarted || phase_ == Phase::Settled || (phase_ == Phase::Requested && !inHandler_);
    });
    if (waited != Waited::Ready) return Released::TimedOut;
    if (phase_ != Phase::Requested) return Released::Settled;
    // Still to be made or being made: End has been called, so the handler will not run again.
    handedOver_ = true;
    return Released::HandedOver;
}

void RemovalWatch::RegisterWindowClass() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &RemovalWatch::WindowProcedure;
    windowClass.cbClsExtra = 0;
    // Room for the link's address: a pointer in the 64-bit build, 4 bytes in the 32-bit one.
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = NotifyWindowInstance();
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kNotifyWindowClass;
    ::RegisterClassExA(&windowClass);
}

void RemovalWatch::MakeWindow() {
    {
        SectionHold hold(guard_);
        if (ending_) {
            phase_ = Phase::LettingGo;
            TheNotifyWorker().LetGoOf(this);
            return;
        }
    }
    HWND window = ::CreateWindowExA(0, kNotifyWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, NotifyWindowInstance(), nullptr);
    HDEVNOTIFY registration = nullptr;
    if (window) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_reserved = 0;
        filter.dbcc_classguid = BoardInterfaceGuid;
        registration = ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    {
        SectionHold hold(guard_);
        window_ = window;
        registration_ = registration;
    }
    // Without a window the link works on without removal reports; a link closed while the window
    // was being made has nothing to watch.
    if (!window || !Watching()) {
        LetGoOfWindow();
        return;
    }
    // The window is made while the caller may already use its handle: a board that went before the
    // registration stood reported its removal to no one, so device setup is asked once. A removal
    // reported from here on reaches the window as well; the second report finds the watch ended.
    if (BoardInterfacePresence(path_) == InterfacePresence::Absent) ReportRemoval();
    SectionHold hold(guard_);
    if (phase_ == Phase::Requested) {
        // From here on a teardown waits for the window to go: a window that shows its link's address
        // is gone before that link's CommClose returns.
        ::SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(owner_));
        phase_ = Phase::Watching;
    }
    changed_.WakeAll();
}

void RemovalWatch::ReportRemoval() {
    {
        SectionHold hold(guard_);
        if (ending_) return;
        inHandler_ = true;
    }
    onRemoved_();
    SectionHold hold(guard_);
    inHandler_ = false;
    changed_.WakeAll();
}

// The one place where the registration and the window go, in that order; on the NotifyWorker.
// The watch is settled once the worker is back from what called this.
void RemovalWatch::LetGoOfWindow() {
    HWND window;
    HDEVNOTIFY registration;
    {
        SectionHold hold(guard_);
        window = std::exchange(window_, nullptr);
        registration = std::exchange(registration_, nullptr);
    }
    if (registration) ::UnregisterDeviceNotification(registration);
    if (window) ::DestroyWindow(window);
    SectionHold hold(guard_);
    if (phase_ == Phase::LettingGo || phase_ == Phase::Settled) return;
    phase_ = Phase::LettingGo;
    TheNotifyWorker().LetGoOf(this);
}

void RemovalWatch::Settle() {
    {
        SectionHold hold(guard_);
        phase_ = Phase::Settled;
        changed_.WakeAll();
        if (!handedOver_) return;
    }
    delete this;  // its owner has gone
}

LRESULT CALLBACK RemovalWatch::WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    auto *watch = reinterpret_cast<RemovalWatch *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_CLOSE:
        // End's request from another thread.
        if (watch) watch->LetGoOfWindow();
        return 0;
    case WM_DESTROY:
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        return 0;
    case WM_DEVICECHANGE:
        if (watch && IsRemovalOf(first, reinterpret_cast<const DEV_BROADCAST_HDR *>(second), watch->path_))
            watch->ReportRemoval();
        return 0;
    default:
        return ::DefWindowProcA(window, message, first, second);
    }
}

}  // namespace wirrow
