#include "SimulatedBoard.h"
#include "Mutex.h"
#include <chrono>
#include <cstdio>

namespace boardsim {
namespace {

constexpr DWORD kWriteTimeoutMs = 5000;   // a host that reads nothing at all holds a write this long
constexpr DWORD kWorkerEndWaitMs = 10000;
constexpr std::uint16_t kDefaultRejectCode = 0x0201;
constexpr std::uint32_t kDefaultStalePackets = 2;

const char *const kEventNames[] = {"client-connected", "connect-replied", "host-packet",   "host-message",
                                   "update-reply",     "flash-written",   "board-packet",  "host-answer",
                                   "board-message-done", "repeat-request", "fault",        "session-ended",
                                   "unplugged",        "replugged"};

// Left-over packets of an earlier session: an empty data packet, an answer, a
// valid letter without meaning to the host, and 16 bytes that are no header at all.
LinkHeaderBytes StalePacket(std::uint32_t index, bool littleEndian) {
    switch (index % 4) {
    case 0: return MakeDataHeader(kUpdateChannel, kUpdateSubchannel, kLastSequence, 0, littleEndian);
    case 1: return MakeAnswer('a', kUpdateChannel, kUpdateSubchannel, 1, littleEndian);
    case 2: return EncodeLinkHeader({kKindAnswer, 't', 0, 0, 0, 0}, littleEndian);
    default: {
        LinkHeaderBytes junk;
        junk.fill(0xEE);
        return junk;
    }
    }
}

bool IsConnectionFault(FaultAction action) {
    return action == FaultAction::Disconnect || action == FaultAction::Unplug;
}

}  // namespace

std::string DescribeEvent(const BoardEvent &e) {
    char text[160];
    if (e.kind == BoardEventKind::Fault) {
        std::snprintf(text, sizeof(text), "fault %s %s", FaultPointName(static_cast<FaultPoint>(e.letter)),
                      FaultActionName(static_cast<FaultAction>(e.value)));
    } else {
        std::snprintf(text, sizeof(text), "%s letter=%c channel=%u subchannel=%u sequence=0x%08lX length=%lu value=%lu",
                      kEventNames[static_cast<int>(e.kind)], e.letter ? static_cast<char>(e.letter) : '-',
                      static_cast<unsigned>(e.channel), static_cast<unsigned>(e.subchannel),
                      static_cast<unsigned long>(e.sequence), static_cast<unsigned long>(e.length),
                      static_cast<unsigned long>(e.value));
    }
    return text;
}

SimulatedBoard::SimulatedBoard(BoardConfig config)
    : config_(std::move(config)), faults_(config_.faults), updates_(config_.link.LittleEndian()) {}

SimulatedBoard::~SimulatedBoard() { Stop(); }

std::uint32_t SimulatedBoard::AnswerWaitMs() const {
    if (config_.answerTimeoutMs) return config_.answerTimeoutMs;
    return config_.link.replyTimeoutSeconds ? config_.link.replyTimeoutSeconds * 1000u : 1000u;
}

std::uint32_t SimulatedBoard::PayloadWaitMs() const {
    if (config_.payloadTimeoutMs) return config_.payloadTimeoutMs;
    return config_.link.packetTimeoutSeconds ? config_.link.packetTimeoutSeconds * 1000u : 1000u;
}

std::uint32_t SimulatedBoard::SendsPerPacket() const {
    if (config_.sendAttempts) return config_.sendAttempts;
    return config_.link.attempts ? config_.link.attempts : 1u;
}

DWORD SimulatedBoard::Start() {
    if (started_) return ERROR_ALREADY_EXISTS;
    pipeName_ = "simboard-" + config_.instance + "-" + std::to_string(::GetCurrentProcessId());
    pipe_.Reset(::CreateNamedPipeA(("\\\\.\\pipe\\" + pipeName_).c_str(),
                                   PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    if (!pipe_) return ::GetLastError();
    stopEvent_ = MakeEvent(true, false);
    controlEvent_ = MakeEvent(false, false);
    linkUpEvent_ = MakeEvent(true, false);
    connectedEvent_ = MakeEvent(true, false);
    listeningEvent_ = MakeEvent(true, false);
    outgoingEvent_ = MakeEvent(true, false);
    answerEvent_ = MakeEvent(false, false);
    readEvent_ = MakeEvent(true, false);
    writeEvent_ = MakeEvent(true, false);
    writeLock_ = Mutex();
    DWORD error = ERROR_SUCCESS;
    if (!stopEvent_ || !controlEvent_ || !linkUpEvent_ || !connectedEvent_ || !listeningEvent_ ||
        !outgoingEvent_ || !answerEvent_ || !readEvent_ || !writeEvent_ || !writeLock_)
        error = ::GetLastError();
    if (!error) error = link_.Create(InterfacePath(), pipeName_);
    if (!error && config_.listInterface) {
        error = RegisterBoardInterface(config_.instance);
        listed_ = error == ERROR_SUCCESS;
    }
    started_ = true;
    if (!error && !reader_.Start([this] { ReaderMain(); })) error = ::GetLastError();
    if (!error && !sender_.Start([this] { SenderMain(); })) error = ::GetLastError();
    if (error) {
        Stop();
        return error ? error : ERROR_GEN_FAILURE;
    }
    return ERROR_SUCCESS;
}

void SimulatedBoard::Stop() {
    if (!started_) return;
    if (stopEvent_) ::SetEvent(stopEvent_.Get());
    // Every wait of the workers also waits for stopEvent_; the bounded join is
    // a guard, the unbounded one makes sure nothing is freed under a worker.
    for (Thread *worker : {&reader_, &sender_}) {
        if (!worker->Join(kWorkerEndWaitMs)) worker->Join();
        worker->Reset();
    }
    {
        std::lock_guard<std::mutex> plug(plugMutex_);
        if (listed_) RemoveBoardInterface(config_.instance);
        listed_ = false;
        link_.Remove();
    }
    pipe_.Reset();
    started_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Outgoing &message : outgoing_)
            if (message.ticket) sendResults_[message.ticket] = kSendStopped;
        outgoing_.clear();
    }
    changed_.notify_all();
}

// ---------------------------------------------------------------- shared

void SimulatedBoard::Record(const BoardEvent &event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PushEvent(event);
    }
    changed_.notify_all();
}

