#include "BoardUpdate.h"
#include "BoardLines.h"
#include "BoardRecord.h"
#include "BoardRun.h"
#include "ConsoleUpdateView.h"
#include "ImageToolExit.h"
#include "Thread.h"
#include "UpdateSession.h"
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The boards `command` names, or an exit code and a message when it names none.
int ChooseBoards(const ImageToolCommand &command, std::vector<Board> &chosen) {
    std::vector<std::string> present;
    FindTargets(present);
    if (present.empty()) return Fail(kExitNoBoard, "No target found.");
    switch (command.board) {
    case BoardChoice::First: chosen.push_back({1, present[0]}); break;
    case BoardChoice::ByNumber:
        if (command.boardNumber > present.size())
            return Fail(kExitNoBoard, "board " + std::to_string(command.boardNumber) + " is not present (" +
                                          std::to_string(present.size()) + " found)");
        chosen.push_back({command.boardNumber, present[command.boardNumber - 1]});
        break;
    case BoardChoice::ByPath:
        for (size_t i = 0; i < present.size(); ++i)
            if (::lstrcmpiA(present[i].c_str(), command.boardPath.c_str()) == 0)
                chosen.push_back({static_cast<unsigned>(i + 1), present[i]});
        if (chosen.empty()) return Fail(kExitNoBoard, "no board present at " + command.boardPath);
        break;
    case BoardChoice::All:
        for (size_t i = 0; i < present.size(); ++i) chosen.push_back({static_cast<unsigned>(i + 1), present[i]});
        break;
    }
    return kExitDone;
}

// One board after another, as Flashwell would update each.
int UpdateOneByOne(const ImageToolCommand &command, const std::vector<Board> &boards, BoardReports &reports) {
    const ProgressStyle style = ChooseProgressStyle(command.quiet);
    int exitCode = kExitDone;
    for (const Board &board : boards) {
        if (style != ProgressStyle::Quiet) {
            std::fprintf(stderr, "Updating %s\n", Describe(board).c_str());
            std::fflush(stderr);
        }
        EnrolledInterrupt interrupt;
        BoardResult result;
        {
            ConsoleUpdateView view(command.imagePath, style);
            result = RunBoard(command, board, view, interrupt.Get());
        }
        reports.Report(result);
        if (exitCode == kExitDone) exitCode = ExitCodeForOutcome(result.outcome);
        // The remaining boards are not touched once the user has asked to stop.
        if (result.outcome == UpdateOutcome::Interrupted || TheInterrupts().Interrupted()) return kExitInterrupted;
    }
    return exitCode;
}

// Up to command.jobs sessions at the same time, each on a thread and a Communicator handle of
// its own; a summary line per board at the end.
int UpdateTogether(const ImageToolCommand &command, const std::vector<Board> &boards, BoardReports &reports) {
    const ProgressStyle style = ChooseProgressStyle(command.quiet);
    std::vector<BoardResult> results(boards.size());
    {
        std::vector<unsigned> numbers;
        for (const Board &board : boards) numbers.push_back(board.number);
        BoardLines lines(style, numbers);
        std::atomic<size_t> next{0};
        // A worker takes the next board not yet taken until none is left.
        const auto work = [&] {
            for (size_t i = next++; i < boards.size(); i = next++) {
                EnrolledInterrupt interrupt;
                BoardLineView view(lines, i, boards[i].number, command.imagePath);
                results[i] = RunBoard(command, boards[i], view, interrupt.Get());
                // On a console the block of lines is still being redrawn; the closing lines follow it.
                if (style == ProgressStyle::Bar)
                    reports.Log(results[i]);
                else
                    reports.Report(results[i]);
            }
        };
        const size_t workers = std::min<size_t>(command.jobs, boards.size());
        std::vector<Thread> threads(workers > 0 ? workers - 1 : 0);
        for (Thread &thread : threads)
            if (!thread.Start(work)) break;  // fewer workers: the others take more boards
        work();
        // Every session ends: a silent board is given up after its reply deadline.
        for (Thread &thread : threads) thread.Join();
    }
    if (style == ProgressStyle::Bar)
        for (const BoardResult &result : results) reports.Tell(result);
    if (!command.quiet) {
        std::FILE *summary = command.json ? stderr : stdout;
        std::fprintf(summary, "Summary:\n");
        for (const BoardResult &result : results) std::fprintf(summary, "  %s\n", FormatSummaryLine(result).c_str());
        std::fflush(summary);
    }
    if (TheInterrupts().Interrupted()) return kExitInterrupted;
    return FirstFailureExitCode(results);
}

}  // namespace

int ListBoards(const ImageToolCommand &command) {
    std::vector<std::string> present;
    FindTargets(present);
    if (command.json) {
        // An empty array is an answer too; the exit code still says no board was found.
        std::printf("%s\n", FormatJsonBoardList(present).c_str());
        std::fflush(stdout);
        return present.empty() ? kExitNoBoard : kExitDone;
    }
    if (present.empty()) return Fail(kExitNoBoard, "No target found.");
    for (size_t i = 0; i < present.size(); ++i) std::printf("%u  %s\n", static_cast<unsigned>(i + 1), present[i].c_str());
    std::fflush(stdout);
    return kExitDone;
}

int UpdateBoards(const ImageToolCommand &command) {
    const int checked = CheckImage(command, command.quiet);
    if (checked != kExitDone) return checked;
    BoardReports reports(command);
    const int opened = reports.Open();
    if (opened != kExitDone) return opened;
    std::vector<Board> boards;
    const int chosen = ChooseBoards(command, boards);
    if (chosen != kExitDone) return chosen;

    ConsoleControlHandler controlHandler;
    if (command.jobs > 1 && boards.size() > 1) return UpdateTogether(command, boards, reports);
    return UpdateOneByOne(command, boards, reports);
}
