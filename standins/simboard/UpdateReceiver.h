// The board's firmware-update protocol: every message on the update channel is
// one packet, a 16-byte update header and a chunk of the image. The board
// collects the chunks, checks the sum after the last one, writes its flash and
// answers every packet with one 16-byte reply in the same layout: the packet's
// header repeated, with the board's status.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace boardsim {

constexpr std::uint8_t kUpdateChannel = 66;  // 'B'
constexpr std::uint8_t kUpdateSubchannel = 1;
constexpr std::size_t kUpdateHeaderSize = 16;
constexpr std::uint8_t kUpdateTypeImageData = 1;
constexpr std::uint16_t kUpdateLastFlag = 0xFFFF;

// The board's own error codes in a reply's status (0 = accepted).
enum UpdateError : std::uint16_t {
    kUpdateOk = 0,
    kUpdateBadHeader = 0x0101,       // magic, marker, type or last_flag wrong, or shorter than a header
    kUpdateLengthMismatch = 0x0102,  // length field disagrees with the chunk that came
    kUpdateChecksumMismatch = 0x0103,
    kUpdateImageTooLarge = 0x0104,
};

using UpdateHeaderBytes = std::array<std::uint8_t, kUpdateHeaderSize>;

struct UpdateHeader {
    std::uint8_t magic0 = 'T';
    std::uint8_t magic1 = 'B';
    std::uint8_t marker = 0xFF;
    std::uint8_t type = kUpdateTypeImageData;
    std::uint16_t status = 0;
    std::uint16_t lastFlag = 0;
    std::uint32_t length = 0;
    std::uint32_t checksum = 0;
};

UpdateHeaderBytes EncodeUpdateHeader(const UpdateHeader &header, bool littleEndian);
UpdateHeader DecodeUpdateHeader(const std::uint8_t *bytes, bool littleEndian);

// Sum of the bytes as unsigned values, added to `start`, modulo 2^32.
std::uint32_t ByteSum(const std::uint8_t *bytes, std::size_t length, std::uint32_t start = 0);

class UpdateReceiver {
public:
    explicit UpdateReceiver(bool littleEndian, std::size_t maxImageBytes = 64u << 20)
        : littleEndian_(littleEndian), maxImageBytes_(maxImageBytes) {}

    struct Result {
        UpdateHeaderBytes reply{};
        std::uint16_t status = 0;
        bool last = false;          // the packet carried last_flag 0xFFFF
        bool flashWritten = false;  // the image passed its check and is now "in flash"
    };

    // Takes one update packet. forcedError, when not 0, rejects the chunk with
    // that code (a board that refuses it for reasons of its own).
    Result Take(const std::uint8_t *packet, std::size_t length, std::uint16_t forcedError = 0);

    // Drops the chunks of an update that will never be finished (the host went away);
    // the next packet starts a new image. The flash keeps what it held.
    void AbandonUpdate() {
        collected_.clear();
        chunks_ = 0;
    }

    // The image written by the last successful update; empty before.
    const std::vector<std::uint8_t> &FlashImage() const { return flash_; }
    // Chunks taken into the update in progress.
    std::size_t PendingBytes() const { return collected_.size(); }
    std::uint32_t ChunksTaken() const { return chunks_; }

private:
    Result Reply(std::uint16_t status, const UpdateHeader &packet, std::uint32_t checksum);

    bool littleEndian_;
    std::size_t maxImageBytes_;
    std::vector<std::uint8_t> collected_;
    std::uint32_t chunks_ = 0;
    std::vector<std::uint8_t> flash_;
};

}  // namespace boardsim
