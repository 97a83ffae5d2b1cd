// What ImageTool reports of each board it updated: the closing line a person reads, the
// summary line, and the one-line JSON record that scripts and line-control systems read
// (on stdout with --json, appended to the --log file).
#pragma once
#include "UpdateSession.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

struct BoardResult {
    unsigned number = 0;  // update: as `list` numbers the board; watch: in the order boards arrived
    std::string path;
    UpdateOutcome outcome = UpdateOutcome::NoTarget;
    uint32_t code = 0;     // the session's code for the outcome (UpdateResult::code)
    std::string message;   // the session's closing message
    uint64_t bytes = 0;    // payload bytes the board acknowledged
    double seconds = 0;    // from the session's start to its end
    std::string start;     // when the session started, UTC ("2026-12-10T05:01:02.345Z")
};

// The result as one word: done, refused, link-failed, silent, cannot-open, cannot-connect,
// interrupted, no-board, image-unreadable, empty-image, out-of-memory.
const char *ResultWord(UpdateOutcome outcome);

// The JSON record of one board, on one line without its line end:
// {"number":1,"path":...,"result":"refused","exit_code":5,"board_code":513,"bytes":...,
//  "seconds":0.412,"start":"..."}. "board_code" is the status a refusing board answered,
// "link_code" the Comm API result or Win32 error of a failed link; neither where there is none.
std::string FormatJsonRecord(const BoardResult &result);

// `list --json`: [{"number":1,"path":"..."},...] on one line.
std::string FormatJsonBoardList(const std::vector<std::string> &paths);

// "1  \\?\usb#...  done  3.2 s  310 KiB/s"; a failure's word carries its code:
// "refused (board code 513)".
std::string FormatSummaryLine(const BoardResult &result);

// watch's closing line: "Boards done: 4, failed: 1 (board 3: code 5)."
std::string FormatStationSummary(const std::vector<BoardResult> &results);

// The exit code of the first failed result in `results`' order; 0 when every one succeeded.
int FirstFailureExitCode(const std::vector<BoardResult> &results);

// "2026-12-10T05:01:02.345Z" for a UTC time.
std::string FormatUtcTime(const SYSTEMTIME &utc);
