// A deliberately small host for driving the simulated board in tests: it opens
// the interface path, writes hand-built headers and reads what comes back, every
// wait bounded. Its byte layouts are spelled out here on their own, not taken
// from the board's codec, so a byte-order slip in either shows up.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace rawhost {

struct Header {
    std::uint8_t bytes[16] = {};
    std::uint8_t Kind() const { return bytes[0]; }
    std::uint8_t Letter() const { return bytes[1]; }
    std::uint8_t Channel() const { return bytes[2]; }
    std::uint8_t Subchannel() const { return bytes[3]; }
    std::uint32_t Sequence(bool littleEndian) const;
    std::uint32_t Length(bool littleEndian) const;
};

std::uint32_t Get32(const std::uint8_t *b, bool littleEndian);
void Put32(std::uint8_t *b, std::uint32_t v, bool littleEndian);
std::uint16_t Get16(const std::uint8_t *b, bool littleEndian);
void Put16(std::uint8_t *b, std::uint16_t v, bool littleEndian);

// 'T','B',0xFF,1, status, last_flag, length, checksum, then the chunk.
std::vector<std::uint8_t> UpdatePacket(const std::vector<std::uint8_t> &chunk, bool last, std::uint32_t checksum,
                                       bool littleEndian);

class Host {
public:
    // 0 or the open's error.
    DWORD Open(const std::string &path);
    void Close() { file_.Reset(); }
    bool IsOpen() const { return static_cast<bool>(file_); }

    // 0, ERROR_TIMEOUT when not done within timeoutMs (the transfer is cancelled), or the error.
    DWORD Write(const void *data, std::size_t count, DWORD timeoutMs = 3000);
    DWORD Read(void *data, std::size_t count, DWORD timeoutMs);

    DWORD SendConnect();
    DWORD SendData(std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                   const std::vector<std::uint8_t> &payload, bool littleEndian);
    DWORD SendAnswer(std::uint8_t letter, std::uint8_t channel, std::uint8_t subchannel, std::uint32_t sequence,
                     bool littleEndian);
    DWORD ReadHeader(Header *header, DWORD timeoutMs) { return Read(header->bytes, 16, timeoutMs); }
    // Reads headers until one with the letter comes; counts the others in *skipped.
    DWORD ReadUntilLetter(std::uint8_t letter, Header *header, DWORD timeoutMs, int *skipped = nullptr);

    // Connects and returns the reply.
    DWORD Connect(Header *reply, DWORD timeoutMs = 3000);

    // Sends a message cut into packets as a host does, each packet sent again
    // after 'n', 'e' or answerWaitMs without answer, up to `attempts` sends.
    // Answers for other packets are skipped. 0 or ERROR_TIMEOUT or the I/O error.
    DWORD DeliverMessage(std::uint8_t channel, std::uint8_t subchannel, const std::vector<std::uint8_t> &data,
                      std::uint32_t maxPayload, bool littleEndian, DWORD answerWaitMs = 3000, int attempts = 6);

    // Receives one board data packet (header and payload), answering it with `answer` (0: none).
    DWORD ReceivePacket(Header *header, std::vector<std::uint8_t> *payload, bool littleEndian, std::uint8_t answer,
                        DWORD timeoutMs = 3000);
    // Receives a whole board message, acknowledging every packet.
    DWORD ReceiveMessage(std::uint8_t *channel, std::uint8_t *subchannel, std::vector<std::uint8_t> *data,
                         bool littleEndian, DWORD timeoutMs = 3000);

    // One update exchange: the packet as one link packet, its 'a', then the board's
    // 16-byte reply, acknowledged. *status is the reply's status.
    DWORD UpdateExchange(const std::vector<std::uint8_t> &packet, bool littleEndian, std::uint16_t *status,
                         std::vector<std::uint8_t> *reply = nullptr, DWORD replyWaitMs = 5000);

private:
    DWORD Transfer(bool write, void *data, std::size_t count, DWORD timeoutMs);
    UniqueHandle file_;
    UniqueHandle event_ = MakeEvent(true, false);
};

}  // namespace rawhost
