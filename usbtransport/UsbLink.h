// One opened board: its device file, its link parameters and options, the queues
// through which callers hand work to the three link workers, the ring of received
// packets, and the workers themselves. The address of a UsbLink is the handle that
// CommOpen delivers; the tag right after the vtable pointer identifies it.
//
// How the engine is put together, one concept per file:
// - DeviceFile: the board's device path and handle; starts overlapped transfers.
// - TimedTransfer: the one way every read and write waits (time-out, stop, cancel) and the one
//   mapping of its failure to a TransferOutcome, which only the public methods turn into a result.
// - Three link workers (LinkWorkers.cpp): the ReadWorker reads every packet, answers the
//   board's data packets and hands them to the ring, and passes answers to the sender; the
//   SendWorker cuts queued messages into packets and waits for their answers; the
//   AssembleWorker puts packets from the ring together into the callers' buffers. The
//   connect exchange runs on the caller's thread before any worker exists. Each worker runs on a
//   thread of the library's WorkerPool, which keeps a thread whose work has ended for the next
//   connect of any handle.
// - Hand-offs between threads, all in user space (condition variables under critical
//   sections, no kernel object): RequestQueue (callers to workers and back), PacketRing
//   (ReadWorker to AssembleWorker), WriteLock (one writer on the device, held through a
//   WriteLockHold). LinkStop ends them all: its flag ends the hand-off waits, its event the
//   transfer waits.
// - RemovalWatch: the link's hidden window and its registration, made and served on the
//   library's one NotifyWorker (NotifyWorker.*), which stays from one link to the next; reports
//   the board's removal, on which the link stops and closes its device. The window comes while
//   the caller already uses the handle; a board gone before its registration is found by asking
//   device setup once (InterfacePresence.*).
// - The link itself (UsbLink.cpp): open, connect and StartWorkers, StopWorkers, CloseDevice and
//   Teardown, each in one commented order; options in LinkOptions.cpp; the library-wide list of
//   handles in HandleRegistry.
// The locks are critical sections held for a few fields, taken only in this order:
// startStopSerial_ (starts and stops one at a time), deviceGuard_ (closing the device once),
// requestGate_ (state checks against a stop), then a hand-off's or the removal watch's own
// lock, which are never held while anything else is taken. The WorkerPool's lock (its threads and
// the workers' phases) is taken with startStopSerial_ held or alone, and nothing under it. The
// registry's lock (the list of open links, and the count of a call as it enters) and the
// NotifyWorker's (its requests and count of windows) are never held together with any of them.
#pragma once
#include "CommApi.h"
#include "CriticalSection.h"
#include "DeviceFile.h"
#include "Library.h"
#include "LinkHeader.h"
#include "LinkStop.h"
#include "PacketRing.h"
#include "PinnedThread.h"
#include "RemovalWatch.h"
#include "RequestQueue.h"
#include "TimedTransfer.h"
#include "UniqueHandle.h"
#include "WorkerPool.h"
#include "WriteLock.h"
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace wirrow {

constexpr uint32_t kLinkTag = 0x00425355;  // 'U','S','B',0

enum class LinkState : uint32_t { Closed = 0, Opened = 1, Negotiated = 2, Starting = 3, Running = 4 };

// How long a stop waits for each worker, a teardown for the removal watch and a close for the
// calls still inside the link. A link whose threads or calls have not let go by then is left
// unsettled: it is never freed (they run on its memory), and it fails every call.
constexpr DWORD kWorkerStopAllowanceMs = 3000;
// Longest wait of the ReadWorker to write one answer or repeat (the write lock, then the write).
// An answer that cannot go out in time is given up: the board asks for it again ('e').
constexpr DWORD kAnswerWriteWaitMs = 3000;
// The reader, the sender and the assembler.
constexpr unsigned kLinkWorkerCount = 3;
// Headers other than the connect reply accepted in one connect attempt before it counts as failed.
constexpr int kStrayHeadersPerConnectAttempt = 64;

class UsbLink {
public:
    UsbLink();
    virtual ~UsbLink();
    UsbLink(const UsbLink &) = delete;
    UsbLink &operator=(const UsbLink &) = delete;

    // The UsbLink behind a handle value, or null when the value is 0, all ones, unreadable
    // memory or memory without the tag. Only for a value that is not open here: an open one is
    // found on the registry's list.
    static UsbLink *FromHandle(HCOMM handle);

    // Opens the device, asks for the removal watch and makes the two transfer blocks: state Opened.
    // 0 or the platform's code (the caller then runs Teardown).
    DWORD Open(const std::string &path);
    // The common end of CommClose and CommCleanup: stops, closes and waits, within the allowances,
    // for everything the link runs and for the calls still inside it. False when something did
    // not let go in time: the link must then not be freed.
    bool Teardown();

    // Brackets every call on the link but CommClose, so a close waits for the calls still inside.
    // Counted by the registry under its lock, in the same hold that finds the link on its list:
    // a close takes the link off the list under that lock first, so no call is counted after it.
    void EnterCall() { ++callsInside_; }
    // Under requestGate_, which the close takes once it has seen the count at 0: by then the
    // last call has let go of the link for good. The event is set only for a close that waits,
    // so the calls of a running link touch no kernel object here.
    void LeaveCall() {
        SectionHold gate(requestGate_);
        if (--callsInside_ == 0 && closeWaiting_) ::SetEvent(callsLeft_.Get());
    }

    CommResult Connect(uint32_t channel, const uint8_t *subchannel, const void *request, void *reply);
    CommResult Disconnect();
    CommResult GetOption(uint32_t option, void *value);
    CommResult SetOption(uint32_t option, const void *value);
    CommResult SendData(const void *data, uint32_t length, uint32_t channel, uint32_t subchannel);
    CommResult ReceiveData(void *buffer, uint32_t *length, uint8_t *channel, uint8_t *subchannel);

    const std::string &Path() const { return device_.Path(); }
    void HoldLibraryPin(Library pin) { libraryPin_ = std::move(pin); }
    Library TakeLibraryPin() { return std::move(libraryPin_); }
    LinkState State() const { return state_.load(); }

private:
    // Connect exchange (true when negotiated) and the three workers (LinkWorkers.cpp).
    bool ConnectExchange(uint32_t channel, const uint8_t *subchannel, const void *request, void *reply);
    void ReadWorker();
    void SendWorker();
    void AssembleWorker();
    // false when the worker is to end.
    bool SendAnswer(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence);
    template <typename Prepare> bool WriteAnswer(Prepare prepare);
    // Bytes the ReadWorker read past a payload that belong to the next header.
    struct HeaderCarry {
        uint8_t bytes[kHeaderSize];
        uint32_t count = 0;
    };
    TransferOutcome ReadPayload(uint8_t *into, uint32_t length, DWORD waitMs, uint32_t &arrived);
    TransferOutcome ReadDataPayload(const LinkHeader &header, uint32_t length, DWORD waitMs, HeaderCarry &carry);
    // false when the worker is to end (the request has been completed as DeviceGone).
    bool ServeSend(SendRequest *request, DWORD answerWaitMs, uint32_t sendsPerPacket);
    TransferOutcome WriteAndWait(const void *data, DWORD count, DWORD timeoutMs);
    TransferOutcome WriteDataPacket(const SendRequest &request, const uint8_t *payload, uint32_t size,
                                    DWORD writeWait, bool littleEndian);
    TransferGuard Guard();

    // Engine operations (UsbLink.cpp).
    DWORD StartWorkers();
    DWORD LaunchWorker(PooledWorker &worker, void (UsbLink::*body)());
    void StopWorkers();
    void CloseDevice();
    void ReleaseDeviceObjects();
    // The removal watch's handler, on the NotifyWorker: what CommDisconnect does, then CloseDevice.
    void OnBoardRemoved();

    void DrainQueues() {
        DrainSendQueue();
        DrainReceiveQueue();
    }
    void DrainSendQueue();
    void DrainReceiveQueue();
    // The one place where the engine's outcomes become Comm API results.
    static CommResult ToCommResult(TransferOutcome outcome);
    TransferOutcome QueueSend(uint8_t channel, uint8_t subchannel, const void *data, uint32_t length);
    TransferOutcome QueueReceive(void *buffer, uint32_t *length, uint8_t *channel, uint8_t *subchannel);
    bool LittleEndian() const { return IsLittleEndianLink(linkFlags_); }
    static void OnDeviceLost(void *link);
    // Raises the stop and wakes every hand-off wait of the workers; under deviceGuard_.
    void RaiseStop();
    // Ends a connect exchange that waits for the board, from any thread (a disconnect, a close, a
    // removal); a connect that begins later is not affected.
    void CancelConnect();

    // Fields in the order the handle layout fixes: the tag comes right after the vtable pointer.
    volatile uint32_t tag_ = kLinkTag;
    int32_t spareA_ = -1;
    int32_t spareB_ = 10;
    uint32_t ringSlots_ = 64;
    uint32_t maxPayload_ = 16384;
    uint8_t attempts_ = 6;
    uint8_t packetTimeout_ = 1;  // seconds
    uint8_t replyTimeout_ = 3;   // seconds
    uint8_t linkFlags_ = 0;
    volatile uint8_t channel_ = 0x58;
    volatile uint8_t subchannel_ = 0xFF;
    volatile uint32_t filterOn_ = 1;
    std::unique_ptr<uint8_t[]> spareBuffer_;
    DeviceFile device_;
    std::atomic<LinkState> state_{LinkState::Closed};
    LinkStop stop_;
    RequestQueue<SendRequest> sendQueue_;
    RequestQueue<SendRequest> sendDone_;
    WriteLock writeLock_;
    IoBlock writeIo_;
    PooledWorker sendWorker_;
    LinkHeader replyPacket_{};
    PacketRing ring_;
    RequestQueue<ReceiveRequest> receiveQueue_;
    RequestQueue<ReceiveRequest> receiveDone_;
    std::unique_ptr<uint8_t[]> payloadBuffer_;
    IoBlock headerIo_;
    IoBlock payloadIo_;
    PooledWorker readWorker_;
    PooledWorker assembleWorker_;
    volatile uint32_t lastWriteWasReply_ = 1;
    // The window and registration on the NotifyWorker; null when the watch could not be made, or
    // once handed over to the NotifyWorker at the teardown.
    std::unique_ptr<RemovalWatch> removalWatch_;

    // Guards added to the layout above:
    // requestGate_ orders the callers' state check and queueing against a stop, so that no
    // request is queued after the queues were drained.
    CriticalSection requestGate_;
    // deviceGuard_ makes each closing of the device objects happen once when a worker that meets a
    // lost device and a caller's stop or close race.
    CriticalSection deviceGuard_;
    // startStopSerial_ keeps a connect's start of the workers and every stop (a caller's and the
    // removal handler's) from overlapping one another.
    CriticalSection startStopSerial_;
    bool workersExist_ = false;      // between StartWorkers and StopWorkers
    // A worker did not end within its allowance: its objects stay, and so does the link.
    std::atomic<bool> unsettled_{false};
    std::atomic<long> callsInside_{0};
    UniqueHandle callsLeft_ = MakeEvent(false, false);  // set when the last call inside has left
    // The connect exchange's transfers wait on this besides their time-outs. A connect resets it
    // under startStopSerial_ and then compares cancels_ with its value when the call began, so a
    // cancel that comes between the call's start and the reset still ends it.
    UniqueHandle connectCancel_ = MakeEvent(true, false);
    std::atomic<uint32_t> cancels_{0};
    std::atomic<bool> closing_{false};  // Teardown has begun: no connect starts any more
    bool closeWaiting_ = false;      // under requestGate_: Teardown waits for callsLeft_
    bool deviceObjectsOwed_ = false; // the device was lost while workers ran; close after they end
    Library libraryPin_;             // keeps the library loaded while the link is open
};

}  // namespace wirrow