void SimulatedBoard::PushEvent(BoardEvent event) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    event.time = now.QuadPart;
    events_.push_back(event);
}

FaultDecision SimulatedBoard::Decide(FaultPoint point) {
    FaultDecision decision;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decision = faults_.Decide(point);
        if (decision.action != FaultAction::None) {
            BoardEvent event;
            event.kind = BoardEventKind::Fault;
            event.letter = static_cast<std::uint8_t>(point);
            event.value = static_cast<std::uint32_t>(decision.action);
            PushEvent(event);
        }
    }
    return decision;
}

bool SimulatedBoard::WaitStop(DWORD ms) const {
    return ::WaitForSingleObject(stopEvent_.Get(), ms) == WAIT_OBJECT_0;
}

DWORD SimulatedBoard::WriteAll(const std::uint8_t *bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeEvent_.Get();
        DWORD moved = 0;
        if (!::WriteFile(pipe_.Get(), bytes + done, static_cast<DWORD>(count - done), nullptr, &overlapped)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return error;
            HANDLE waits[2] = {stopEvent_.Get(), writeEvent_.Get()};
            DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, kWriteTimeoutMs);
            if (waited != WAIT_OBJECT_0 + 1) {
                ::CancelIoEx(pipe_.Get(), &overlapped);
                ::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE);
                return waited == WAIT_OBJECT_0 ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT;
            }
        }
        if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE)) return ::GetLastError();
        done += moved;
    }
    return ERROR_SUCCESS;
}

DWORD SimulatedBoard::WritePacket(const std::uint8_t *header, const std::uint8_t *payload,
                                  std::size_t payloadLength, DWORD payloadDelayMs, std::uint32_t session) {
    MutexLock lock(writeLock_);
    if (SessionGone(session)) return ERROR_PIPE_NOT_CONNECTED;
    DWORD error = WriteAll(header, kLinkHeaderSize);
    if (error || !payload || payloadLength == 0) return error;
    if (payloadDelayMs && WaitStop(payloadDelayMs)) return ERROR_OPERATION_ABORTED;
    if (SessionGone(session)) return ERROR_PIPE_NOT_CONNECTED;
    return WriteAll(payload, payloadLength);
}

