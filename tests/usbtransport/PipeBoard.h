// A board played by the test itself: the server end of a named pipe that a device
// interface path opens, with blocking reads and writes of whole packets, so each
// test scripts exactly what the board says and checks exactly what the host wrote.
#pragma once
#include "BoardInterface.h"
#include "LinkHeader.h"
#include "UniqueHandle.h"
#include "UniqueName.h"
#include <windows.h>
#include <string>
#include <vector>

class PipeBoard {
public:
    explicit PipeBoard(const std::string &instance);
    PipeBoard(const PipeBoard &) = delete;
    PipeBoard &operator=(const PipeBoard &) = delete;

    bool Ready() const { return ready_; }
    const std::string &Path() const { return path_; }

    // Waits for the host to open the device.
    bool AcceptHost(DWORD timeoutMs = 5000);
    // Drops the host and listens for a new open of the device.
    bool Relisten();
    bool ReadExact(void *buffer, DWORD count, DWORD timeoutMs = 5000);
    bool Write(const void *buffer, DWORD count, DWORD timeoutMs = 5000);
    bool ReadHeader(wirrow::LinkHeader &header, DWORD timeoutMs = 5000) { return ReadExact(&header, 16, timeoutMs); }
    bool WriteHeader(const wirrow::LinkHeader &header) { return Write(&header, 16); }

    // The board's side of the link, in the byte order its flags set.
    bool littleEndian = false;
    wirrow::LinkHeader Header(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence,
                              uint32_t length) const {
        return wirrow::BuildHeader(letter, channel, subchannel, sequence, length, littleEndian);
    }
    uint32_t Sequence(const wirrow::LinkHeader &h) const { return wirrow::ReadField(h.sequence, littleEndian); }
    uint32_t Length(const wirrow::LinkHeader &h) const { return wirrow::ReadField(h.length, littleEndian); }

    // Reads the connect request and answers it with these link parameters.
    bool AnswerConnect(uint8_t attempts, uint8_t packetTimeout, uint8_t replyTimeout, uint8_t flags,
                       uint32_t maxPayload);
    // Sends one data packet (header and payload).
    bool SendPacket(uint8_t channel, uint8_t subchannel, uint32_t sequence, const std::vector<uint8_t> &payload);
    // Reads one data packet from the host; the payload goes to `payload`.
    bool ReadPacket(wirrow::LinkHeader &header, std::vector<uint8_t> &payload, DWORD timeoutMs = 5000);
    // Reads the host's next header and checks it is this answer.
    bool ExpectAnswer(uint8_t letter, uint8_t channel, uint8_t subchannel, uint32_t sequence, DWORD timeoutMs = 5000);
    // True when nothing arrives from the host within the window.
    bool QuietFor(DWORD ms);
    // Waits (bounded) until at least `count` bytes from the host wait unread in the pipe.
    bool WaitUnread(DWORD count, DWORD timeoutMs = 5000);

    // The board leaves: the host's transfers fail from now on.
    void Hangup();

private:
    bool Listen();
    bool Transfer(bool write, void *buffer, DWORD count, DWORD timeoutMs);

    std::string path_;
    UniqueHandle pipe_;
    UniqueHandle event_;
    UniqueHandle connectEvent_;
    OVERLAPPED connect_{};
    bool connectPending_ = false;
    bool connected_ = false;
    boardsim::DeviceLink link_;
    bool ready_ = false;
};
