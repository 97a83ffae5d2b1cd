#include "BoardRun.h"
#include "CommApi.h"
#include "CommFunctions.h"
#include "ImageFile.h"
#include "ImageHeader.h"
#include "ImageToolExit.h"
#include "SystemMessage.h"
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    TheInterrupts().InterruptAll();
    return TRUE;  // the sessions end themselves, their boards disconnected and closed
}

// The view a session reports to, with the payload bytes its board acknowledged kept for the record.
class AcknowledgementCount : public UpdateView {
public:
    explicit AcknowledgementCount(UpdateView &view) : view_(view) {}
    std::string ImagePath() override { return view_.ImagePath(); }
    void EnableButtons(bool enabled) override { view_.EnableButtons(enabled); }
    void ShowStatus(const std::string &text) override { view_.ShowStatus(text); }
    void ShowClosingStatus(const std::string &text) override { view_.ShowClosingStatus(text); }
    void SetProgress(unsigned position) override { view_.SetProgress(position); }
    void ShowBytesAcknowledged(uint32_t acknowledged, uint32_t total) override {
        bytes_ = acknowledged;
        view_.ShowBytesAcknowledged(acknowledged, total);
    }
    void ShowMessage(const std::string &text) override { view_.ShowMessage(text); }
    uint64_t Bytes() const { return bytes_; }

private:
    UpdateView &view_;
    uint64_t bytes_ = 0;
};

std::string ClosingText(const BoardResult &result) {
    std::string message = result.message;
    if (result.outcome == UpdateOutcome::CannotOpen || result.outcome == UpdateOutcome::CannotConnect)
        message += " Error code is " + std::to_string(result.code) + ".";
    return message;
}

}  // namespace

std::string Describe(const Board &board) { return "board " + std::to_string(board.number) + " (" + board.path + ")"; }

int Fail(int exitCode, const std::string &reason) {
    std::fprintf(stderr, "ImageTool: %s\n", reason.c_str());
    std::fflush(stderr);
    return exitCode;
}

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

SessionInterrupts::SessionInterrupts() : interruptedEvent_(MakeEvent(true, false)) {}

void SessionInterrupts::Add(SessionInterrupt &interrupt) {
    SectionHold hold(guard_);
    sessions_.push_back(&interrupt);
    if (Interrupted()) interrupt.Interrupt();
}

void SessionInterrupts::Remove(SessionInterrupt &interrupt) {
    SectionHold hold(guard_);
    sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &interrupt), sessions_.end());
}

void SessionInterrupts::InterruptAll() {
    interrupted_.store(true);
    {
        SectionHold hold(guard_);
        for (SessionInterrupt *session : sessions_) session->Interrupt();
    }
    ::SetEvent(interruptedEvent_.Get());
}

SessionInterrupts &TheInterrupts() {
    static SessionInterrupts *const interrupts = new SessionInterrupts;
    return *interrupts;
}

ConsoleControlHandler::ConsoleControlHandler() {
    TheInterrupts();  // made before the handler can ask for it
    // A program started in a new process group begins with Ctrl+C ignored.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    installed_ = ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != FALSE;
}

ConsoleControlHandler::~ConsoleControlHandler() {
    if (installed_) ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

BoardResult RunBoard(const ImageToolCommand &command, const Board &board, UpdateView &view,
                     SessionInterrupt &interrupt) {
    BoardResult result;
    result.number = board.number;
    result.path = board.path;
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    result.start = FormatUtcTime(now);
    const auto started = std::chrono::steady_clock::now();
    AcknowledgementCount counted(view);
    // The session takes the first board its finder lists: here, the chosen one.
    const TargetFinder chosen = [&board](std::vector<std::string> &paths) {
        paths.push_back(board.path);
        return size_t{1};
    };
    const UpdateResult session = RunUpdateSession(counted, LinkedCommunicator(), chosen, &interrupt, command.replyTimeouts);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.outcome = session.outcome;
    result.code = session.code;
    result.message = session.message;
    result.bytes = counted.Bytes();
    return result;
}

int BoardReports::Open() {
    if (command_.logPath.empty()) return kExitDone;
    // Appended to, never truncated: a station's log outlives its runs.
    log_.Reset(::CreateFileA(command_.logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log_) return Fail(kExitBadInput, "cannot open the log '" + command_.logPath + "': " + SystemMessage(::GetLastError()));
    return kExitDone;
}

void BoardReports::Report(const BoardResult &result) {
    // Held across both (the section may be entered again): stdout and the log list boards in one order.
    SectionHold hold(guard_);
    Tell(result);
    Log(result);
}

void BoardReports::Tell(const BoardResult &result) {
    const Board board{result.number, result.path};
    const bool succeeded = result.outcome == UpdateOutcome::Succeeded;
    SectionHold hold(guard_);
    if (!succeeded) Fail(ExitCodeForOutcome(result.outcome), Describe(board) + ": " + ClosingText(result));
    if (command_.json) {
        std::printf("%s\n", FormatJsonRecord(result).c_str());
        std::fflush(stdout);
    } else if (succeeded && !command_.quiet) {
        std::printf("%s: %s\n", Describe(board).c_str(), result.message.c_str());
        std::fflush(stdout);
    }
}

void BoardReports::Log(const BoardResult &result) {
    const std::string record = FormatJsonRecord(result) + "\n";
    SectionHold hold(guard_);
    if (!log_ || logFailed_) return;
    // Written through before the next board: a station that loses power keeps every finished board.
    DWORD written = 0;
    if (!::WriteFile(log_.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr) ||
        written != record.size() || !::FlushFileBuffers(log_.Get())) {
        logFailed_ = true;
        Fail(kExitBadInput, "cannot write the log '" + command_.logPath + "': " + SystemMessage(::GetLastError()));
    }
}
