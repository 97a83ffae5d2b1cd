#include "RawHost.h"
#include <chrono>

namespace rawhost {

std::uint32_t Get32(const std::uint8_t *b, bool le) {
    return le ? (b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24)
              : (b[3] | b[2] << 8 | b[1] << 16 | static_cast<std::uint32_t>(b[0]) << 24);
}

void Put32(std::uint8_t *b, std::uint32_t v, bool le) {
    std::uint8_t x[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    for (int i = 0; i < 4; ++i) b[i] = le ? x[3 - i] : x[i];
}

std::uint16_t Get16(const std::uint8_t *b, bool le) {
    return static_cast<std::uint16_t>(le ? (b[0] | b[1] << 8) : (b[1] | b[0] << 8));
}

void Put16(std::uint8_t *b, std::uint16_t v, bool le) {
    b[le ? 0 : 1] = static_cast<std::uint8_t>(v);
    b[le ? 1 : 0] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t Header::Sequence(bool le) const { return Get32(bytes + 4, le); }
std::uint32_t Header::Length(bool le) const { return Get32(bytes + 8, le); }

std::vector<std::uint8_t> UpdatePacket(const std::vector<std::uint8_t> &chunk, bool last, std::uint32_t checksum,
                                       bool le) {
    std::vector<std::uint8_t> packet(16 + chunk.size());
    packet[0] = 'T';
    packet[1] = 'B';
    packet[2] = 0xFF;
    packet[3] = 1;
    Put16(&packet[6], last ? 0xFFFF : 0, le);
    Put32(&packet[8], static_cast<std::uint32_t>(chunk.size()), le);
    Put32(&packet[12], last ? checksum : 0, le);
    std::copy(chunk.begin(), chunk.end(), packet.begin() + 16);
    return packet;
}

DWORD Host::Open(const std::string &path) {
    file_.Reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
    return file_ ? ERROR_SUCCESS : ::GetLastError();
}

DWORD Host::Transfer(bool write, void *data, std::size_t count, DWORD timeoutMs) {
    if (!file_) return ERROR_INVALID_HANDLE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.Get();
        auto *bytes = static_cast<std::uint8_t *>(data) + done;
        DWORD size = static_cast<DWORD>(count - done);
        BOOL started = write ? ::WriteFile(file_.Get(), bytes, size, nullptr, &overlapped)
                             : ::ReadFile(file_.Get(), bytes, size, nullptr, &overlapped);
        DWORD moved = 0;
        if (!started) {
            DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return error;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
            if (::WaitForSingleObject(event_.Get(), wait) != WAIT_OBJECT_0) {
                ::CancelIoEx(file_.Get(), &overlapped);
                ::GetOverlappedResult(file_.Get(), &overlapped, &moved, TRUE);
                return ERROR_TIMEOUT;
            }
        }
        if (!::GetOverlappedResult(file_.Get(), &overlapped, &moved, FALSE)) return ::GetLastError();
        done += moved;
    }
    return ERROR_SUCCESS;
}

DWORD Host::Write(const void *data, std::size_t count, DWORD timeoutMs) {
    return Transfer(true, const_cast<void *>(data), count, timeoutMs);
}

DWORD Host::Read(void *data, std::size_t count, DWORD timeoutMs) { return Transfer(false, data, count, timeoutMs); }

DWORD Host::SendConnect() {
    const std::uint8_t request[16] = {'S', 'C', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    return Write(request, sizeof(request));
}

DWORD Host::SendData(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                     const std::vector<std::uint8_t> &payload, bool le) {
    std::uint8_t header[16] = {'S', 'A', channel, subchannel};
    Put32(header + 4, sequence, le);
    Put32(header + 8, static_cast<std::uint32_t>(payload.size()), le);
    DWORD error = Write(header, sizeof(header));
    if (!error && !payload.empty()) error = Write(payload.data(), payload.size());
    return error;
}

DWORD Host::SendAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                       bool le) {
    std::uint8_t header[16] = {'s', letter, channel, subchannel};
    Put32(header + 4, sequence, le);
    return Write(header, sizeof(header));
}

DWORD Host::ReadUntilLetter(std::uint8_t letter, Header *header, DWORD timeoutMs, int *skipped) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ERROR_TIMEOUT;
        DWORD error = ReadHeader(header, static_cast<DWORD>(left.count()));
        if (error) return error;
        if (header->Letter() == letter) return ERROR_SUCCESS;
        if (skipped) ++*skipped;
    }
}

