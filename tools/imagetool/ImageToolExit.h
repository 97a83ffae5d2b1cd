// ImageTool's exit codes, the ones scripts act on (listed in ImageToolUsage).
#pragma once
#include "UpdateSession.h"

constexpr int kExitDone = 0;
constexpr int kExitNotAccepted = 1;    // the image fails Flashwell's checks
constexpr int kExitBadInput = 2;       // bad usage, or a file that cannot be read or written
constexpr int kExitNoBoard = 3;        // no board present, or not the chosen one
constexpr int kExitLinkFailed = 4;     // opening, connecting or talking to the board failed
constexpr int kExitBoardRefused = 5;   // the board answered with an error code
constexpr int kExitInterrupted = 6;    // Ctrl+C: the update did not finish

constexpr int ExitCodeForOutcome(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateOutcome::Succeeded: return kExitDone;
    case UpdateOutcome::NothingToSend: return kExitNotAccepted;
    case UpdateOutcome::NoTarget: return kExitNoBoard;
    case UpdateOutcome::CannotOpen:
    case UpdateOutcome::CannotConnect:
    case UpdateOutcome::LinkFailed:
    case UpdateOutcome::BoardSilent:
    case UpdateOutcome::OutOfMemory: return kExitLinkFailed;
    case UpdateOutcome::ImageUnreadable: return kExitBadInput;
    case UpdateOutcome::BoardRefused: return kExitBoardRefused;
    case UpdateOutcome::Interrupted: return kExitInterrupted;
    }
    return kExitLinkFailed;
}
