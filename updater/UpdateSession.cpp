#include "UpdateSession.h"
#include "BoardInterfaceGuid.h"
#include "BoardInterfaces.h"
#include "ImageHeader.h"
#include "FileRead.h"
#include "Mutex.h"
#include "ReplyDeadline.h"
#include "UniqueHandle.h"
#include "UpdatePacket.h"
#include <windows.h>
#include <setupapi.h>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

namespace {

// Status texts; the last one shown is also the closing message.
const char kSearchingTarget[] = "Searching target...";
const char kNoTargetFound[] = "No target found.";
const char kConnectingTarget[] = "Connecting target ...";
const char kCannotOpenTarget[] = "Can't open target.";
const char kCannotConnectTarget[] = "Can't connect target.";
const char kImageFileNotFound[] = "Firmware image file not found.";
const char kImageFileUnreadable[] = "Failed to read the image file.";
const char kImageFileTooLarge[] = "The image file is too large.";
const char kUnusablePacketSize[] = "The target reported an unusable packet size.";
const char kMemoryAllocationFailed[] = "Memory allocation failed.";
const char kDownloading[] = "Downloading the image file...";
const char kBurningFlash[] = "Burning flash, please wait...";
const char kSendFailed[] = "Failed to send image data to the board. Error code is %u";
const char kReceiveFailed[] = "Failed to receive the board's reply. Error code is %u";
const char kReplyIncomplete[] = "The board's reply was incomplete.";
const char kReplyOutOfStep[] = "The board's reply belonged to no packet sent.";
const char kBoardRefused[] = "Failed to download image file to the board. Error code is %u";
const char kSucceeded[] = "Succeeded updating the firmware.";
const char kInterrupted[] = "The update was interrupted; the board was disconnected.";
const char kBoardSilent[] = "The board did not answer within %s; it was disconnected.";

constexpr uint32_t kProgressAtLastAcknowledgement = 30;
constexpr uint32_t kProgressDone = 100;
// Packet sizes are 32-bit: the payload plus one packet header must fit.
constexpr uint64_t kLargestPayload = 0xFFFFFFFFu - kUpdatePacketHeaderSize;

std::string WithCode(const char *format, unsigned code) {
    char text[128];
    std::snprintf(text, sizeof(text), format, code);
    return text;
}

std::string WithText(const char *format, const std::string &insert) {
    char text[160];
    std::snprintf(text, sizeof(text), format, insert.c_str());
    return text;
}

std::string Duration(DWORD milliseconds) {
    char text[48];
    if (milliseconds == 1000)
        std::snprintf(text, sizeof(text), "1 second");
    else if (milliseconds % 1000 == 0)
        std::snprintf(text, sizeof(text), "%lu seconds", static_cast<unsigned long>(milliseconds / 1000));
    else
        std::snprintf(text, sizeof(text), "%.1f seconds", milliseconds / 1000.0);
    return text;
}

UpdateResult Ending(UpdateOutcome outcome, std::string message, uint32_t code = 0) {
    UpdateResult result;
    result.outcome = outcome;
    result.code = code;
    result.message = std::move(message);
    return result;
}

// The open connection to the board; disconnected and closed when the session
// is done with it, whatever the outcome. An interrupt reaches it until then.
class BoardConnection {
public:
    BoardConnection(const CommFunctions &comm, HCOMM handle, SessionInterrupt &interrupt) : interrupt_(interrupt) {
        interrupt_.Attach(comm, handle);
    }
    ~BoardConnection() { interrupt_.CloseConnection(); }
    BoardConnection(const BoardConnection &) = delete;
    BoardConnection &operator=(const BoardConnection &) = delete;

private:
    SessionInterrupt &interrupt_;
};

class UpdateRun {
public:
    UpdateRun(UpdateView &view, const CommFunctions &comm, SessionInterrupt *interrupt, const ReplyTimeouts &timeouts)
        : view_(view), comm_(comm), interrupt_(interrupt ? *interrupt : ownInterrupt_), timeouts_(timeouts) {}

    UpdateResult Run(const TargetFinder &findTargets) {
        view_.EnableButtons(false);
        Show(kSearchingTarget);
        UpdateResult result;
        try {
            std::vector<std::string> targets;
            if (findTargets(targets) == 0 || targets.empty()) {
                result = Ending(UpdateOutcome::NoTarget, kNoTargetFound);
            } else {
                // With several boards present only the first one found is updated.
                Show(kConnectingTarget);
                result = UpdateTarget(targets.front());
            }
        } catch (const std::bad_alloc &) {
            // The connection, file and buffer have been released on the way out.
            result = Ending(UpdateOutcome::OutOfMemory, kMemoryAllocationFailed);
        }
        status_ = result.message;
        view_.ShowClosingStatus(status_);
        view_.ShowMessage(status_);
        view_.EnableButtons(true);
        return result;
    }

private:
    void Show(const std::string &text) {
        status_ = text;
        view_.ShowStatus(text);
    }

