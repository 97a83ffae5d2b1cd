// `ImageTool watch`: a production-line station. Each board that appears is updated once, boards
// that arrive together at the same time; a board is updated again only after it was unplugged.
//
// A board is picked up by a search of the present boards, made at once when the platform
// reports an arrival of the board interface and every kPollMs otherwise: Wine reported no arrival
// of the simulated boards' interfaces (station_bench counts them), and a search costs tens of
// milliseconds there.
// A completed removal report makes the station forget the board at once, so that one unplugged
// and plugged in again between two searches is still updated again.
#include "BoardLines.h"
#include "BoardRecord.h"
#include "BoardRun.h"
#include "BoardInterfaceGuid.h"
#include "BoardUpdate.h"
#include "CriticalSection.h"
#include "ImageToolExit.h"
#include "StationBoards.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <dbt.h>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 250;
constexpr DWORD kNoticeReadyWaitMs = 5000;
constexpr size_t kMostRemovalsKept = 256;  // reports come from outside: bounded
const char kNoticeWindowClass[] = "ImageToolStation";

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

// The board interface's arrival and removal reports, on a hidden window of a thread of its own.
// An arrival sets `wake`; a removal is kept for TakeRemovals and sets `wake`. The window and its
// registration are made and let go of on that thread, the only one that may destroy the window.
class BoardNotices {
public:
    explicit BoardNotices(HANDLE wake) : wake_(wake), ready_(MakeEvent(true, false)) {}
    ~BoardNotices() {
        HWND window = nullptr;
        {
            SectionHold hold(guard_);
            window = window_;
        }
        if (window) ::PostMessageA(window, WM_CLOSE, 0, 0);
        thread_.Join(kNoticeReadyWaitMs);
    }
    BoardNotices(const BoardNotices &) = delete;
    BoardNotices &operator=(const BoardNotices &) = delete;

    // False when there is no window: the station then searches every kPollMs alone.
    bool Start() {
        if (!ready_ || !thread_.Start([this] { Main(); })) return false;
        ::WaitForSingleObject(ready_.Get(), kNoticeReadyWaitMs);
        SectionHold hold(guard_);
        return window_ != nullptr;
    }

    std::vector<std::string> TakeRemovals() {
        SectionHold hold(guard_);
        std::vector<std::string> taken;
        taken.swap(removals_);
        return taken;
    }

private:
    void Main() {
        const HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &BoardNotices::Procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kNoticeWindowClass;
        ::RegisterClassExA(&windowClass);
        // A top-level window: removal reports are sent to those.
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

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrA(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(second)->lpCreateParams));
        auto *notices = reinterpret_cast<BoardNotices *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        switch (message) {
        case WM_DEVICECHANGE:
            if (notices && (first == DBT_DEVICEARRIVAL || first == DBT_DEVICEREMOVECOMPLETE)) {
                const std::string path = ReportedInterface(second);
                if (first == DBT_DEVICEREMOVECOMPLETE && !path.empty()) {
                    SectionHold hold(notices->guard_);
                    if (notices->removals_.size() < kMostRemovalsKept) notices->removals_.push_back(path);
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

    HANDLE wake_;
    UniqueHandle ready_;
    Thread thread_;
    HDEVNOTIFY registration_ = nullptr;  // the notice thread's alone
    CriticalSection guard_;              // over the two below
    HWND window_ = nullptr;
    std::vector<std::string> removals_;
};

// One board's update on a thread of its own; its result is reported as it ends.
struct StationJob {
    Board board;
    EnrolledInterrupt interrupt;
    Thread thread;
    BoardResult result;
    std::atomic<bool> finished{false};
};

class Station {
public:
    Station(const ImageToolCommand &command, BoardReports &reports)
        : command_(command), reports_(reports), wake_(MakeEvent(false, false)),
          lines_(command.quiet ? ProgressStyle::Quiet : ProgressStyle::Lines, {}) {}

    int Run() {
        if (!wake_) return Fail(kExitLinkFailed, "cannot make an event: " + std::to_string(::GetLastError()));
        BoardNotices notices(wake_.Get());
        notices.Start();
        if (!command_.quiet) {
            std::fprintf(stderr, "Waiting for boards (Ctrl+C ends)\n");
            std::fflush(stderr);
        }
        const HANDLE waits[] = {wake_.Get(), TheInterrupts().InterruptedEvent()};
        for (;;) {
            for (const std::string &path : notices.TakeRemovals()) boards_.Removed(path);
            Reap();
            if (TheInterrupts().Interrupted()) break;
            if (command_.count != 0 && started_ >= command_.count && jobs_.empty()) break;
            StartArrivals();
            ::WaitForMultipleObjects(2, waits, FALSE, kPollMs);
        }
        // Every session ends: an interrupted one at once, a silent board after its reply deadline.
        for (auto &job : jobs_) job->thread.Join();
        Reap();
        return Finish();
    }

private:
    void StartArrivals() {
        std::vector<std::string> present;
        FindTargets(present);
        for (const std::string &path : boards_.Waiting(present)) {
            if (command_.count != 0 && started_ >= command_.count) return;
            if (jobs_.size() >= command_.jobs) return;
            // Plugged in again while its last update is still ending: taken once that has ended.
            if (Busy(path)) continue;
            auto job = std::make_unique<StationJob>();
            job->board = {started_ + 1, path};
            StationJob *running = job.get();
            if (!job->thread.Start([this, running] { Update(*running); })) return;  // the next search tries again
            boards_.Take(path);
            ++started_;
            jobs_.push_back(std::move(job));
        }
    }

    void Update(StationJob &job) {
        BoardLineView view(lines_, job.board.number - 1, job.board.number, command_.imagePath);
        job.result = RunBoard(command_, job.board, view, job.interrupt.Get());
        reports_.Report(job.result);
        job.finished.store(true);
        ::SetEvent(wake_.Get());
    }

    bool Busy(const std::string &path) const {
        for (const auto &job : jobs_)
            if (::lstrcmpiA(job->board.path.c_str(), path.c_str()) == 0) return true;
        return false;
    }

    // Finished jobs' results, in the order they finished as far as one look tells.
    void Reap() {
        for (auto at = jobs_.begin(); at != jobs_.end();) {
            if (!(*at)->finished.load()) {
                ++at;
                continue;
            }
            (*at)->thread.Join();
            results_.push_back((*at)->result);
            at = jobs_.erase(at);
        }
    }

    int Finish() {
        std::FILE *summary = command_.json ? stderr : stdout;
        if (!command_.quiet) {
            std::fprintf(summary, "%s\n", FormatStationSummary(results_).c_str());
            std::fflush(summary);
        }
        return FirstFailureExitCode(results_);
    }

    const ImageToolCommand &command_;
    BoardReports &reports_;
    UniqueHandle wake_;  // auto-reset: a notice arrived or a job finished
    BoardLines lines_;
    StationBoards boards_;
    std::vector<std::unique_ptr<StationJob>> jobs_;
    std::vector<BoardResult> results_;
    unsigned started_ = 0;
};

}  // namespace

int WatchBoards(const ImageToolCommand &command) {
    const int checked = CheckImage(command, command.quiet);
    if (checked != kExitDone) return checked;
    BoardReports reports(command);
    const int opened = reports.Open();
    if (opened != kExitDone) return opened;
    ConsoleControlHandler controlHandler;
    return Station(command, reports).Run();
}
