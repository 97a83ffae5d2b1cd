#include "BoardNotices.h"
#include "BoardInterfaceGuid.h"
#include <dbt.h>
#include <cstddef>
#include <cstring>

namespace {

constexpr DWORD kNoticeReadyWaitMs = 5000;
constexpr size_t kMostRemovalsKept = 256;  // reports come from outside: bounded
const char kNoticeWindowClass[] = "ImageToolBoardNotices";

// The interface path a device-interface report names, read no further than the size it states;
// empty for any other report.
std::string ReportedInterface(LPARAM report) {
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(report);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return std::string();
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (header->dbch_size <= nameOffset || header->dbch_size > 4096) return std::string();
    const char *name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(header)->dbcc_name;
    return std::string(name, strnlen(name, header->dbch_size - nameOffset));
}

}  // namespace

BoardNotices::BoardNotices(HANDLE wake) : wake_(wake), ready_(MakeEvent(true, false)) {}

BoardNotices::~BoardNotices() {
    HWND window = nullptr;
    {
        SectionHold hold(guard_);
        window = window_;
    }
    if (window) ::PostMessageA(window, WM_CLOSE, 0, 0);
    thread_.Join(kNoticeReadyWaitMs);
}

bool BoardNotices::Start() {
    if (!ready_ || !thread_.Start([this] { Main(); })) return false;
    ::WaitForSingleObject(ready_.Get(), kNoticeReadyWaitMs);
    SectionHold hold(guard_);
    return window_ != nullptr;
}

std::vector<std::string> BoardNotices::TakeRemovals() {
    SectionHold hold(guard_);
    std::vector<std::string> taken;
    taken.swap(removals_);
    return taken;
}

unsigned BoardNotices::Arrivals() {
    SectionHold hold(guard_);
    return arrivals_;
}

void BoardNotices::Main() {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &BoardNotices::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kNoticeWindowClass;
    // A second watch in the process meets the class already there, which is fine.
    ::RegisterClassExA(&windowClass);
    HWND window = ::CreateWindowExA(0, kNoticeWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (window) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = BoardInterfaceGuid;
        registration_ = ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        SectionHold hold(guard_);
        window_ = window;
    }
    ::SetEvent(ready_.Get());
    if (!window) return;
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
}

LRESULT CALLBACK BoardNotices::Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(second)->lpCreateParams));
    auto *notices = reinterpret_cast<BoardNotices *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_DEVICECHANGE:
        if (notices && (first == DBT_DEVICEARRIVAL || first == DBT_DEVICEREMOVECOMPLETE)) {
            const std::string path = ReportedInterface(second);
            {
                SectionHold hold(notices->guard_);
                if (first == DBT_DEVICEARRIVAL) ++notices->arrivals_;
                if (first == DBT_DEVICEREMOVECOMPLETE && !path.empty() && notices->removals_.size() < kMostRemovalsKept)
                    notices->removals_.push_back(path);
            }
            ::SetEvent(notices->wake_);
        }
        return TRUE;
    case WM_CLOSE:
        if (notices) {
            if (notices->registration_) ::UnregisterDeviceNotification(notices->registration_);
            notices->registration_ = nullptr;
            SectionHold hold(notices->guard_);
            notices->window_ = nullptr;
        }
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    default: return ::DefWindowProcA(window, message, first, second);
    }
}
