// One simulated board behind a USB device-interface path: a one-instance named
// pipe reached through the interface's symbolic link, a device-setup listing,
// and two worker threads that speak the board's side of the link protocol and,
// on the update channel, of the firmware-update protocol. Misbehaviour comes
// from a FaultPlan. For tests and demos only.
#pragma once
#include "BoardConfig.h"
#include "BoardInterface.h"
#include "FaultPlan.h"
#include "LinkCodec.h"
#include "Mutex.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include "UpdateReceiver.h"
#include <windows.h>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace boardsim {

struct HostMessage {
    std::uint8_t channel = 0;
    std::uint8_t subchannel = 0;
    std::vector<std::uint8_t> data;
};

enum class BoardEventKind : std::uint8_t {
    ClientConnected,   // the host opened the path
    ConnectReplied,    // 'c' written
    HostPacket,        // a host data packet; letter: the answer given ('a', 'n', 'e') or 0 for none
    HostMessage,       // a complete host message taken (not an update packet)
    UpdateReply,       // value: the reply's status
    FlashWritten,      // length: image size
    BoardPacket,       // a board data packet written; value: the send number (1 = first)
    HostAnswer,        // 'a' or 'n' from the host for the packet in flight
    BoardMessageDone,  // value: result (0, kSendGaveUp, kSendConnectionLost)
    RepeatRequest,     // 'e' written
    Fault,             // letter: FaultPoint, value: FaultAction
    SessionEnded,      // the connection was dropped or the host closed the path
    Unplugged,
    Replugged,
};

struct BoardEvent {
    BoardEventKind kind = BoardEventKind::ClientConnected;
    std::uint8_t letter = 0;
    std::uint8_t channel = 0;
    std::uint8_t subchannel = 0;
    std::uint32_t sequence = 0;
    std::uint32_t length = 0;
    std::uint32_t value = 0;
    // QueryPerformanceCounter when the board recorded the event; for timings, not compared.
    std::int64_t time = 0;

    bool operator==(const BoardEvent &o) const {
        return kind == o.kind && letter == o.letter && channel == o.channel && subchannel == o.subchannel &&
               sequence == o.sequence && length == o.length && value == o.value;
    }
};

std::string DescribeEvent(const BoardEvent &event);

// Results of a board message (WaitMessageSent).
constexpr DWORD kSendPending = WAIT_TIMEOUT;                    // not finished yet
constexpr DWORD kSendGaveUp = ERROR_TIMEOUT;                    // no 'a' within the sends
constexpr DWORD kSendConnectionLost = ERROR_PIPE_NOT_CONNECTED;  // the host has gone
constexpr DWORD kSendStopped = ERROR_OPERATION_ABORTED;          // the board stopped

class SimulatedBoard {
public:
    explicit SimulatedBoard(BoardConfig config);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard &) = delete;
    SimulatedBoard &operator=(const SimulatedBoard &) = delete;

    // Creates the pipe, the path and the listing, then starts the workers.
    // 0 or a Win32 error code; after a failure nothing is left behind.
    DWORD Start();
    // Ends the workers and removes pipe, path and listing. Called by the destructor.
    void Stop();

    const BoardConfig &Config() const { return config_; }
    std::string InterfacePath() const { return BoardInterfacePath(config_.instance); }

    // --- the host's side of things, as the board saw it ---
    bool WaitClientConnected(DWORD timeoutMs);
    // True once no host holds the board and a new open of the path will succeed.
    // A host that closes the path and opens it again at once can meet ERROR_PIPE_BUSY
    // in the moment before the board takes the next open; wait for this first.
    bool WaitListening(DWORD timeoutMs);
    bool WaitLinkUp(DWORD timeoutMs);  // a connect reply has gone out in the current session
    // Next complete host message (update packets are not listed here in update mode).
    bool WaitHostMessage(HostMessage *message, DWORD timeoutMs);

    // --- the board's own messages ---
    // Queues a message; it goes out once a host has connected. Returns its ticket.
    std::uint32_t QueueMessage(std::uint8_t channel, std::uint8_t subchannel, std::vector<std::uint8_t> data);
    // 0 when every packet was acknowledged, kSendGaveUp, kSendConnectionLost,
    // kSendStopped, or kSendPending when not finished within timeoutMs.
    DWORD WaitMessageSent(std::uint32_t ticket, DWORD timeoutMs);
    // Writes an 'e' header: asks the host for its last answer again.
    DWORD SendRepeatRequest();

    // --- update protocol ---
    std::vector<std::uint8_t> FlashImage() const;
    std::uint32_t FlashWrites() const;
    // Waits until the flash has been written `count` times in all.
    bool WaitFlashWrites(std::uint32_t count, DWORD timeoutMs);
    // Waits until `count` update replies in all have gone out.
    bool WaitUpdateReplies(std::uint32_t count, DWORD timeoutMs);

    // --- misbehaviour on demand ---
    void StallReading(DWORD durationMs);  // stops reading the host's data for a while
    void ResumeReading();
    // Drops the connection as a board that resets its USB side: the host's pending
    // and later transfers fail with ERROR_PIPE_NOT_CONNECTED; the board then waits
    // for a new open (already waiting when this returns 0).
    DWORD Disconnect(DWORD timeoutMs = 5000);
    // Pulls the board as a real removal goes: the path stops opening, the interface
    // is listed as absent and the connection is dropped (the host's transfers fail
    // with ERROR_PIPE_NOT_CONNECTED); then the removal is reported as complete
    // (WM_DEVICECHANGE with DBT_DEVICEREMOVECOMPLETE and the path) to every
    // top-level window of the desktop, and the unplug handler runs with the path.
    DWORD Unplug(DWORD timeoutMs = 5000);
    // A new interface appears: listed as present, the path opens, the board listens.
    DWORD Replug();
    // Called (on the thread that unplugs) after each unplug and its report.
    void SetUnplugHandler(std::function<void(const std::string &interfacePath)> handler);

    // Called on a board worker each time an image has been written to flash,
    // before the reply that reports it goes out (so a host that sees success
    // finds whatever the handler saved).
    void SetFlashWrittenHandler(std::function<void(const std::vector<std::uint8_t> &image)> handler);

    std::vector<BoardEvent> Events() const;
    std::vector<FaultRecord> FaultLog() const;