bool SimulatedBoard::SessionGone(std::uint32_t session) {
    if (session == kAnySession) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    return session_ != session;
}

DWORD SimulatedBoard::WriteAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel,
                                  std::uint32_t sequence) {
    LinkHeaderBytes answer = MakeAnswer(letter, channel, subchannel, sequence, LittleEndian());
    return WritePacket(answer.data(), nullptr, 0);
}

DWORD SimulatedBoard::SendRepeatRequest() {
    if (!started_) return ERROR_NOT_READY;
    LinkHeaderBytes request = MakeRepeatRequest(LittleEndian());
    DWORD error = WritePacket(request.data(), nullptr, 0);
    if (!error) Record({BoardEventKind::RepeatRequest, 'e', 0, 0, 0, 0, 0});
    return error;
}

// ---------------------------------------------------------------- reader

void SimulatedBoard::ReaderMain() {
    while (AwaitClient()) {
        RunSession();
        EndSession();
        if (WaitStop(0)) return;
    }
}

bool SimulatedBoard::AwaitClient() {
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_.Get();
        bool connected = ::ConnectNamedPipe(pipe_.Get(), &overlapped) != FALSE;
        DWORD error = connected ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED) connected = true;
        if (error == ERROR_NO_DATA) {  // came and went before we looked
            ::DisconnectNamedPipe(pipe_.Get());
            continue;
        }
        if (error == ERROR_IO_PENDING) ::SetEvent(listeningEvent_.Get());
        while (!connected && error == ERROR_IO_PENDING) {
            HANDLE waits[3] = {stopEvent_.Get(), controlEvent_.Get(), readEvent_.Get()};
            DWORD waited = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
            DWORD moved = 0;
            if (waited == WAIT_OBJECT_0 + 2) {
                connected = ::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE) != FALSE;
                if (!connected) error = ::GetLastError();
            } else if (waited == WAIT_OBJECT_0 + 1) {
                // Nobody is connected, so a drop request is done already.
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (dropRequested_) {
                        dropRequested_ = false;
                        ++drops_;
                    }
                }
                changed_.notify_all();
            } else {
                ::CancelIoEx(pipe_.Get(), &overlapped);
                ::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE);
                return false;
            }
        }
        if (connected) break;
        // The pipe itself has failed; nobody can reach this board any more.
        return false;
    }
    ::ResetEvent(listeningEvent_.Get());
    assembler_.Reset();
    ::SetEvent(connectedEvent_.Get());
    Record({BoardEventKind::ClientConnected, 0, 0, 0, 0, 0, 0});
    return true;
}

void SimulatedBoard::EndSession() {
    {
        MutexLock lock(writeLock_);
        ::DisconnectNamedPipe(pipe_.Get());
    }
    ::ResetEvent(linkUpEvent_.Get());
    ::ResetEvent(connectedEvent_.Get());
    assembler_.Reset();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++session_;
        // An update broken off with the connection starts afresh with the next host.
        updates_.AbandonUpdate();
        dropRequested_ = false;
        ++drops_;
        if (expecting_) {
            answerLetter_ = 0;
            ::SetEvent(answerEvent_.Get());
        }
        PushEvent({BoardEventKind::SessionEnded, 0, 0, 0, 0, 0, 0});
    }
    changed_.notify_all();
    if (notifyUnplugAfterDrop_) {
        notifyUnplugAfterDrop_ = false;
        NotifyUnplug();
    }
}

bool SimulatedBoard::PauseReading(DWORD durationMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        HANDLE waits[2] = {stopEvent_.Get(), controlEvent_.Get()};
        DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(left.count()));
        if (waited == WAIT_TIMEOUT) return true;
        if (waited != WAIT_OBJECT_0 + 1) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (dropRequested_) return false;
        if (resumeRequested_) {
            resumeRequested_ = false;
            stallRequestMs_ = 0;
            return true;
        }
        if (stallRequestMs_) {  // a new stall from now on
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallRequestMs_);
            stallRequestMs_ = 0;
        }
    }
}