DWORD Host::Connect(Header *reply, DWORD timeoutMs) {
    DWORD error = SendConnect();
    return error ? error : ReadUntilLetter('c', reply, timeoutMs);
}

DWORD Host::DeliverMessage(std::uint8_t channel, std::uint8_t subchannel, const std::vector<std::uint8_t> &data,
                        std::uint32_t maxPayload, bool le, DWORD answerWaitMs, int attempts) {
    std::size_t offset = 0;
    std::uint32_t sequence = 1;
    do {
        std::size_t size = std::min<std::size_t>(data.size() - offset, maxPayload);
        bool last = offset + size == data.size();
        std::uint32_t wireSequence = last ? 0xFFFFFFFFu : sequence;
        std::vector<std::uint8_t> payload(data.begin() + offset, data.begin() + offset + size);
        bool taken = false;
        for (int send = 0; send < attempts && !taken; ++send) {
            DWORD error = SendData(channel, subchannel, wireSequence, payload, le);
            if (error) return error;
            // Wait for this packet's answer; skip answers that belong to others.
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerWaitMs);
            for (;;) {
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) break;
                Header answer;
                error = ReadHeader(&answer, static_cast<DWORD>(left.count()));
                if (error == ERROR_TIMEOUT) break;
                if (error) return error;
                if (answer.Letter() == 'e') break;  // refusal of the packet in flight
                if ((answer.Letter() == 'a' || answer.Letter() == 'n') && answer.Channel() == channel &&
                    answer.Subchannel() == subchannel && answer.Sequence(le) == wireSequence) {
                    taken = answer.Letter() == 'a';
                    break;
                }
            }
        }
        if (!taken) return ERROR_TIMEOUT;
        offset += size;
        ++sequence;
    } while (offset < data.size());
    return ERROR_SUCCESS;
}

DWORD Host::ReceivePacket(Header *header, std::vector<std::uint8_t> *payload, bool le, std::uint8_t answer,
                          DWORD timeoutMs) {
    DWORD error = ReadUntilLetter('A', header, timeoutMs);
    if (error) return error;
    payload->assign(header->Length(le), 0);
    if (!payload->empty() && (error = Read(payload->data(), payload->size(), timeoutMs)) != 0) return error;
    if (answer) error = SendAnswer(answer, header->Channel(), header->Subchannel(), header->Sequence(le), le);
    return error;
}

DWORD Host::ReceiveMessage(std::uint8_t *channel, std::uint8_t *subchannel, std::vector<std::uint8_t> *data,
                           bool le, DWORD timeoutMs) {
    data->clear();
    for (;;) {
        Header header;
        std::vector<std::uint8_t> payload;
        DWORD error = ReceivePacket(&header, &payload, le, 'a', timeoutMs);
        if (error) return error;
        *channel = header.Channel();
        *subchannel = header.Subchannel();
        data->insert(data->end(), payload.begin(), payload.end());
        if (header.Sequence(le) == 0xFFFFFFFFu) return ERROR_SUCCESS;
    }
}

DWORD Host::UpdateExchange(const std::vector<std::uint8_t> &packet, bool le, std::uint16_t *status,
                           std::vector<std::uint8_t> *reply, DWORD replyWaitMs) {
    DWORD error = DeliverMessage(66, 1, packet, static_cast<std::uint32_t>(packet.size()), le);
    if (error) return error;
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> data;
    if ((error = ReceiveMessage(&channel, &subchannel, &data, le, replyWaitMs)) != 0) return error;
    if (channel != 66 || subchannel != 1 || data.size() != 16) return ERROR_INVALID_DATA;
    *status = Get16(&data[4], le);
    if (reply) *reply = data;
    return ERROR_SUCCESS;
}

}  // namespace rawhost