    bool Interrupted() const { return interrupt_.Interrupted(); }

    UpdateResult UpdateTarget(const std::string &path) {
        if (Interrupted()) return Ending(UpdateOutcome::Interrupted, kInterrupted);
        HCOMM handle = nullptr;
        const CommResult opened = comm_.open(path.c_str(), 0, &handle, nullptr, COMM_ROUTER_PORT);
        if (opened != COMM_SUCCESS) return Ending(UpdateOutcome::CannotOpen, kCannotOpenTarget, opened);
        BoardConnection connection(comm_, handle, interrupt_);
        const uint8_t subchannel = COMM_UPDATER_SUBCHANNEL;
        const CommResult connected = comm_.connect(handle, COMM_UPDATER_CHANNEL, &subchannel, nullptr, nullptr);
        if (Interrupted()) return Ending(UpdateOutcome::Interrupted, kInterrupted);
        if (connected != COMM_SUCCESS) return Ending(UpdateOutcome::CannotConnect, kCannotConnectTarget, connected);
        // Made after the connection, so it goes first: a cut that is running ends before the close.
        ReplyDeadline deadline([this] { interrupt_.CutConnection(); });
        if (!deadline.Ready()) return Ending(UpdateOutcome::OutOfMemory, kMemoryAllocationFailed);
        UpdateResult result = SendImage(handle, deadline);
        // A transfer that failed because of the interrupt's disconnect is the interrupt's doing.
        if (result.outcome != UpdateOutcome::Succeeded && Interrupted())
            return Ending(UpdateOutcome::Interrupted, kInterrupted);
        return result;
    }