SimulatedBoard::ReadOutcome SimulatedBoard::ReadExact(std::uint8_t *buffer, std::size_t count, DWORD timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t got = 0;
    while (got < count) {
        DWORD stall = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (dropRequested_) return ReadOutcome::Dropped;
            stall = stallRequestMs_;
            stallRequestMs_ = 0;
            resumeRequested_ = false;
        }
        if (stall && !PauseReading(stall)) return WaitStop(0) ? ReadOutcome::Stopped : ReadOutcome::Dropped;

        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return ReadOutcome::TimedOut;
            wait = static_cast<DWORD>(left.count());
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_.Get();
        DWORD moved = 0;
        if (!::ReadFile(pipe_.Get(), buffer + got, static_cast<DWORD>(count - got), nullptr, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) return ReadOutcome::Broken;
            HANDLE waits[3] = {stopEvent_.Get(), controlEvent_.Get(), readEvent_.Get()};
            DWORD waited = ::WaitForMultipleObjects(3, waits, FALSE, wait);
            if (waited != WAIT_OBJECT_0 + 2) {
                // Stop, a request or the time-out: cancel, but keep whatever arrived.
                ::CancelIoEx(pipe_.Get(), &overlapped);
                if (::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE))
                    got += moved;
                else if (::GetLastError() != ERROR_OPERATION_ABORTED)
                    return ReadOutcome::Broken;
                if (waited == WAIT_OBJECT_0) return ReadOutcome::Stopped;
                if (waited == WAIT_FAILED) return ReadOutcome::Broken;
                continue;  // a request is handled at the top; a time-out ends there too
            }
        }
        if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE)) return ReadOutcome::Broken;
        got += moved;
    }
    return ReadOutcome::Done;
}

void SimulatedBoard::RunSession() {
    for (;;) {
        std::uint8_t header[kLinkHeaderSize];
        if (ReadExact(header, sizeof(header), INFINITE) != ReadOutcome::Done) return;
        // Like the host, skip a bad header whole; the stream is not searched.
        if (!IsValidLinkHeader(header)) continue;
        LinkFrame frame = DecodeLinkHeader(header, LittleEndian());
        bool goOn = true;
        switch (frame.letter) {
        case 'C': goOn = HandleConnectRequest(); break;
        case 'A': goOn = HandleHostData(frame); break;
        case 'a':
        case 'n': TakeHostAnswer(frame); break;
        default: break;  // 'e' and the rest: hosts do not send them; nothing to do
        }
        if (!goOn) return;
    }
}

bool SimulatedBoard::ApplyConnectionFault(FaultAction action) {
    if (action == FaultAction::Unplug) {
        Unlist();
        notifyUnplugAfterDrop_ = true;
    }
    return false;  // the session ends; EndSession drops the connection
}

bool SimulatedBoard::HandleConnectRequest() {
    FaultDecision fault = Decide(FaultPoint::ConnectRequest);
    if (IsConnectionFault(fault.action)) return ApplyConnectionFault(fault.action);
    if (fault.action == FaultAction::Stall && !PauseReading(fault.delayMs)) return false;

    // A new connect starts the judging of sequences afresh.
    assembler_.Reset();
    if (fault.action == FaultAction::StalePackets) {
        std::uint32_t count = fault.value ? fault.value : kDefaultStalePackets;
        for (std::uint32_t i = 0; i < count; ++i) {
            LinkHeaderBytes stale = StalePacket(i, LittleEndian());
            if (WritePacket(stale.data(), nullptr, 0)) return false;
        }
    }
    if (fault.action == FaultAction::DropAnswer) return true;
    if (fault.action == FaultAction::DelayAnswer && !PauseReading(fault.delayMs)) return false;
    LinkHeaderBytes reply = MakeConnectReply(config_.link, config_.maxPayload);
    int copies = fault.action == FaultAction::DuplicateAnswer ? 2 : 1;
    for (int i = 0; i < copies; ++i)
        if (WritePacket(reply.data(), nullptr, 0)) return false;
    ::SetEvent(linkUpEvent_.Get());
    Record({BoardEventKind::ConnectReplied, 'c', 0, 0, 0, config_.maxPayload, config_.link.linkFlags});
    return true;
}

