#include "UsbLink.h"
#include "MemoryAccess.h"
#include <cstring>
#include <initializer_list>
#include <new>

namespace wirrow {

UsbLink::UsbLink() = default;

UsbLink::~UsbLink() {
    // A stale copy of the handle must not pass the tag check.
    tag_ = 0;
}

UsbLink *UsbLink::FromHandle(HCOMM handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value == UINTPTR_MAX || value == 0xFFFFFFFFu) return nullptr;
    const auto *bytes = static_cast<const uint8_t *>(handle);
    if (!CanReadMemory(bytes, sizeof(void *) + sizeof(uint32_t))) return nullptr;
    uint32_t tag = 0;
    std::memcpy(&tag, bytes + sizeof(void *), sizeof(tag));
    return tag == kLinkTag ? static_cast<UsbLink *>(handle) : nullptr;
}

DWORD UsbLink::Open(const std::string &path) {
    if (!connectCancel_ || !callsLeft_) return ::GetLastError();
    DWORD error = device_.Open(path);
    if (error) return error;
    // The threads for the connect's workers start while the watch's window is made: under Wine the
    // first window of a process loads the platform's window libraries under the loader lock, which
    // a thread's start needs as well.
    TheWorkerPool().Prepare(kLinkWorkerCount);
    // A watch that cannot start leaves the handle working without removal reports.
    removalWatch_.reset(new (std::nothrow) RemovalWatch);
    if (removalWatch_) removalWatch_->Start(device_.Path(), this, [this] { OnBoardRemoved(); });
    if ((error = writeIo_.Create()) != 0 || (error = headerIo_.Create()) != 0) {
        writeIo_.Close();
        headerIo_.Close();
        return error;
    }
    state_ = LinkState::Opened;
    return ERROR_SUCCESS;
}

bool UsbLink::Teardown() {
    // A connect still in its exchange (a caller's mistake, another thread's call) lets go of the
    // device objects before CloseDevice releases them.
    closing_ = true;
    CancelConnect();
    { SectionHold serial(startStopSerial_); }
    bool workersExist;
    {
        SectionHold hold(deviceGuard_);
        workersExist = workersExist_;
    }
    if (workersExist) StopWorkers();
    if (state_.load() >= LinkState::Negotiated) {
        channel_ = 0;
        state_ = LinkState::Opened;
    }
    if (device_.IsOpen() || (removalWatch_ && removalWatch_->Watching()) || writeIo_.Exists() || headerIo_.Exists())
        CloseDevice();
    bool settled = true;
    if (removalWatch_) {
        switch (removalWatch_->Release(kWorkerStopAllowanceMs)) {
        case RemovalWatch::Released::Settled: break;
        case RemovalWatch::Released::HandedOver: removalWatch_.release(); break;  // the NotifyWorker frees it
        case RemovalWatch::Released::TimedOut: settled = false; break;
        }
    }
    // Callers woken by the stop still step out of their requests on the link's queues.
    const DWORD start = ::GetTickCount();
    while (settled) {
        {
            SectionHold gate(requestGate_);
            if (callsInside_.load() == 0) break;
            closeWaiting_ = true;
        }
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= kWorkerStopAllowanceMs || !callsLeft_ ||
            ::WaitForSingleObject(callsLeft_.Get(), kWorkerStopAllowanceMs - elapsed) == WAIT_FAILED)
            settled = false;
    }
    return settled && !unsettled_.load() && !device_.Unsettled();
}

// ---- Connecting and disconnecting -------------------------------------------------------------

