// Figures for ImageTool's production-line modes, printed, not judged:
//  - `update --all --parallel` over 4 simulated boards against `update` of 1 board alone, for a
//    1 MiB and an 8 MiB image: each total time (the whole ImageTool.exe run) and their ratio
//    (1.0 would be perfect overlap);
//  - `watch`: from a board's arrival (its interface listed as present) to the start of its update
//    (the host opening it), median and worst of 20 arrivals, one board at a time; and whether
//    the platform delivered arrival reports of the board interface to a window registered for
//    them (under Wine it does not, so the station finds boards by its light search).
// The boards live in this process, behind USB interfaces of the board class.
//   tools/sandbox.sh wine build/x86_64/bin/station_bench.exe [--rounds=N]
#include "BoardNotices.h"
#include "Median.h"
#include "Payloads.h"
#include "ProgramFolder.h"
#include "SimulatedBoard.h"
#include "TempFolder.h"
#include "ToolRun.h"
#include "UniqueName.h"
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using boardsim::BoardConfig;
using boardsim::SimulatedBoard;

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr DWORD kRunWaitMs = 300000;
constexpr int kArrivals = 20;

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::unique_ptr<SimulatedBoard> StartBoard() {
    BoardConfig config;
    config.instance = UniqueName("station");
    auto board = std::make_unique<SimulatedBoard>(config);
    return board->Start() == 0 ? std::move(board) : nullptr;
}

// A folder with the shipped ImageTool and its libraries, and an image of `bytes` payload bytes.
struct Station {
    TempFolder folder{"station-bench-"};
    std::vector<uint8_t> payload;

    bool Make(size_t bytes) {
        for (const char *name : {"ImageTool.exe", "Communicator.dll", "Hivekey.dll", "Wirrow.dll"})
            if (!folder.CopyIn(ProgramFolder(), name)) return false;
        payload = PatternPayload(bytes, static_cast<uint32_t>(bytes));
        ToolRun run;
        return !folder.Write("payload.bin", payload).empty() &&
               run.Start(folder.File("ImageTool.exe"), "make --model KV-220 --version 3.1.4 payload.bin firmware.img",
                         folder.Path()) &&
               run.Finish(60000) == 0;
    }
};

double ProcessorSecondsOfThisProcess() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    const auto ticks = [](const FILETIME &time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// Where one update's time went: the whole run, and the processor time of ImageTool.exe and of the
// simulated boards (this process), which share the machine's cores.
struct UpdateTimes {
    double seconds = -1;
    double toolProcessor = 0;
    double boardsProcessor = 0;
};

// One ImageTool.exe update over `boards` fresh boards; seconds -1 when it failed.
UpdateTimes TimeUpdate(Station &station, int boards) {
    UpdateTimes times;
    std::vector<std::unique_ptr<SimulatedBoard>> present;
    for (int i = 0; i < boards; ++i) {
        present.push_back(StartBoard());
        if (!present.back()) return times;
    }
    ToolRun run;
    const double boardsBefore = ProcessorSecondsOfThisProcess();
    const Clock::time_point start = Clock::now();
    if (!run.Start(station.folder.File("ImageTool.exe"),
                   boards == 1 ? "update firmware.img --quiet" : "update firmware.img --all --parallel --quiet",
                   station.folder.Path()) ||
        run.Finish(kRunWaitMs) != 0)
        return times;
    const double seconds = SecondsSince(start);
    times.boardsProcessor = ProcessorSecondsOfThisProcess() - boardsBefore;
    times.toolProcessor = run.ProcessorSeconds();
    for (auto &board : present)
        if (board->FlashImage() != station.payload) return times;
    times.seconds = seconds;
    return times;
}

// The median of one figure over the rounds.
template <typename Figure>
double MedianOf(const std::vector<UpdateTimes> &rounds, Figure figure) {
    std::vector<double> values;
    for (const UpdateTimes &times : rounds) values.push_back(figure(times));
    return Median(values);
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 3;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::max(1, std::atoi(argv[i] + 9));
    std::printf("ImageTool on simulated boards, %d-bit build, medians of %d rounds\n\n",
                static_cast<int>(sizeof(void *) * 8), rounds);
    std::printf("%-8s %12s %14s %8s   %s\n", "image", "1 board (s)", "4 parallel (s)", "ratio",
                "processor seconds, 1 board / 4 parallel: ImageTool, boards");
    for (size_t size : {1 * kMiB, 8 * kMiB}) {
        Station station;
        if (!station.Make(size)) {
            std::printf("cannot make the %zu MiB image\n", size / kMiB);
            return 1;
        }
        std::vector<UpdateTimes> alone, together;
        bool failed = false;
        for (int round = 0; round < rounds; ++round) {
            alone.push_back(TimeUpdate(station, 1));
            together.push_back(TimeUpdate(station, 4));
            failed = failed || alone.back().seconds < 0 || together.back().seconds < 0;
        }
        const auto seconds = [](const UpdateTimes &t) { return t.seconds; };
        const auto tool = [](const UpdateTimes &t) { return t.toolProcessor; };
        const auto boardsTime = [](const UpdateTimes &t) { return t.boardsProcessor; };
        std::printf("%-8s %12.2f %14.2f %8.2f   %.2f, %.2f / %.2f, %.2f%s\n",
                    (std::to_string(size / kMiB) + " MiB").c_str(), MedianOf(alone, seconds),
                    MedianOf(together, seconds), MedianOf(together, seconds) / MedianOf(alone, seconds),
                    MedianOf(alone, tool), MedianOf(alone, boardsTime), MedianOf(together, tool),
                    MedianOf(together, boardsTime), failed ? "  (some rounds failed)" : "");
        std::fflush(stdout);
    }

    // What the station's search of the present boards costs, with one board present.
    {
        std::unique_ptr<SimulatedBoard> board = StartBoard();
        std::vector<double> searches;
        for (int i = 0; board && i < 20; ++i) {
            const Clock::time_point start = Clock::now();
            boardsim::ListPresentBoardInterfaces();
            searches.push_back(SecondsSince(start) * 1000);
        }
        std::printf("\na search of the present boards: median %.1f ms\n", Median(searches));
    }

    // One board after another into a running station: arrival to the host's open.
    Station station;
    if (!station.Make(64 * 1024)) return 1;
    UniqueHandle wake = MakeEvent(false, false);
    BoardNotices notices(wake.Get());
    const bool counting = wake && notices.Start();
    ToolRun watch;
    if (!watch.Start(station.folder.File("ImageTool.exe"),
                     "watch firmware.img --quiet --count " + std::to_string(kArrivals), station.folder.Path()))
        return 1;
    std::vector<double> latencies;
    for (int i = 0; i < kArrivals; ++i) {
        std::unique_ptr<SimulatedBoard> board = StartBoard();
        const Clock::time_point arrived = Clock::now();
        if (!board || !board->WaitClientConnected(10000)) break;
        latencies.push_back(SecondsSince(arrived) * 1000);
        if (!board->WaitFlashWrites(1, 60000) || !board->WaitListening(10000)) break;
    }
    const int exitCode = watch.Finish(60000);
    std::printf("watch: arrival to update start over %zu of %d arrivals: median %.0f ms, worst %.0f ms "
                "(station exit code %d)\n",
                latencies.size(), kArrivals, Median(latencies),
                latencies.empty() ? -1.0 : *std::max_element(latencies.begin(), latencies.end()), exitCode);
    std::printf("arrival reports of the board interface to a registered window: %s\n",
                counting ? std::to_string(notices.Arrivals()).c_str() : "no window could register");
    return 0;
}