bool SimulatedBoard::HandleHostData(const LinkFrame &frame) {
    BoardEvent event{BoardEventKind::HostPacket, 0, frame.channel, frame.subchannel, frame.sequence, frame.length, 0};
    // As the host does: a header that fails this test is ignored, payload unread.
    if (frame.channel == 0 || frame.subchannel == 0 || frame.sequence == 0 || frame.length > config_.maxPayload) {
        Record(event);
        return true;
    }
    const bool silent = frame.channel == kSilentChannel;
    std::vector<std::uint8_t> payload(frame.length);
    ReadOutcome read = ReadExact(payload.data(), payload.size(), PayloadWaitMs());
    if (read == ReadOutcome::TimedOut) {
        event.letter = silent ? 0 : 'n';
        Record(event);
        return silent || WriteAnswer('n', frame.channel, frame.subchannel, frame.sequence) == ERROR_SUCCESS;
    }
    if (read != ReadOutcome::Done) return false;

    FaultDecision fault = Decide(FaultPoint::HostPacket);
    if (IsConnectionFault(fault.action)) return ApplyConnectionFault(fault.action);
    if (fault.action == FaultAction::Stall && !PauseReading(fault.delayMs)) return false;
    if (fault.action == FaultAction::IgnorePacket) {
        Record(event);
        return true;
    }
    if (!silent && (fault.action == FaultAction::Refuse || fault.action == FaultAction::RepeatRequest)) {
        DWORD error;
        if (fault.action == FaultAction::Refuse) {
            event.letter = 'n';
            error = WriteAnswer('n', frame.channel, frame.subchannel, frame.sequence);
        } else {
            event.letter = 'e';
            LinkHeaderBytes request = MakeRepeatRequest(LittleEndian());
            error = WritePacket(request.data(), nullptr, 0);
        }
        Record(event);
        return error == ERROR_SUCCESS;
    }

    MessageAssembler::Outcome outcome =
        assembler_.Take(frame.channel, frame.subchannel, frame.sequence, payload.data(), payload.size());
    if (outcome.fit == HostPacketFit::OutOfTurn) {
        Record(event);
        return true;
    }
    // A host that waits without time-outs never sends a packet again.
    const bool hostRepeats = config_.link.linkFlags != kLinkFlagNoTimeouts;
    if (!silent) {
        if (fault.action == FaultAction::DropAnswer) {
            if (hostRepeats) assembler_.ExpectRepeatOfLastPacket();
        } else {
            if (fault.action == FaultAction::DelayAnswer) {
                if (!PauseReading(fault.delayMs)) return false;
                if (hostRepeats && fault.delayMs >= config_.link.replyTimeoutSeconds * 1000u)
                    assembler_.ExpectRepeatOfLastPacket();
            }
            int copies = fault.action == FaultAction::DuplicateAnswer ? 2 : 1;
            for (int i = 0; i < copies; ++i)
                if (WriteAnswer('a', frame.channel, frame.subchannel, frame.sequence)) return false;
            event.letter = 'a';
        }
    }
    event.value = outcome.fit == HostPacketFit::AnsweredLost ? 1 : 0;
    Record(event);
    if (!outcome.messageComplete) return true;
    return DeliverHostMessage(assembler_.Channel(), assembler_.Subchannel(), assembler_.TakeMessage());
}

