// Puts Communicator's board-selection dialogs on the screen for
// tools/screenshots.sh, with simulated routers and their boards: prints
// "<name> <left> <top> <width> <height>" for each window when it is ready and
// waits for a line on standard input before the next.
//   select_dialog_screenshot_driver.exe
#include "CommApi.h"
#include "FlashwellDriver.h"
#include "Hivekey.h"
#include "Library.h"
#include "Records.h"
#include "SimulatedRouters.h"
#include "Thread.h"

#include <cstring>
#include <string>

namespace {

struct Search {
    const char *caption;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    auto *search = reinterpret_cast<Search *>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window) ||
        flashwelltest::WindowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForWindow(const char *caption) {
    Search search{caption, nullptr};
    flashwelltest::WaitUntil(
        [&] {
            ::EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        20000);
    return search.found;
}

bool Report(const char *name, HWND window) {
    DWORD_PTR ignored = 0;
    // Drawn active, as in front of the user who called it up: this driver's process
    // has no window of its own that the system would have made foreground.
    ::SendMessageTimeoutA(window, WM_NCACTIVATE, TRUE, 0, SMTO_NORMAL, 10000, &ignored);
    ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return flashwelltest::ReportForPicture(name, window);
}

}  // namespace

int main() {
    routersim::SimulatedRouters routers;
    if (routers.Start() != 0 || routers.AddRouter(26300, "Lab-Router") != 0 ||
        routers.AddRouter(26301, "Production-Line") != 0)
        return 1;
    routers.SetDevices(26300, {Device("KV-220-Bench", "\\\\?\\usb#vid_1d6b&pid_0220#kv220a", 1),
                               Device("", "\\\\?\\usb#vid_1d6b&pid_0220#kv220b", 2), Device("KV-110", "COM3", 0)});
    routers.SetDevices(26301, {Device("Station-1", "COM1", 0)});
    CHivekey().Write("Lab-Router", "Router", REG_SZ);

    char path[MAX_PATH] = {};
    std::string folder(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    folder.erase(folder.find_last_of('\\'));
    Library communicator(::LoadLibraryExA((folder + "\\Communicator.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    auto select = communicator.Symbol<PFN_CommSelectDevice>("CommSelectDevice");
    if (!select) return 1;
    SelectionRecord choice{};
    Thread dialogThread;
    if (!dialogThread.Start([&] { select(&choice, nullptr); })) return 1;

    HWND dialog = WaitForWindow("Connect to board");
    bool shown = dialog && Report("connect-to-board", dialog);
    if (shown) {
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, 1002)));
        HWND add = WaitForWindow("Add Router Into the List");
        shown = add && Report("add-router", add);
        if (add) ::PostMessageA(add, WM_COMMAND, IDCANCEL, 0);
        flashwelltest::WaitUntil([&] { return !add || !::IsWindow(add); }, 10000);
    }
    if (dialog) ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    if (!dialogThread.Join(20000)) {
        communicator.Release();  // still in use: left to the process's end
        return 1;
    }
    return shown ? 0 : 1;
}
