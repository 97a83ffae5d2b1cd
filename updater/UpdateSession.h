// One firmware update: find the board, connect, send the image payload packet by
// packet with the board's reply to each, and report through an UpdateView.
// The session reaches the Comm API through a table, so that it drives any
// implementation (Communicator's exports in Flashwell, scripted boards in tests).
#pragma once
#include "CommApi.h"
#include "CommFunctions.h"
#include "Mutex.h"
#include "UniqueHandle.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the session needs of the main dialog. Calls come from the worker thread.
class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual std::string ImagePath() = 0;
    // Select Image and Update together.
    virtual void EnableButtons(bool enabled) = 0;
    virtual void ShowStatus(const std::string &text) = 0;
    // The last status, which the closing message repeats; a status line by default.
    virtual void ShowClosingStatus(const std::string &text) { ShowStatus(text); }
    virtual void SetProgress(unsigned position) = 0;
    // After each acknowledged packet: payload bytes the board has taken so far, of `total`.
    virtual void ShowBytesAcknowledged(uint32_t /*acknowledged*/, uint32_t /*total*/) {}
    // Message box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string &text) = 0;
};

// Appends the device-interface path of every present board to `paths`, in
// enumeration order; returns how many it appended.
using TargetFinder = std::function<size_t(std::vector<std::string> &paths)>;
size_t FindTargets(std::vector<std::string> &paths);

// How a session ended, for callers that act on more than the closing message.
enum class UpdateOutcome {
    Succeeded,
    NothingToSend,    // the payload is empty; the board was connected but got nothing
    NoTarget,
    CannotOpen,       // code: CommOpen's result
    CannotConnect,    // code: CommConnect's result
    LinkFailed,       // a send or receive failed (code: its result), an incomplete reply,
                      // or an unusable packet size
    ImageUnreadable,  // the image file vanished, could not be read or is too large
    OutOfMemory,
    BoardRefused,     // code: the status of the board's reply
    BoardSilent,      // no reply within its deadline (code: ERROR_TIMEOUT); the connection was cut
    Interrupted,      // SessionInterrupt ended it
};

// How long the board may take to answer one packet, from the send until its reply has
// arrived, before the session cuts the connection and gives up on it.
struct ReplyTimeouts {
    // A chunk: longer than the transport's own give-up on an unacknowledged packet (six
    // attempts of 3 s with the usual link parameters), which comes first where it applies.
    DWORD chunkMs = 30000;
    // The last chunk: the board checks the image and writes its flash before it answers.
    DWORD lastChunkMs = 90000;
};

struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::NoTarget;
    uint32_t code = 0;
    std::string message;  // the closing message, as the view showed it
};

// Lets another thread end a running session early (Ctrl+C in a console program,
// the dialog's Exit). Interrupting disconnects the session's open connection,
// which makes a connect, send or receive that waits for the board return at once;
// the session then closes the connection and ends with UpdateOutcome::Interrupted.
class SessionInterrupt {
public:
    SessionInterrupt();
    SessionInterrupt(const SessionInterrupt &) = delete;
    SessionInterrupt &operator=(const SessionInterrupt &) = delete;

    // Any thread, any number of times.
    void Interrupt();
    bool Interrupted() const { return interrupted_.load(); }
    // Any thread: disconnects the attached connection without marking an interrupt (the
    // session's own reply deadline).
    void CutConnection();

    // Session thread: the connection that Interrupt disconnects, from CommOpen on.
    void Attach(const CommFunctions &comm, HCOMM handle);
    // Session thread: disconnects and closes the attached connection, under the lock that
    // Interrupt takes, so that an interrupt never reaches a closed handle.
    void CloseConnection();
    // Set while no connection is attached: a program that ends waits on it (bounded) for the
    // board to be let go of.
    HANDLE ConnectionClosedEvent() const { return closed_.Get(); }

private:
    std::atomic<bool> interrupted_{false};
    Mutex lock_;  // over comm_ and handle_
    UniqueHandle closed_;
    const CommFunctions *comm_ = nullptr;
    HCOMM handle_ = nullptr;
};

// Runs one session. `interrupt`, when given, may end it early from another thread.
UpdateResult RunUpdateSession(UpdateView &view, const CommFunctions &comm, const TargetFinder &findTargets = FindTargets,
                              SessionInterrupt *interrupt = nullptr, const ReplyTimeouts &timeouts = ReplyTimeouts{});