bool SimulatedBoard::DeliverHostMessage(std::uint8_t channel, std::uint8_t subchannel,
                                        std::vector<std::uint8_t> data) {
    if (!config_.updateMode || channel != kUpdateChannel || subchannel != kUpdateSubchannel) {
        BoardEvent event{BoardEventKind::HostMessage, 0, channel, subchannel, 0,
                         static_cast<std::uint32_t>(data.size()), 0};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hostMessages_.push_back({channel, subchannel, std::move(data)});
            PushEvent(event);
        }
        changed_.notify_all();
        return true;
    }

    FaultDecision fault = Decide(FaultPoint::UpdateChunk);
    if (IsConnectionFault(fault.action)) return ApplyConnectionFault(fault.action);
    if (fault.action == FaultAction::Stall && !PauseReading(fault.delayMs)) return false;
    std::uint16_t forcedError = 0;
    if (fault.action == FaultAction::RejectChunk)
        forcedError = fault.value ? static_cast<std::uint16_t>(fault.value) : kDefaultRejectCode;

    Outgoing reply;
    reply.channel = channel;
    reply.subchannel = subchannel;
    reply.updateReply = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UpdateReceiver::Result result = updates_.Take(data.data(), data.size(), forcedError);
        reply.data.assign(result.reply.begin(), result.reply.end());
        reply.session = session_;
        if (result.flashWritten) {
            reply.writesFlash = true;
            reply.flashImage = updates_.FlashImage();
            reply.delayMs = config_.flashWriteDelayMs;
        }
        outgoing_.push_back(std::move(reply));
        ::SetEvent(outgoingEvent_.Get());
    }
    return true;
}

void SimulatedBoard::TakeHostAnswer(const LinkFrame &frame) {
    if (frame.channel == 0 || frame.subchannel == 0 || frame.sequence == 0) return;
    BoardEvent event{BoardEventKind::HostAnswer, frame.letter, frame.channel, frame.subchannel, frame.sequence, 0, 0};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (expecting_ && frame.channel == expectedChannel_ && frame.subchannel == expectedSubchannel_ &&
            frame.sequence == expectedSequence_) {
            answerLetter_ = frame.letter;
            expecting_ = false;
            event.value = 1;
            ::SetEvent(answerEvent_.Get());
        }
        PushEvent(event);
    }
    changed_.notify_all();
}

// ---------------------------------------------------------------- sender

void SimulatedBoard::FinishOutgoing(const Outgoing &message, DWORD result) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message.ticket) sendResults_[message.ticket] = result;
        if (message.updateReply) {
            if (result == ERROR_SUCCESS) ++updateReplies_;
            std::uint16_t status = ReadU16(&message.data[4], LittleEndian());
            PushEvent({BoardEventKind::UpdateReply, 0, message.channel, message.subchannel, 0,
                               static_cast<std::uint32_t>(message.data.size()), status});
        }
        PushEvent({BoardEventKind::BoardMessageDone, 0, message.channel, message.subchannel, 0,
                           static_cast<std::uint32_t>(message.data.size()), result});
    }
    changed_.notify_all();
}

void SimulatedBoard::SenderMain() {
    for (;;) {
        HANDLE waits[2] = {stopEvent_.Get(), outgoingEvent_.Get()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        Outgoing message;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (outgoing_.empty()) {
                ::ResetEvent(outgoingEvent_.Get());
                continue;
            }
            message = std::move(outgoing_.front());
            outgoing_.pop_front();
        }
        HANDLE linkWaits[2] = {stopEvent_.Get(), linkUpEvent_.Get()};
        if (::WaitForMultipleObjects(2, linkWaits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            FinishOutgoing(message, kSendStopped);
            return;
        }
        if (message.delayMs && WaitStop(message.delayMs)) {
            FinishOutgoing(message, kSendStopped);
            return;
        }
        if (message.writesFlash) {
            std::function<void(const std::vector<std::uint8_t> &)> handler;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                handler = flashHandler_;
            }
            if (handler) handler(message.flashImage);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                flash_ = std::move(message.flashImage);
                ++flashWrites_;
                PushEvent({BoardEventKind::FlashWritten, 0, 0, 0, 0, static_cast<std::uint32_t>(flash_.size()), 0});
            }
            changed_.notify_all();
        }
        bool staleReply = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            staleReply = message.updateReply && message.session != session_;
        }
        // A reply to a host that has gone since it asked is not sent to the next one.
        FinishOutgoing(message, staleReply ? kSendConnectionLost : SendBoardMessage(message));
        if (WaitStop(0)) return;
    }
}

