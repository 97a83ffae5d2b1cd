// The removal watch of one link: the NotifyWorker thread with its hidden "WIRROW"
// window, registered for the board interface's device notifications. When the
// platform reports that this link's board has gone, the link stops and closes its
// device on its own, so calls waiting on it return 1167 instead of hanging.
#include "NotifyWindow.h"
#include "BoardInterfaceGuid.h"
#include "UsbLink.h"
#include <cstddef>
#include <cstring>

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

void UsbLink::NotifyWorker() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &UsbLink::WindowProcedure;
    windowClass.cbClsExtra = 0;
    // Room for the link's address: a pointer in the 64-bit build, 4 bytes in the 32-bit one.
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = NotifyWindowInstance();
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kNotifyWindowClass;
    // Every link registers; all but the first meet the class already there, which is fine.
    ::RegisterClassExA(&windowClass);
    HWND window = ::CreateWindowExA(0, kNotifyWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, NotifyWindowInstance(), nullptr);
    if (!window) return;  // the link works on without removal reports
    ::SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(this));
    {
        SectionHold hold(deviceGuard_);
        if (notificationEnding_) {
            // The link was closed while the window was being made: nothing to watch.
            ::SetWindowLongPtrA(window, 0, 0);
            ::DestroyWindow(window);
        } else {
            window_ = window;
            DEV_BROADCAST_DEVICEINTERFACE_A filter{};
            filter.dbcc_size = sizeof(filter);
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_reserved = 0;
            filter.dbcc_classguid = BoardInterfaceGuid;
            notification_ = ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }
    }
    ::SetEvent(notifyReady_.Get());
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

// True for a completed removal of a device interface whose name is this link's path in any letter
// case. The name is read no further than the size the broadcast states.
bool UsbLink::IsOwnRemoval(const DEV_BROADCAST_HDR *broadcast) const {
    if (!broadcast || broadcast->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
    const auto *interfaceBroadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(broadcast);
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (broadcast->dbch_size <= nameOffset) return false;
    const size_t room = broadcast->dbch_size - nameOffset;
    const char *name = interfaceBroadcast->dbcc_name;
    const size_t nameLength = strnlen(name, room);
    const std::string &path = Path();
    if (path.empty() || nameLength > 0x7FFFFFFF || path.size() > 0x7FFFFFFF) return false;
    // The platform's comparison ignores case as the system's code page defines it, multibyte characters included.
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, static_cast<int>(nameLength), path.c_str(),
                            static_cast<int>(path.size())) == CSTR_EQUAL;
}

// What CommDisconnect does, then the device is closed; CloseDevice also ends this window.
void UsbLink::OnBoardRemoved() {
    StopWorkers();
    channel_ = 0;
    {
        SectionHold gate(requestGate_);
        if (state_.load() >= LinkState::Negotiated) state_ = LinkState::Opened;
    }
    CloseDevice();
}

LRESULT CALLBACK UsbLink::WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    auto *link = reinterpret_cast<UsbLink *>(::GetWindowLongPtrA(window, 0));
    switch (message) {
    case WM_DESTROY:
        if (link) {
            SectionHold hold(link->deviceGuard_);
            if (link->notification_) {
                ::UnregisterDeviceNotification(link->notification_);
                link->notification_ = nullptr;
            }
        }
        ::PostQuitMessage(0);
        return 0;
    case WM_DEVICECHANGE:
        if (link && first == DBT_DEVICEREMOVECOMPLETE &&
            link->IsOwnRemoval(reinterpret_cast<const DEV_BROADCAST_HDR *>(second)))
            link->OnBoardRemoved();
        return 0;
    default:
        return ::DefWindowProcA(window, message, first, second);
    }
}

}  // namespace wirrow
