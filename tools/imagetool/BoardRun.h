// What `ImageTool update` and `ImageTool watch` share: the image check, Ctrl+C reaching every
// running session, one board's session turned into its BoardResult, and the reports of
// finished boards (closing lines, --json records, the --log file).
#pragma once
#include "BoardRecord.h"
#include "CriticalSection.h"
#include "ImageToolCommand.h"
#include "UniqueHandle.h"
#include "UpdateSession.h"
#include <atomic>
#include <string>
#include <vector>

struct Board {
    unsigned number = 0;
    std::string path;
};

// "board 2 (\\?\usb#...)".
std::string Describe(const Board &board);

// Prints "ImageTool: reason" on stderr and returns `exitCode`.
int Fail(int exitCode, const std::string &reason);

// Flashwell's checks with the version Flashwell compares against: this program carries
// Flashwell's version resource. kExitDone, or the exit code after a message.
int CheckImage(const ImageToolCommand &command, bool quiet);

// The interrupts of every running session. The console's control handler runs on a thread of
// its own, at any time until the process is gone (also while static objects are destroyed after
// main): it reaches the sessions through this one object, which is therefore never destroyed.
class SessionInterrupts {
public:
    SessionInterrupts();
    void Add(SessionInterrupt &interrupt);  // interrupted at once after a Ctrl+C
    void Remove(SessionInterrupt &interrupt);
    void InterruptAll();
    bool Interrupted() const { return interrupted_.load(); }
    // Set by the first Ctrl+C; for loops that wait for more than sessions.
    HANDLE InterruptedEvent() const { return interruptedEvent_.Get(); }

private:
    std::atomic<bool> interrupted_{false};
    UniqueHandle interruptedEvent_;
    CriticalSection guard_;  // over sessions_
    std::vector<SessionInterrupt *> sessions_;
};
SessionInterrupts &TheInterrupts();

// One session's interrupt, reached by Ctrl+C while this lives.
class EnrolledInterrupt {
public:
    EnrolledInterrupt() { TheInterrupts().Add(interrupt_); }
    ~EnrolledInterrupt() { TheInterrupts().Remove(interrupt_); }
    EnrolledInterrupt(const EnrolledInterrupt &) = delete;
    EnrolledInterrupt &operator=(const EnrolledInterrupt &) = delete;
    SessionInterrupt &Get() { return interrupt_; }

private:
    SessionInterrupt interrupt_;
};

// Ctrl+C and Ctrl+Break end the running sessions instead of the process while this lives.
class ConsoleControlHandler {
public:
    ConsoleControlHandler();
    ~ConsoleControlHandler();
    ConsoleControlHandler(const ConsoleControlHandler &) = delete;
    ConsoleControlHandler &operator=(const ConsoleControlHandler &) = delete;

private:
    bool installed_ = false;
};

// Runs Flashwell's session on `board` alone, through Communicator.dll on a handle of its own.
BoardResult RunBoard(const ImageToolCommand &command, const Board &board, UpdateView &view,
                     SessionInterrupt &interrupt);

// Where finished boards are told, one board at a time from any thread: the closing line
// (success on stdout unless quiet, failure on stderr) or with --json the record on stdout;
// with --log the record appended to the file and written through before the next board.
class BoardReports {
public:
    explicit BoardReports(const ImageToolCommand &command) : command_(command) {}
    // Opens the log file; kExitDone, or kExitBadInput after a message.
    int Open();
    // Tell and Log.
    void Report(const BoardResult &result);
    // The closing line or the --json record.
    void Tell(const BoardResult &result);
    // The --log record.
    void Log(const BoardResult &result);

private:
    const ImageToolCommand &command_;
    CriticalSection guard_;  // one board's lines together
    UniqueHandle log_;
    bool logFailed_ = false;  // told once
};