DWORD SimulatedBoard::SendBoardMessage(const Outgoing &message) {
    std::uint32_t session;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session = session_;
    }
    const bool silent = message.channel == kSilentChannel;
    for (const PacketSlice &slice : SliceMessage(message.data.size(), config_.maxPayload)) {
        LinkHeaderBytes header = MakeDataHeader(message.channel, message.subchannel, slice.sequence,
                                                static_cast<std::uint32_t>(slice.size), LittleEndian());
        const std::uint8_t *payload = message.data.data() + slice.offset;
        std::uint32_t unanswered = 0, refusals = 0, sends = 0;
        for (;;) {
            ++sends;
            FaultDecision fault = Decide(FaultPoint::BoardPacket);
            if (fault.action == FaultAction::Disconnect) {
                Disconnect();
                return kSendConnectionLost;
            }
            if (fault.action == FaultAction::Unplug) {
                Unplug();
                return kSendConnectionLost;
            }
            if (fault.action == FaultAction::Stall) StallReading(fault.delayMs);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ::ResetEvent(answerEvent_.Get());
                expecting_ = !silent;
                expectedChannel_ = message.channel;
                expectedSubchannel_ = message.subchannel;
                expectedSequence_ = slice.sequence;
                answerLetter_ = 0;
                if (session_ != session) return kSendConnectionLost;
            }
            DWORD error = ERROR_SUCCESS;
            switch (fault.action) {
            case FaultAction::DropHeader: break;
            case FaultAction::DropPayload: error = WritePacket(header.data(), nullptr, 0, 0, session); break;
            case FaultAction::DelayPayload:
                error = WritePacket(header.data(), payload, slice.size, fault.delayMs, session);
                break;
            case FaultAction::DuplicatePacket:
                error = WritePacket(header.data(), payload, slice.size, 0, session);
                if (!error) error = WritePacket(header.data(), payload, slice.size, 0, session);
                break;
            case FaultAction::DelayHeader:
                if (WaitStop(fault.delayMs)) error = ERROR_OPERATION_ABORTED;
                else error = WritePacket(header.data(), payload, slice.size, 0, session);
                break;
            case FaultAction::DuplicateHeader:
                error = WritePacket(header.data(), nullptr, 0, 0, session);
                if (!error) error = WritePacket(header.data(), payload, slice.size, 0, session);
                break;
            default: error = WritePacket(header.data(), payload, slice.size, 0, session); break;
            }
            if (error) {
                std::lock_guard<std::mutex> lock(mutex_);
                expecting_ = false;
                return error == ERROR_OPERATION_ABORTED ? kSendStopped : kSendConnectionLost;
            }
            Record({BoardEventKind::BoardPacket, 'A', message.channel, message.subchannel, slice.sequence,
                    static_cast<std::uint32_t>(slice.size), sends});
            if (silent) break;  // a host never answers on this channel

            HANDLE waits[2] = {stopEvent_.Get(), answerEvent_.Get()};
            DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, AnswerWaitMs());
            std::uint8_t letter;
            bool sessionLost;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                letter = answerLetter_;
                expecting_ = false;
                sessionLost = session_ != session;
            }
            if (waited == WAIT_OBJECT_0) return kSendStopped;
            if (sessionLost) return kSendConnectionLost;
            if (waited == WAIT_OBJECT_0 + 1 && letter == 'a') break;
            if (waited == WAIT_OBJECT_0 + 1 && letter == 'n') {
                if (++refusals >= SendsPerPacket()) return kSendGaveUp;
                unanswered = 0;
            } else if (++unanswered >= SendsPerPacket()) {
                return kSendGaveUp;
            }
        }
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- test side

bool SimulatedBoard::WaitClientConnected(DWORD timeoutMs) {
    return connectedEvent_ && ::WaitForSingleObject(connectedEvent_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool SimulatedBoard::WaitListening(DWORD timeoutMs) {
    return listeningEvent_ && ::WaitForSingleObject(listeningEvent_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool SimulatedBoard::WaitLinkUp(DWORD timeoutMs) {
    return linkUpEvent_ && ::WaitForSingleObject(linkUpEvent_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool SimulatedBoard::WaitHostMessage(HostMessage *message, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !hostMessages_.empty(); }))
        return false;
    *message = std::move(hostMessages_.front());
    hostMessages_.pop_front();
    return true;
}

std::uint32_t SimulatedBoard::QueueMessage(std::uint8_t channel, std::uint8_t subchannel,
                                           std::vector<std::uint8_t> data) {
    std::lock_guard<std::mutex> lock(mutex_);
    Outgoing message;
    message.ticket = nextTicket_++;
    message.channel = channel;
    message.subchannel = subchannel;
    message.data = std::move(data);
    std::uint32_t ticket = message.ticket;
    if (!started_) {
        sendResults_[ticket] = kSendStopped;
        return ticket;
    }
    outgoing_.push_back(std::move(message));
    ::SetEvent(outgoingEvent_.Get());
    return ticket;
}

DWORD SimulatedBoard::WaitMessageSent(std::uint32_t ticket, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return sendResults_.count(ticket) != 0; }))
        return kSendPending;
    return sendResults_[ticket];
}