private:
    enum class ReadOutcome { Done, Stopped, Dropped, TimedOut, Broken };
    struct Outgoing {
        std::uint32_t ticket = 0;
        std::uint8_t channel = 0;
        std::uint8_t subchannel = 0;
        std::vector<std::uint8_t> data;
        std::uint32_t delayMs = 0;
        bool updateReply = false;
        std::uint32_t session = 0;             // update replies belong to the session that asked
        bool writesFlash = false;              // flashImage goes "into flash" before this goes out
        std::vector<std::uint8_t> flashImage;
    };

    // Reader thread.
    void ReaderMain();
    bool AwaitClient();
    void RunSession();
    void EndSession();
    ReadOutcome ReadExact(std::uint8_t *buffer, std::size_t count, DWORD timeoutMs);
    bool HandleConnectRequest();
    bool HandleHostData(const LinkFrame &frame);
    bool DeliverHostMessage(std::uint8_t channel, std::uint8_t subchannel, std::vector<std::uint8_t> data);
    void TakeHostAnswer(const LinkFrame &frame);
    bool PauseReading(DWORD durationMs);  // false when the board must stop or drop the link
    bool ApplyConnectionFault(FaultAction action);  // Disconnect/Unplug on the reader thread

    // Sender thread.
    void SenderMain();
    DWORD SendBoardMessage(const Outgoing &message);

    // Shared.
    FaultDecision Decide(FaultPoint point);
    // With `session` given, nothing is written once the host of that session has gone (a packet of
    // an earlier session must not reach the next host, also not after a delay).
    static constexpr std::uint32_t kAnySession = 0xFFFFFFFFu;
    DWORD WritePacket(const std::uint8_t *header, const std::uint8_t *payload, std::size_t payloadLength,
                      DWORD payloadDelayMs = 0, std::uint32_t session = kAnySession);
    bool SessionGone(std::uint32_t session);
    DWORD WriteAll(const std::uint8_t *bytes, std::size_t count);
    DWORD WriteAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence);
    void Record(const BoardEvent &event);
    void PushEvent(BoardEvent event);  // under mutex_: stamps the time
    bool WaitStop(DWORD ms) const;  // true when stopped during the wait
    DWORD RequestDrop(DWORD timeoutMs);
    void Unlist();
    void NotifyUnplug();
    void FinishOutgoing(const Outgoing &message, DWORD result);
    std::uint32_t AnswerWaitMs() const;
    std::uint32_t PayloadWaitMs() const;
    std::uint32_t SendsPerPacket() const;
    bool LittleEndian() const { return config_.link.LittleEndian(); }

    BoardConfig config_;
    std::string pipeName_;
    UniqueHandle pipe_;
    std::mutex plugMutex_;  // link_ and the listing
    DeviceLink link_;
    bool listed_ = false;
    bool notifyUnplugAfterDrop_ = false;  // reader only
    bool started_ = false;

    UniqueHandle stopEvent_;      // manual: the workers end
    UniqueHandle controlEvent_;   // auto: the reader has a drop, stall or resume request
    UniqueHandle linkUpEvent_;    // manual: a connect reply went out in this session
    UniqueHandle connectedEvent_; // manual: a host holds the pipe
    UniqueHandle listeningEvent_; // manual: the pipe waits for the next host
    UniqueHandle outgoingEvent_;  // manual: the outgoing queue is not empty
    UniqueHandle answerEvent_;    // auto: an answer for the packet in flight (or the session ended)
    UniqueHandle readEvent_;      // reader's overlapped reads and connects
    UniqueHandle writeEvent_;     // overlapped writes, under writeLock_
    Mutex writeLock_;             // one packet (header + payload) at a time

    Thread reader_;
    Thread sender_;

    mutable std::mutex mutex_;  // everything below
    std::condition_variable changed_;
    FaultInjector faults_;
    MessageAssembler assembler_;  // reader only
    UpdateReceiver updates_;
    std::vector<std::uint8_t> flash_;
    std::uint32_t flashWrites_ = 0;
    std::uint32_t updateReplies_ = 0;
    std::deque<HostMessage> hostMessages_;
    std::deque<Outgoing> outgoing_;
    std::map<std::uint32_t, DWORD> sendResults_;
    std::uint32_t nextTicket_ = 1;
    std::vector<BoardEvent> events_;
    // The packet in flight, for matching the host's answers.
    bool expecting_ = false;
    std::uint8_t expectedChannel_ = 0, expectedSubchannel_ = 0;
    std::uint32_t expectedSequence_ = 0;
    std::uint8_t answerLetter_ = 0;
    std::uint32_t session_ = 0;  // counts ended sessions
    // Requests to the reader.
    bool dropRequested_ = false;
    std::uint32_t drops_ = 0;  // drops carried out
    DWORD stallRequestMs_ = 0;
    bool resumeRequested_ = false;
    std::function<void(const std::string &)> unplugHandler_;
    std::function<void(const std::vector<std::uint8_t> &)> flashHandler_;
};

}  // namespace boardsim
