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
#include "BoardNotices.h"
#include "BoardRecord.h"
#include "BoardRun.h"
#include "BoardUpdate.h"
#include "CriticalSection.h"
#include "ImageToolExit.h"
#include "StationBoards.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 250;

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
