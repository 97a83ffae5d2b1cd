// What the link says to the board: the connect exchange on the caller's thread,
// and the three workers that serve a running link. The ReadWorker reads every
// packet and answers data packets, the SendWorker cuts queued messages into
// packets and waits for their answers, the AssembleWorker puts received packets
// together into the callers' buffers.
#include "UsbLink.h"
#include <algorithm>
#include <cstring>

namespace wirrow {
namespace {

constexpr DWORD kConnectWriteTimeoutMs = 3000;
// Failed header reads in a row, for reasons other than a lost device, after which the device is
// taken as unusable rather than read again forever.
constexpr int kFailedHeaderReadsInARow = 64;
// Copies of a data header passed over before its payload; more are taken as payload.
constexpr int kHeaderCopiesPassedOver = 4;
// How long the rest of a possible header copy is waited for after a short payload that reads like
// the header's start. Only such payloads pay it, and only when nothing else follows them.
constexpr DWORD kHeaderCopyRestWaitMs = 50;

DWORD SecondsToMs(uint8_t seconds) { return static_cast<DWORD>(seconds) * 1000; }

}  // namespace

// ---- Connect exchange ------------------------------------------------------------------------

bool UsbLink::ConnectExchange(uint32_t channel, const uint8_t *subchannel, const void *request, void *reply) {
    channel_ = static_cast<uint8_t>(channel);
    if (state_.load() >= LinkState::Negotiated) {
        if (subchannel) subchannel_ = *subchannel;
        return true;
    }
    LinkHeader connectRequest = BuildConnectRequest();
    if (request) std::memcpy(&connectRequest, request, kHeaderSize);
    // No worker runs yet: the exchange writes without the write lock, and its transfers end on the
    // connect's own cancel (a disconnect or close from another thread) instead of the link's stop.
    const TransferGuard guard{&device_, connectCancel_.Get(), &UsbLink::OnDeviceLost, this};
    LinkHeader answer{};
    uint32_t failed = 0;
    int strays = 0;
    ULONGLONG attemptEnd = 0;
    while (failed < attempts_) {
        TransferOutcome outcome = TimedTransfer(guard, TransferDirection::Write, &connectRequest, kHeaderSize,
                                                writeIo_, kConnectWriteTimeoutMs, true);
        if (outcome == TransferOutcome::Done) {
            // The reply time belongs to the attempt, however many stray headers arrive in it: a
            // board that trickles packets left over from an earlier session cannot stretch it.
            const ULONGLONG now = ::GetTickCount64();
            if (strays == 0) attemptEnd = now + SecondsToMs(replyTimeout_);
            outcome = now <= attemptEnd ? TimedTransfer(guard, TransferDirection::Read, &answer, kHeaderSize, headerIo_,
                                                        static_cast<DWORD>(attemptEnd - now), false)
                                        : TransferOutcome::TimedOut;
        }
        if (outcome == TransferOutcome::Stopped || outcome == TransferOutcome::DeviceGone) break;
        if (outcome != TransferOutcome::Done) {
            ++failed;
            strays = 0;
            continue;
        }
        if (!IsValidHeader(answer) || answer.letter != letters::kConnectReply) {
            // Packets left over from an earlier session are drained without using up an attempt; a
            // board that answers with nothing else uses one up after a bounded number of them.
            if (++strays >= kStrayHeadersPerConnectAttempt) {
                ++failed;
                strays = 0;
            }
            continue;
        }
        const LinkParameters parameters = ParseConnectReply(answer);
        attempts_ = parameters.attempts;
        packetTimeout_ = parameters.packetTimeout;
        replyTimeout_ = parameters.replyTimeout;
        linkFlags_ = parameters.linkFlags;
        // Only an open link is negotiated: a removal during the exchange has closed it for good.
        LinkState opened = LinkState::Opened;
        if (!state_.compare_exchange_strong(opened, LinkState::Negotiated)) break;
        maxPayload_ = parameters.maxPayload;
        if (subchannel) subchannel_ = *subchannel;
        if (reply) std::memcpy(reply, &answer, kHeaderSize);
        return true;
    }
    return false;
}

// ---- Writes shared by the ReadWorker and the SendWorker --------------------------------------

// One write on writeIo, the caller holding the write lock: Done also when it failed for a reason
// that does not end the link (the answer wait then decides), else TimedOut, Stopped or DeviceGone.
TransferOutcome UsbLink::WriteAndWait(const void *data, DWORD count, DWORD timeoutMs) {
    const TransferOutcome written =
        TimedTransfer(Guard(), TransferDirection::Write, const_cast<void *>(data), count, writeIo_, timeoutMs, false);
    return written == TransferOutcome::Short || written == TransferOutcome::Failed ? TransferOutcome::Done : written;
}

bool UsbLink::SendAnswer(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence) {
    if (channel == kUnansweredChannel) return true;
    return WriteAnswer([&] {
        replyPacket_ = BuildHeader(letter, channel, subchannel, sequence, 0, LittleEndian());
        lastWriteWasReply_ = 1;
    });
}

// The ReadWorker's writes (answers and repeats): the write lock and the write, each within
// kAnswerWriteWaitMs, so a board that stops draining its pipe cannot hold the lock, and with it
// every send, for ever. An answer given up is asked for again by the board. False when the
// worker is to end (stopped, or the device is gone).
template <typename Prepare> bool UsbLink::WriteAnswer(Prepare prepare) {
    WriteLockHold writing(writeLock_, stop_, kAnswerWriteWaitMs);
    if (!writing.Held()) return writing.Outcome() == Waited::TimedOut;
    prepare();
    const TransferOutcome written = WriteAndWait(&replyPacket_, kHeaderSize, kAnswerWriteWaitMs);
    return written == TransferOutcome::Done || written == TransferOutcome::TimedOut;
}

// ---- ReadWorker ------------------------------------------------------------------------------

// Reads length bytes of payload: Done, TimedOut when they did not all come within the wait (the
// transfer is cancelled), Stopped or DeviceGone. A byte stream may hand the bytes over in parts;
// they are read until complete. arrived counts the bytes that came, whatever the outcome.
TransferOutcome UsbLink::ReadPayload(uint8_t *into, uint32_t length, DWORD waitMs, uint32_t &arrived) {
    const TransferGuard guard = Guard();
    arrived = 0;
    const DWORD start = ::GetTickCount();
    while (arrived < length) {
        DWORD remaining = INFINITE;
        if (waitMs != INFINITE) {
            DWORD elapsed = ::GetTickCount() - start;
            remaining = elapsed >= waitMs ? 0 : waitMs - elapsed;
        }
        const uint32_t left = length - arrived;
        DWORD moved = 0;
        const TransferOutcome read =
            TimedTransfer(guard, TransferDirection::Read, into + arrived, left, payloadIo_, remaining, false, &moved);
        // Bytes that came count as arrived, whatever the outcome.
        arrived += std::min<uint32_t>(moved, left);
        if (read == TransferOutcome::Stopped || read == TransferOutcome::DeviceGone) return read;
        // Part of it: read on, unless nothing at all was handed over. Anything else is refused (the
        // board sends the packet again) rather than read again forever.
        if (read != TransferOutcome::Done && (read != TransferOutcome::Short || moved == 0))
            return TransferOutcome::TimedOut;
    }
    return TransferOutcome::Done;
}

// Reads a data packet's payload, passing over copies of its header that come first: a board that
// sends the header again (it wrote it twice, or it resends the packet after its payload was lost)
// puts that copy where the payload was expected, and on a byte stream the copy would otherwise be
// taken for payload bytes and delivered.
//
// A payload of at least a header's size is a copy when its first 16 bytes equal the header
// (letter, address, sequence and length); a payload that starts with an exact copy of its own
// header is taken the same way. A shorter payload can only be a copy's first bytes: when it equals
// the start of the header, the copy's rest is asked for briefly. A board writes a header in one
// piece, so a real copy's rest is already there; when what comes is not that rest (or nothing
// comes), the payload was real and the bytes read belong to the next header (carry).
TransferOutcome UsbLink::ReadDataPayload(const LinkHeader &header, uint32_t length, DWORD waitMs, HeaderCarry &carry) {
    const auto *headerBytes = reinterpret_cast<const uint8_t *>(&header);
    uint8_t *payload = payloadBuffer_.get();
    uint32_t arrived = 0;
    TransferOutcome read = ReadPayload(payload, length, waitMs, arrived);
    for (int copies = 0; read == TransferOutcome::Done && copies < kHeaderCopiesPassedOver; ++copies) {
        if (std::memcmp(payload, headerBytes, std::min(length, kHeaderSize)) != 0) break;
        if (length >= kHeaderSize) {
            // The copy took the place of the payload's first bytes: the last 16 are still to come.
            std::memmove(payload, payload + kHeaderSize, length - kHeaderSize);
            read = ReadPayload(payload + length - kHeaderSize, kHeaderSize, waitMs, arrived);
            continue;
        }
        const uint32_t restSize = kHeaderSize - length;
        const TransferOutcome rest = ReadPayload(carry.bytes, restSize, kHeaderCopyRestWaitMs, carry.count);
        if (rest != TransferOutcome::Done && rest != TransferOutcome::TimedOut) return rest;
        if (carry.count < restSize || std::memcmp(carry.bytes, headerBytes + length, restSize) != 0) break;
        carry.count = 0;  // it was a copy: the payload itself follows
        read = ReadPayload(payload, length, waitMs, arrived);
    }
    return read;
}

void UsbLink::ReadWorker() {
    const DWORD payloadWait = (linkFlags_ & kFlagNoTimeouts) ? INFINITE : SecondsToMs(packetTimeout_);
    const bool littleEndian = LittleEndian();
    const TransferGuard guard = Guard();
    uint32_t lastSequence = kLastSequence;
    uint8_t lastChannel = 0;
    uint8_t lastSubchannel = 0;
    int failedInARow = 0;
    HeaderCarry carry;
    bool stopped = false;
    while (!stopped) {
        // Bytes read past a short payload start this header.
        LinkHeader header{};
        auto *headerBytes = reinterpret_cast<uint8_t *>(&header);
        std::memcpy(headerBytes, carry.bytes, carry.count);
        const TransferOutcome read = TimedTransfer(guard, TransferDirection::Read, headerBytes + carry.count,
                                                   kHeaderSize - carry.count, headerIo_, kNoTimeout, false);
        carry.count = 0;
        if (stop_.Raised() || read == TransferOutcome::DeviceGone) break;
        if (read != TransferOutcome::Done) {
            // Reads that complete with too few bytes or none count too: a board that completes
            // reads empty would otherwise keep this loop spinning.
            if (++failedInARow >= kFailedHeaderReadsInARow) break;
            continue;
        }
        failedInARow = 0;
        if (!IsValidHeader(header)) continue;
        const uint32_t sequence = ReadField(header.sequence, littleEndian);
        const uint32_t length = ReadField(header.length, littleEndian);
        const uint8_t channel = header.channel;
        const uint8_t subchannel = header.subchannel;
        switch (header.letter) {
        case letters::kData: {
            if (channel == 0 || subchannel == 0 || sequence == 0 || length > maxPayload_) break;
            const auto payload = length ? ReadDataPayload(header, length, payloadWait, carry) : TransferOutcome::Done;
            if (payload == TransferOutcome::TimedOut) {
                ::ClearCommError(device_.Handle(), nullptr, nullptr);
                stopped = !SendAnswer(letters::kRefuse, channel, subchannel, sequence);
                break;
            }
            if (payload != TransferOutcome::Done) {
                stopped = true;
                break;
            }
            const bool sameAddress = channel == lastChannel && subchannel == lastSubchannel;
            const SequenceVerdict verdict = JudgeSequence(sequence, lastSequence, sameAddress);
            if (verdict == SequenceVerdict::Drop) break;
            lastSequence = sequence;
            lastChannel = channel;
            lastSubchannel = subchannel;
            if (!SendAnswer(letters::kAck, channel, subchannel, sequence)) {
                stopped = true;
                break;
            }
            if (verdict == SequenceVerdict::Duplicate) break;
            // A full ring holds the board back: nothing more is read until a slot is free.
            if (ring_.WaitFree(stop_) != Waited::Ready) {
                stopped = true;
                break;
            }
            uint8_t *slot = ring_.WriteSlot();
            std::memcpy(slot, &header, kHeaderSize);
            std::memcpy(slot + kHeaderSize, payloadBuffer_.get(), length);
            ring_.Commit();
            break;
        }
        case letters::kAck:
        case letters::kRefuse:
            if (channel == 0 || subchannel == 0 || sequence == 0) break;
            sendQueue_.VisitFirstWithAddress(channel, subchannel, [&](SendRequest &request) {
                if (request.sequence != sequence) return;
                request.replyLetter = header.letter;
                request.answered = true;
            });
            break;
        case letters::kRepeat:
            if (lastWriteWasReply_ && replyPacket_.kind != 0) {  // an answer has been written
                stopped = !WriteAnswer([] {});
            } else {
                sendQueue_.VisitHead([](SendRequest &request) {
                    request.replyLetter = letters::kRepeat;
                    request.answered = true;
                });
            }
            break;
        default:
            break;  // valid, but nothing for the host to do
        }
    }
    // A reader that ends on its own leaves nobody to read the board: the link cannot go on.
    if (!stop_.Raised()) CloseDevice();
}

// ---- SendWorker ------------------------------------------------------------------------------

void UsbLink::SendWorker() {
    // Both fixed for the worker's lifetime from the board's flags.
    const bool waitsWithoutTimeouts = linkFlags_ == kFlagNoTimeouts;
    const DWORD answerWait = waitsWithoutTimeouts ? INFINITE : SecondsToMs(replyTimeout_);
    const uint32_t sendsPerPacket = waitsWithoutTimeouts ? 1 : attempts_;
    while (SendRequest *request = sendQueue_.WaitForHead(stop_))
        if (!ServeSend(request, answerWait, sendsPerPacket)) break;
    DrainSendQueue();
}

bool UsbLink::ServeSend(SendRequest *request, DWORD answerWait, uint32_t sendsPerPacket) {
    const bool littleEndian = LittleEndian();
    // A board that takes nothing in must not hold the send forever: a write that does not finish
    // within the answer wait (at least the connect write's 3 s) counts as an unanswered send.
    const DWORD writeWait = answerWait == INFINITE ? INFINITE : std::max<DWORD>(answerWait, kConnectWriteTimeoutMs);
    TransferOutcome result = TransferOutcome::Done;
    bool workerEnds = false;
    while (result == TransferOutcome::Done && request->sent < request->length) {
        const uint8_t *payload = request->data + request->sent;
        const uint32_t size = NextPayloadSize(request->length, request->sent, maxPayload_);
        request->sent += size;
        if (request->sent == request->length) {
            sendQueue_.WithLock([&] { request->sequence = kLastSequence; });
        }
        uint32_t tries = 0;
        uint32_t refusalsLeft = sendsPerPacket;
        // An answer matched before this packet's first write belongs to an earlier packet (a late
        // duplicate of an earlier message's answer with the same sequence): it must not count.
        sendQueue_.WithLock([&] {
            request->replyLetter = 0;
            request->answered = false;
        });
        for (;;) {
            // A write lock that a stuck write holds, like a write that does not finish, counts as
            // an unanswered send.
            const TransferOutcome written = WriteDataPacket(*request, payload, size, writeWait, littleEndian);
            if (written == TransferOutcome::Stopped || written == TransferOutcome::DeviceGone) {
                workerEnds = true;
                break;
            }
            bool timedOut = written == TransferOutcome::TimedOut;
            uint8_t letter = 0;
            if (!timedOut) {
                // Taken under the queue's lock, where the ReadWorker matches answers.
                const Waited answer = sendQueue_.WaitFor(stop_, answerWait, [&] {
                    if (!request->answered) return false;
                    request->answered = false;
                    letter = request->replyLetter;
                    return true;
                });
                if (answer == Waited::Stopped) {
                    workerEnds = true;
                    break;
                }
                timedOut = answer == Waited::TimedOut;
            }
            if (!timedOut) {
                if (letter == letters::kAck) {
                    // Under the queue's lock: a second answer to this packet that is matched before
                    // the step cannot wake the next packet.
                    sendQueue_.WithLock([&] {
                        ++request->sequence;
                        request->answered = false;
                    });
                    break;
                }
                if (letter == letters::kRefuse || letter == letters::kRepeat) {
                    if (refusalsLeft <= 1) {
                        result = TransferOutcome::TimedOut;
                        break;
                    }
                    --refusalsLeft;
                    tries = 1;
                } else {
                    ++tries;
                }
            } else {
                ++tries;
            }
            if (tries >= sendsPerPacket) {
                result = TransferOutcome::TimedOut;
                break;
            }
        }
        if (workerEnds) break;
    }
    if (workerEnds) result = TransferOutcome::DeviceGone;
    CompleteRequest(sendQueue_, sendDone_, request, result);
    return !workerEnds;
}

// One data packet: the write lock, then the header and the payload as two writes, the payload
// straight from the caller's buffer. Done, TimedOut when the lock or a write did not come within
// the wait, Stopped or DeviceGone.
TransferOutcome UsbLink::WriteDataPacket(const SendRequest &request, const uint8_t *payload, uint32_t size,
                                         DWORD writeWait, bool littleEndian) {
    WriteLockHold writing(writeLock_, stop_, writeWait);
    if (!writing.Held())
        return writing.Outcome() == Waited::TimedOut ? TransferOutcome::TimedOut : TransferOutcome::Stopped;
    lastWriteWasReply_ = 0;
    const LinkHeader header =
        BuildHeader(letters::kData, request.channel, request.subchannel, request.sequence, size, littleEndian);
    const TransferOutcome written = WriteAndWait(&header, kHeaderSize, writeWait);
    return written == TransferOutcome::Done ? WriteAndWait(payload, size, writeWait) : written;
}

// ---- AssembleWorker --------------------------------------------------------------------------

void UsbLink::AssembleWorker() {
    const bool littleEndian = LittleEndian();
    bool stopped = false;
    while (!stopped) {
        ReceiveRequest *request = receiveQueue_.WaitForHead(stop_);
        if (!request) break;
        for (;;) {
            // A packet is taken off the ring only by Consume: one left there waits for the next request.
            if (ring_.WaitFilled(stop_) != Waited::Ready) {
                CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::DeviceGone);
                stopped = true;
                break;
            }
            const uint8_t *slot = ring_.ReadSlot();
            LinkHeader header;
            std::memcpy(&header, slot, kHeaderSize);
            const uint32_t sequence = ReadField(header.sequence, littleEndian);
            const uint32_t length = ReadField(header.length, littleEndian);
            // A packet of another address never continues the message being put together (the
            // request's address is that of its packets so far): the message ended unfinished, as
            // when a new one begins, and the packet stays to start the next.
            if (request->received > 0 &&
                (header.channel != *request->channel || header.subchannel != *request->subchannel)) {
                CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::Unfinished);
                break;
            }
            *request->channel = header.channel;
            *request->subchannel = header.subchannel;
            if (uint64_t(request->received) + length > *request->length) {
                // The packet stays for the next request.
                if (request->received > 0) {
                    *request->length = request->received;
                    CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::Done);
                } else {
                    *request->length = length;
                    CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::NoRoom);
                }
                break;
            }
            if (sequence == 1 && request->received > 0) {
                CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::Unfinished);
                break;
            }
            std::memcpy(request->buffer + request->received, slot + kHeaderSize, length);
            request->received += length;
            ring_.Consume();
            if (sequence == kLastSequence) {
                *request->length = request->received;
                CompleteRequest(receiveQueue_, receiveDone_, request, TransferOutcome::Done);
                break;
            }
        }
    }
    DrainReceiveQueue();
}

}  // namespace wirrow