std::vector<std::uint8_t> SimulatedBoard::FlashImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

std::uint32_t SimulatedBoard::FlashWrites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flashWrites_;
}

bool SimulatedBoard::WaitFlashWrites(std::uint32_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return flashWrites_ >= count; });
}

bool SimulatedBoard::WaitUpdateReplies(std::uint32_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return updateReplies_ >= count; });
}

void SimulatedBoard::StallReading(DWORD durationMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stallRequestMs_ = durationMs ? durationMs : 1;
        resumeRequested_ = false;
    }
    if (controlEvent_) ::SetEvent(controlEvent_.Get());
}

void SimulatedBoard::ResumeReading() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stallRequestMs_ = 0;
        resumeRequested_ = true;
    }
    if (controlEvent_) ::SetEvent(controlEvent_.Get());
}

DWORD SimulatedBoard::RequestDrop(DWORD timeoutMs) {
    if (!started_) return ERROR_NOT_READY;
    if (reader_.IsCurrent()) return ERROR_INVALID_THREAD_ID;  // the reader drops by ending its session
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::uint32_t target = drops_ + 1;
        dropRequested_ = true;
        ::SetEvent(controlEvent_.Get());
        if (!changed_.wait_until(lock, deadline, [&] { return drops_ >= target; })) return ERROR_TIMEOUT;
    }
    // Done when the board could take the next open, as a board back from a reset.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return WaitListening(left.count() > 0 ? static_cast<DWORD>(left.count()) : 0) ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD SimulatedBoard::Disconnect(DWORD timeoutMs) { return RequestDrop(timeoutMs); }

void SimulatedBoard::Unlist() {
    {
        std::lock_guard<std::mutex> plug(plugMutex_);
        link_.Remove();
        if (listed_) SetBoardInterfacePresent(config_.instance, false);
    }
    Record({BoardEventKind::Unplugged, 0, 0, 0, 0, 0, 0});
}

// As on a real removal the interface is already absent and the stream broken when the
// platform reports the removal as complete.
void SimulatedBoard::NotifyUnplug() {
    BroadcastInterfaceRemoval(InterfacePath());
    std::function<void(const std::string &)> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = unplugHandler_;
    }
    if (handler) handler(InterfacePath());
}

DWORD SimulatedBoard::Unplug(DWORD timeoutMs) {
    if (!started_) return ERROR_NOT_READY;
    Unlist();
    DWORD error = RequestDrop(timeoutMs);
    NotifyUnplug();
    return error;
}

DWORD SimulatedBoard::Replug() {
    if (!started_) return ERROR_NOT_READY;
    DWORD error;
    {
        std::lock_guard<std::mutex> plug(plugMutex_);
        error = link_.Exists() ? ERROR_SUCCESS : link_.Create(InterfacePath(), pipeName_);
        if (!error && listed_) error = SetBoardInterfacePresent(config_.instance, true);
    }
    if (!error) Record({BoardEventKind::Replugged, 0, 0, 0, 0, 0, 0});
    return error;
}

void SimulatedBoard::SetUnplugHandler(std::function<void(const std::string &)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugHandler_ = std::move(handler);
}

void SimulatedBoard::SetFlashWrittenHandler(std::function<void(const std::vector<std::uint8_t> &)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    flashHandler_ = std::move(handler);
}

std::vector<BoardEvent> SimulatedBoard::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<FaultRecord> SimulatedBoard::FaultLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.Log();
}

}  // namespace boardsim