CommResult UsbLink::Connect(uint32_t channel, const uint8_t *subchannel, const void *request, void *reply) {
    const uint32_t cancelsBefore = cancels_.load();
    if ((subchannel && !CanReadMemory(subchannel, 1)) || (request && !CanReadMemory(request, kHeaderSize)) ||
        (reply && !CanWriteMemory(reply, kHeaderSize)))
        return COMM_E_POINTER;
    // A start and a stop never overlap: a removal handled on the NotifyWorker during this connect
    // stops the workers only once they have all begun, never while their objects are being made.
    SectionHold serial(startStopSerial_);
    if (state_.load() == LinkState::Running) return COMM_SUCCESS;
    ::ResetEvent(connectCancel_.Get());
    // A handle that lost its device (removed, or given up by its reader) stays lost until it is
    // closed: its old workers may still be winding down on the old device objects.
    if (closing_.load() || cancels_.load() != cancelsBefore || state_.load() == LinkState::Closed ||
        !ConnectExchange(channel, subchannel, request, reply)) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return COMM_ERROR_DEVICE_NOT_CONNECTED;
    }
    return StartWorkers();
}

CommResult UsbLink::Disconnect() {
    CancelConnect();
    StopWorkers();
    channel_ = 0;
    SectionHold gate(requestGate_);
    if (state_.load() >= LinkState::Negotiated) state_ = LinkState::Opened;
    return COMM_SUCCESS;
}

// ---- Workers ---------------------------------------------------------------------------------