    UpdateResult SendImage(HCOMM handle, ReplyDeadline &deadline) {
        UniqueHandle file(::CreateFileA(view_.ImagePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return Ending(UpdateOutcome::ImageUnreadable, kImageFileNotFound);

        // The header was checked when the image was selected; the board gets the payload alone.
        uint8_t header[kImageHeaderSize];
        if (!ReadExactly(file.Get(), header, sizeof(header)))
            return Ending(UpdateOutcome::ImageUnreadable, kImageFileUnreadable);
        LARGE_INTEGER fileLength{};
        if (!::GetFileSizeEx(file.Get(), &fileLength) || fileLength.QuadPart < static_cast<LONGLONG>(kImageHeaderSize))
            return Ending(UpdateOutcome::ImageUnreadable, kImageFileUnreadable);
        const uint64_t payloadLength = static_cast<uint64_t>(fileLength.QuadPart) - kImageHeaderSize;
        if (payloadLength > kLargestPayload) return Ending(UpdateOutcome::ImageUnreadable, kImageFileTooLarge);
        const uint32_t total = static_cast<uint32_t>(payloadLength);

        uint32_t maxData = 0;
        if (comm_.getOption(handle, COMM_OPT_MAX_PAYLOAD, &maxData) != COMM_SUCCESS ||
            maxData <= kUpdatePacketHeaderSize)
            return Ending(UpdateOutcome::LinkFailed, kUnusablePacketSize);
        uint32_t hostOrder = 1;
        if (comm_.getOption(handle, COMM_OPT_HOST_ORDER, &hostOrder) != COMM_SUCCESS) hostOrder = 1;
        const BoardByteOrder order = BoardByteOrderFromOption(hostOrder);

        const uint32_t packetSize = total + kUpdatePacketHeaderSize < maxData ? total + kUpdatePacketHeaderSize : maxData;
        std::unique_ptr<uint8_t[]> packet(new (std::nothrow) uint8_t[packetSize]);
        if (!packet) return Ending(UpdateOutcome::OutOfMemory, kMemoryAllocationFailed);
        auto *packetHeader = reinterpret_cast<UpdatePacketHeader *>(packet.get());
        uint8_t *chunk = packet.get() + kUpdatePacketHeaderSize;
        const uint32_t largestChunk = packetSize - kUpdatePacketHeaderSize;

        Show(kDownloading);
        uint32_t remaining = total;
        uint32_t sum = 0;
        ReplyMatcher replies;
        while (remaining > 0) {
            if (Interrupted()) return Ending(UpdateOutcome::Interrupted, kInterrupted);
            const uint32_t length = remaining < largestChunk ? remaining : largestChunk;
            remaining -= length;
            const bool last = remaining == 0;
            // A file that changed since it was checked must not send stale buffer bytes.
            if (!ReadExactly(file.Get(), chunk, length))
                return Ending(UpdateOutcome::ImageUnreadable, kImageFileUnreadable);
            sum = AddToPayloadSum(sum, chunk, length);
            EncodeUpdatePacketHeader(*packetHeader, last, length, sum, order);
            if (last) Show(kBurningFlash);

            const DWORD replyWaitMs = last ? timeouts_.lastChunkMs : timeouts_.chunkMs;
            deadline.Arm(replyWaitMs);
            const CommResult sent = comm_.sendData(handle, packet.get(), length + kUpdatePacketHeaderSize,
                                                   COMM_UPDATER_CHANNEL, COMM_UPDATER_SUBCHANNEL);
            UpdatePacketHeader reply{};
            uint32_t replyLength = 0;
            // An undelivered packet gets no reply; waiting for one would never end.
            CommResult received = sent;
            ReplyMatcher::Match match = ReplyMatcher::Match::ThisPacket;
            while (received == COMM_SUCCESS) {
                replyLength = sizeof(reply);
                uint8_t replyChannel = 0, replySubchannel = 0;
                received = comm_.receiveData(handle, &reply, &replyLength, &replyChannel, &replySubchannel);
                if (received != COMM_SUCCESS || replyLength < sizeof(reply)) break;
                // A copy of the reply before is passed over; this packet's own reply follows it.
                match = replies.Classify(reply, *packetHeader);
                if (match != ReplyMatcher::Match::EarlierPacket) break;
            }
            // Whatever came back, a connection cut by the deadline is the silent board's doing.
            if (deadline.Disarm())
                return Ending(UpdateOutcome::BoardSilent, WithText(kBoardSilent, Duration(replyWaitMs)), ERROR_TIMEOUT);
            if (sent != COMM_SUCCESS) return Ending(UpdateOutcome::LinkFailed, WithCode(kSendFailed, sent), sent);
            if (received != COMM_SUCCESS)
                return Ending(UpdateOutcome::LinkFailed, WithCode(kReceiveFailed, received), received);
            if (match == ReplyMatcher::Match::NoPacketSent) return Ending(UpdateOutcome::LinkFailed, kReplyOutOfStep);
            uint16_t status = 0;
            switch (JudgeUpdateReply(reinterpret_cast<const uint8_t *>(&reply), replyLength, order, status)) {
            case UpdateReplyVerdict::Incomplete: return Ending(UpdateOutcome::LinkFailed, kReplyIncomplete);
            case UpdateReplyVerdict::Refused:
                return Ending(UpdateOutcome::BoardRefused, WithCode(kBoardRefused, status), status);
            case UpdateReplyVerdict::Accepted: break;
            }
            replies.Answered(*packetHeader);

            // 64-bit product: payloads above 143 MB would overflow 32 bits.
            view_.SetProgress(static_cast<unsigned>(static_cast<uint64_t>(total - remaining) *
                                                    kProgressAtLastAcknowledgement / total));
            view_.ShowBytesAcknowledged(total - remaining, total);
            if (last) {
                view_.SetProgress(kProgressDone);
                return Ending(UpdateOutcome::Succeeded, kSucceeded);
            }
        }
        // An empty payload: nothing to send; the status stays at the download notice.
        return Ending(UpdateOutcome::NothingToSend, status_);
    }

    UpdateView &view_;
    const CommFunctions &comm_;
    SessionInterrupt ownInterrupt_;  // the session's own, when its caller gives none
    SessionInterrupt &interrupt_;
    const ReplyTimeouts timeouts_;
    std::string status_;
};

}  // namespace

size_t FindTargets(std::vector<std::string> &paths) {
    // Device setup lists the board interface class alone in a fraction of a millisecond and every
    // class in tens of milliseconds. Both hold the same boards, but not always in the same order:
    // the listing of every class goes class by class and puts first a board whose device also has an
    // interface of a class it reaches earlier. So the board class alone answers when it finds one
    // board or none, and several boards come from the listing of every class, in its order.
    DeviceInfoSet boardClass = PresentInterfaces(&BoardInterfaceGuid);
    std::vector<std::string> found = BoardInterfacesOf(boardClass);
    if (!boardClass || found.size() > 1) found = BoardInterfacesOf(PresentInterfaces(nullptr));
    paths.insert(paths.end(), found.begin(), found.end());
    return found.size();
}

SessionInterrupt::SessionInterrupt() : closed_(MakeEvent(true, true)) {}

void SessionInterrupt::Interrupt() {
    interrupted_.store(true);
    CutConnection();
}

void SessionInterrupt::CutConnection() {
    MutexLock hold(lock_);
    // Ends a connect, send or receive that waits for the board; the session closes the handle.
    if (handle_) comm_->disconnect(handle_);
}

void SessionInterrupt::Attach(const CommFunctions &comm, HCOMM handle) {
    MutexLock hold(lock_);
    comm_ = &comm;
    handle_ = handle;
    ::ResetEvent(closed_.Get());
}

void SessionInterrupt::CloseConnection() {
    MutexLock hold(lock_);
    if (handle_) {
        comm_->disconnect(handle_);
        comm_->close(handle_);
    }
    comm_ = nullptr;
    handle_ = nullptr;
    ::SetEvent(closed_.Get());
}

UpdateResult RunUpdateSession(UpdateView &view, const CommFunctions &comm, const TargetFinder &findTargets,
                              SessionInterrupt *interrupt, const ReplyTimeouts &timeouts) {
    return UpdateRun(view, comm, interrupt, timeouts).Run(findTargets);
}
