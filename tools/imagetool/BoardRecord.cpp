#include "BoardRecord.h"
#include "ImageToolExit.h"
#include <nlohmann/json.hpp>
#include <cstdio>

namespace {

enum class CodeKind { None, Board, Link };

CodeKind KindOfCode(const BoardResult &result) {
    switch (result.outcome) {
    case UpdateOutcome::BoardRefused: return CodeKind::Board;
    case UpdateOutcome::CannotOpen:
    case UpdateOutcome::CannotConnect:
    case UpdateOutcome::BoardSilent: return CodeKind::Link;
    // An incomplete or stray reply fails the link without a code.
    case UpdateOutcome::LinkFailed: return result.code != 0 ? CodeKind::Link : CodeKind::None;
    default: return CodeKind::None;
    }
}

// Device paths are the system's ANSI text, not always UTF-8: a byte that is not becomes
// U+FFFD instead of failing the record.
std::string Dump(const nlohmann::json &value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

double KibPerSecond(const BoardResult &result) {
    return result.seconds > 0 ? static_cast<double>(result.bytes) / 1024.0 / result.seconds : 0.0;
}

}  // namespace

const char *ResultWord(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateOutcome::Succeeded: return "done";
    case UpdateOutcome::NothingToSend: return "empty-image";
    case UpdateOutcome::NoTarget: return "no-board";
    case UpdateOutcome::CannotOpen: return "cannot-open";
    case UpdateOutcome::CannotConnect: return "cannot-connect";
    case UpdateOutcome::LinkFailed: return "link-failed";
    case UpdateOutcome::ImageUnreadable: return "image-unreadable";
    case UpdateOutcome::OutOfMemory: return "out-of-memory";
    case UpdateOutcome::BoardRefused: return "refused";
    case UpdateOutcome::BoardSilent: return "silent";
    case UpdateOutcome::Interrupted: return "interrupted";
    }
    return "link-failed";
}

std::string FormatJsonRecord(const BoardResult &result) {
    // Keys in the order a person reading the log expects them.
    nlohmann::ordered_json record;
    record["number"] = result.number;
    record["path"] = result.path;
    record["result"] = ResultWord(result.outcome);
    record["exit_code"] = ExitCodeForOutcome(result.outcome);
    switch (KindOfCode(result)) {
    case CodeKind::Board: record["board_code"] = result.code; break;
    case CodeKind::Link: record["link_code"] = result.code; break;
    case CodeKind::None: break;
    }
    record["bytes"] = result.bytes;
    // Milliseconds are as fine as the clock a station compares against.
    record["seconds"] = static_cast<double>(static_cast<int64_t>(result.seconds * 1000.0 + 0.5)) / 1000.0;
    record["start"] = result.start;
    return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FormatJsonBoardList(const std::vector<std::string> &paths) {
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < paths.size(); ++i) list.push_back({{"number", i + 1}, {"path", paths[i]}});
    return Dump(list);
}

std::string FormatSummaryLine(const BoardResult &result) {
    std::string word = ResultWord(result.outcome);
    switch (KindOfCode(result)) {
    case CodeKind::Board: word += " (board code " + std::to_string(result.code) + ")"; break;
    case CodeKind::Link: word += " (link code " + std::to_string(result.code) + ")"; break;
    case CodeKind::None: break;
    }
    char figures[64];
    std::snprintf(figures, sizeof(figures), "%.1f s  %.0f KiB/s", result.seconds, KibPerSecond(result));
    return std::to_string(result.number) + "  " + result.path + "  " + word + "  " + figures;
}

std::string FormatStationSummary(const std::vector<BoardResult> &results) {
    unsigned done = 0;
    std::string failures;
    for (const BoardResult &result : results) {
        if (result.outcome == UpdateOutcome::Succeeded) {
            ++done;
            continue;
        }
        failures += failures.empty() ? " (" : ", ";
        failures += "board " + std::to_string(result.number) + ": code " +
                    std::to_string(ExitCodeForOutcome(result.outcome));
    }
    const size_t failed = results.size() - done;
    return "Boards done: " + std::to_string(done) + ", failed: " + std::to_string(failed) +
           (failures.empty() ? "" : failures + ")") + ".";
}

int FirstFailureExitCode(const std::vector<BoardResult> &results) {
    for (const BoardResult &result : results)
        if (result.outcome != UpdateOutcome::Succeeded) return ExitCodeForOutcome(result.outcome);
    return kExitDone;
}

std::string FormatUtcTime(const SYSTEMTIME &utc) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", utc.wYear, utc.wMonth, utc.wDay,
                  utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}