// In this order: the ring, the stop (from here a lost device leaves the device objects to the
// stop, as a worker may be inside a transfer), the payload block and both buffers, then the
// ReadWorker, the SendWorker and the AssembleWorker. A step that fails runs StopWorkers, the one
// undo path, which ends what started and lets go of what was made.
DWORD UsbLink::StartWorkers() {
    if (maxPayload_ == 0) return ERROR_INVALID_PARAMETER;  // a board stating no payload cannot carry data
    {
        // The device may have been lost since the connect reply (the link is Closed then).
        SectionHold gate(requestGate_);
        LinkState expected = LinkState::Negotiated;
        if (!state_.compare_exchange_strong(expected, LinkState::Starting)) return ERROR_DEVICE_NOT_CONNECTED;
    }
    DWORD error = ring_.Init(ringSlots_, maxPayload_);
    if (error) {
        LinkState expected = LinkState::Starting;
        state_.compare_exchange_strong(expected, LinkState::Negotiated);
        return error;
    }
    {
        SectionHold hold(deviceGuard_);
        error = stop_.Create();
        workersExist_ = true;
    }
    if (!error) error = payloadIo_.Create();
    if (!error) {
        payloadBuffer_.reset(new (std::nothrow) uint8_t[maxPayload_]());
        spareBuffer_.reset(new (std::nothrow) uint8_t[maxPayload_]);
        if (!payloadBuffer_ || !spareBuffer_) error = ERROR_NOT_ENOUGH_MEMORY;
    }
    lastWriteWasReply_ = 1;
    replyPacket_ = LinkHeader{};
    // Launched together and then waited for: each thread's start costs the platform's per-thread
    // attach, which three threads pay at the same time rather than one after another.
    if (!error) error = LaunchWorker(readWorker_, &UsbLink::ReadWorker);
    if (!error) error = LaunchWorker(sendWorker_, &UsbLink::SendWorker);
    if (!error) error = LaunchWorker(assembleWorker_, &UsbLink::AssembleWorker);
    for (PooledWorker *worker : {&readWorker_, &sendWorker_, &assembleWorker_}) worker->WaitBegan();
    if (error) {
        StopWorkers();
        return error ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    {
        SectionHold gate(requestGate_);
        LinkState expected = LinkState::Starting;
        if (state_.compare_exchange_strong(expected, LinkState::Running)) return ERROR_SUCCESS;
    }
    // The device was lost while the workers started (the link is Closed): none is left running.
    StopWorkers();
    return ERROR_DEVICE_NOT_CONNECTED;
}

DWORD UsbLink::LaunchWorker(PooledWorker &worker, void (UsbLink::*body)()) {
    try {
        return worker.Launch([this, body] { (this->*body)(); });
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

namespace {

// Waits the stop allowance. Every wait of a worker includes the stop event and every transfer is
// bounded, so only a device that does not let go of a cancelled transfer can hold it beyond
// that; the worker then keeps running on the link's memory and the caller leaves the link be.
bool JoinWorker(PooledWorker &worker) {
    if (!worker.WaitEnded(kWorkerStopAllowanceMs)) return false;
    worker.Reset();
    return true;
}

}  // namespace

// In this order: no request is queued any more (state), the stop is raised (every worker wait ends
// on it), the workers are joined (reader, sender, assembler; each completes the request it was
// serving), the requests still queued are completed as DeviceGone, then the workers' objects go,
// and last the device objects a lost device left to the stop.
void UsbLink::StopWorkers() {
    SectionHold serial(startStopSerial_);
    {
        SectionHold gate(requestGate_);
        // From here on no request is queued.
        LinkState state = state_.load();
        if (state == LinkState::Starting || state == LinkState::Running) state_ = LinkState::Negotiated;
    }
    {
        SectionHold hold(deviceGuard_);
        if (!workersExist_ || unsettled_.load()) return;
        if (stop_.Exists()) RaiseStop();
    }
    bool ended = JoinWorker(readWorker_);
    ended = JoinWorker(sendWorker_) && ended;
    ended = JoinWorker(assembleWorker_) && ended;
    if (!ended) {
        // A worker still runs on the objects below: they stay, and the link is lost for good. Each
        // worker completes the requests of its own queue as it ends.
        unsettled_ = true;
        SectionHold gate(requestGate_);
        state_ = LinkState::Closed;
        return;
    }
    // Requests that no worker served any more.
    DrainQueues();
    payloadBuffer_.reset();
    spareBuffer_.reset();
    payloadIo_.Close();
    ring_.Reset();
    SectionHold hold(deviceGuard_);
    stop_.Close();
    workersExist_ = false;
    if (deviceObjectsOwed_) {
        deviceObjectsOwed_ = false;
        ReleaseDeviceObjects();
    }
}

// Requests still queued when the link stops are ended as DeviceGone, so no caller waits for a worker
// that is gone. Callers queue only while the link runs, and the state leaves Running before the
// stop event is set, so a drain after a worker has seen the stop event finds every request.
void UsbLink::DrainSendQueue() {
    while (SendRequest *request = sendQueue_.Pop()) sendDone_.Complete(request, TransferOutcome::DeviceGone);
}

void UsbLink::DrainReceiveQueue() {
    while (ReceiveRequest *request = receiveQueue_.Pop()) receiveDone_.Complete(request, TransferOutcome::DeviceGone);
}

// ---- The device ------------------------------------------------------------------------------

void UsbLink::CloseDevice() {
    SectionHold hold(deviceGuard_);
    {
        SectionHold gate(requestGate_);
        state_ = LinkState::Closed;
    }
    if (stop_.Exists()) RaiseStop();
    if (removalWatch_) removalWatch_->End();
    if (workersExist_) {
        // Workers may still be inside a transfer on these objects: wake them and let the stop that
        // joins them close the objects.
        if (device_.IsOpen()) ::CancelIoEx(device_.Handle(), nullptr);
        deviceObjectsOwed_ = true;
        return;
    }
    ReleaseDeviceObjects();
}

void UsbLink::ReleaseDeviceObjects() {
    writeIo_.Close();
    headerIo_.Close();
    device_.Close();
}

// What CommDisconnect does, then the device is closed; CloseDevice also ends the removal watch.
void UsbLink::OnBoardRemoved() {
    CancelConnect();
    StopWorkers();
    channel_ = 0;
    {
        SectionHold gate(requestGate_);
        if (state_.load() >= LinkState::Negotiated) state_ = LinkState::Opened;
    }
    CloseDevice();
}

void UsbLink::CancelConnect() {
    ++cancels_;
    ::SetEvent(connectCancel_.Get());
}

void UsbLink::OnDeviceLost(void *link) { static_cast<UsbLink *>(link)->CloseDevice(); }

void UsbLink::RaiseStop() {
    stop_.Raise();
    sendQueue_.WakeWaiters();
    receiveQueue_.WakeWaiters();
    ring_.WakeWaiters();
    writeLock_.WakeWaiters();
}

TransferGuard UsbLink::Guard() { return TransferGuard{&device_, stop_.Event(), &UsbLink::OnDeviceLost, this}; }

// ---- Data calls ------------------------------------------------------------------------------

CommResult UsbLink::ToCommResult(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Done: return COMM_SUCCESS;
    case TransferOutcome::TimedOut:
    case TransferOutcome::Unfinished: return COMM_ERROR_TIMEOUT;
    case TransferOutcome::NoRoom: return COMM_ERROR_NOT_ENOUGH_MEMORY;
    default: return COMM_ERROR_DEVICE_NOT_CONNECTED;
    }
}

TransferOutcome UsbLink::QueueSend(uint8_t channel, uint8_t subchannel, const void *data, uint32_t length) {
    SendRequest request(channel, subchannel, data, length);
    {
        SectionHold gate(requestGate_);
        if (state_.load() != LinkState::Running) return TransferOutcome::DeviceGone;
        sendQueue_.Push(&request);
    }
    sendDone_.AwaitCompletion(&request);
    return request.result;
}

TransferOutcome UsbLink::QueueReceive(void *buffer, uint32_t *length, uint8_t *channel, uint8_t *subchannel) {
    ReceiveRequest request(channel, subchannel, buffer, length);
    {
        SectionHold gate(requestGate_);
        if (state_.load() != LinkState::Running) return TransferOutcome::DeviceGone;
        // A null buffer asks for the link's spare buffer, which lives only while the link runs.
        if (!request.buffer) {
            request.buffer = spareBuffer_.get();
            *length = maxPayload_;
        }
        receiveQueue_.Push(&request);
    }
    receiveDone_.AwaitCompletion(&request);
    return request.result;
}

CommResult UsbLink::SendData(const void *data, uint32_t length, uint32_t channel, uint32_t subchannel) {
    if (length == 0) return COMM_SUCCESS;
    if (!data || !CanReadMemory(data, length)) return COMM_E_POINTER;
    return ToCommResult(QueueSend(static_cast<uint8_t>(channel), static_cast<uint8_t>(subchannel), data, length));
}

CommResult UsbLink::ReceiveData(void *buffer, uint32_t *length, uint8_t *channel, uint8_t *subchannel) {
    if (!buffer || !length || !CanWriteMemory(length, sizeof(*length))) return COMM_E_POINTER;
    const uint32_t capacity = *length;
    if (!CanWriteMemory(buffer, capacity)) return COMM_E_POINTER;
    if ((channel && !CanWriteMemory(channel, 1)) || (subchannel && !CanWriteMemory(subchannel, 1))) return COMM_E_POINTER;
    uint8_t messageChannel = 0;
    uint8_t messageSubchannel = 0;
    TransferOutcome result;
    for (;;) {
        *length = capacity;
        result = QueueReceive(buffer, length, &messageChannel, &messageSubchannel);
        if (result != TransferOutcome::Done && result != TransferOutcome::NoRoom) break;
        if (!filterOn_ || (messageChannel == channel_ && (messageSubchannel == subchannel_ || messageSubchannel == 0xFF)))
            break;
        // Not for this handle: a message too large for the caller's buffer is taken off into the spare one.
        if (result == TransferOutcome::NoRoom) {
            uint8_t ignoredChannel = 0;
            uint8_t ignoredSubchannel = 0;
            QueueReceive(nullptr, length, &ignoredChannel, &ignoredSubchannel);
        }
    }
    if (channel) *channel = messageChannel;
    if (subchannel) *subchannel = messageSubchannel;
    return ToCommResult(result);
}

}  // namespace wirrow
