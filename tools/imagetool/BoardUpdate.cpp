#include "BoardUpdate.h"
#include "CommApi.h"
#include "ConsoleUpdateView.h"
#include "ImageFile.h"
#include "ImageHeader.h"
#include "ImageToolExit.h"
#include "SystemMessage.h"
#include "UpdateSession.h"
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The console's control handler runs on a thread of its own, at any time until the process is
// gone: also while the program's static objects are destroyed after main. It reaches the running
// session through this one interrupt, which is therefore never destroyed.
SessionInterrupt &TheInterrupt() {
    static SessionInterrupt *const interrupt = new SessionInterrupt;
    return *interrupt;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    TheInterrupt().Interrupt();
    return TRUE;  // the session ends itself, the board disconnected and closed
}

// Ctrl+C and Ctrl+Break end the update instead of the process while this lives.
class ConsoleControlHandler {
public:
    ConsoleControlHandler() {
        TheInterrupt();  // made before the handler can ask for it
        // A program started in a new process group begins with Ctrl+C ignored.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        installed_ = ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != FALSE;
    }
    ~ConsoleControlHandler() {
        if (installed_) ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    }
    ConsoleControlHandler(const ConsoleControlHandler &) = delete;
    ConsoleControlHandler &operator=(const ConsoleControlHandler &) = delete;

private:
    bool installed_ = false;
};

int Fail(int exitCode, const std::string &reason) {
    std::fprintf(stderr, "ImageTool: %s\n", reason.c_str());
    std::fflush(stderr);
    return exitCode;
}

struct Board {
    unsigned number = 0;  // as `list` shows it
    std::string path;
};

std::string Describe(const Board &board) { return "board " + std::to_string(board.number) + " (" + board.path + ")"; }

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

// Flashwell's checks with the version Flashwell compares against: this program
// carries Flashwell's version resource.
int CheckImage(const ImageToolCommand &command, bool quiet) {
    const ImageCheckResult check = CheckImageFile(command.imagePath, ReadProgramVersion());
    switch (check.outcome) {
    case ImageCheckOutcome::Accepted: break;
    case ImageCheckOutcome::FileError:
        return Fail(kExitBadInput, "cannot read '" + command.imagePath + "': " + SystemMessage(check.systemError));
    default: return Fail(kExitNotAccepted, command.imagePath + ": " + ImageCheckMessage(check.outcome));
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (::GetFileAttributesExA(command.imagePath.c_str(), GetFileExInfoStandard, &attributes) &&
        attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow == kImageHeaderSize)
        return Fail(kExitNotAccepted, command.imagePath + ": the image's payload is empty; there is nothing to write");
    if (!quiet) {
        std::fprintf(stderr, "Image %s: model \"%s\", version \"%s\"\n", command.imagePath.c_str(), check.model.c_str(),
                     check.versionText.c_str());
        std::fflush(stderr);
    }
    return kExitDone;
}

int UpdateOne(const ImageToolCommand &command, const Board &board, ProgressStyle style) {
    if (style != ProgressStyle::Quiet) {
        std::fprintf(stderr, "Updating %s\n", Describe(board).c_str());
        std::fflush(stderr);
    }
    ConsoleUpdateView view(command.imagePath, style);
    // The session takes the first board its finder lists: here, the chosen one.
    const TargetFinder chosen = [&board](std::vector<std::string> &paths) {
        paths.push_back(board.path);
        return size_t{1};
    };
    const UpdateResult result = RunUpdateSession(view, LinkedCommunicator(), chosen, &TheInterrupt(), command.replyTimeouts);
    if (result.outcome == UpdateOutcome::Succeeded) {
        if (!command.quiet) {
            std::printf("%s: %s\n", Describe(board).c_str(), result.message.c_str());
            std::fflush(stdout);
        }
        return kExitDone;
    }
    std::string message = result.message;
    if (result.outcome == UpdateOutcome::CannotOpen || result.outcome == UpdateOutcome::CannotConnect)
        message += " Error code is " + std::to_string(result.code) + ".";
    return Fail(ExitCodeForOutcome(result.outcome), Describe(board) + ": " + message);
}

}  // namespace

int ListBoards() {
    std::vector<std::string> present;
    FindTargets(present);
    if (present.empty()) return Fail(kExitNoBoard, "No target found.");
    for (size_t i = 0; i < present.size(); ++i) std::printf("%u  %s\n", static_cast<unsigned>(i + 1), present[i].c_str());
    std::fflush(stdout);
    return kExitDone;
}

int UpdateBoards(const ImageToolCommand &command) {
    const int checked = CheckImage(command, command.quiet);
    if (checked != kExitDone) return checked;
    std::vector<Board> boards;
    const int chosen = ChooseBoards(command, boards);
    if (chosen != kExitDone) return chosen;

    const ProgressStyle style = ChooseProgressStyle(command.quiet);
    ConsoleControlHandler controlHandler;
    int exitCode = kExitDone;
    for (const Board &board : boards) {
        const int result = UpdateOne(command, board, style);
        if (exitCode == kExitDone) exitCode = result;
        // The remaining boards are not touched once the user has asked to stop.
        if (result == kExitInterrupted || TheInterrupt().Interrupted()) return kExitInterrupted;
    }
    return exitCode;
}
