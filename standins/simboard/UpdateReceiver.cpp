#include "UpdateReceiver.h"
#include "LinkCodec.h"

namespace boardsim {

UpdateHeaderBytes EncodeUpdateHeader(const UpdateHeader &header, bool littleEndian) {
    UpdateHeaderBytes bytes{};
    bytes[0] = header.magic0;
    bytes[1] = header.magic1;
    bytes[2] = header.marker;
    bytes[3] = header.type;
    WriteU16(&bytes[4], header.status, littleEndian);
    WriteU16(&bytes[6], header.lastFlag, littleEndian);
    WriteU32(&bytes[8], header.length, littleEndian);
    WriteU32(&bytes[12], header.checksum, littleEndian);
    return bytes;
}

UpdateHeader DecodeUpdateHeader(const std::uint8_t *bytes, bool littleEndian) {
    UpdateHeader header;
    header.magic0 = bytes[0];
    header.magic1 = bytes[1];
    header.marker = bytes[2];
    header.type = bytes[3];
    header.status = ReadU16(&bytes[4], littleEndian);
    header.lastFlag = ReadU16(&bytes[6], littleEndian);
    header.length = ReadU32(&bytes[8], littleEndian);
    header.checksum = ReadU32(&bytes[12], littleEndian);
    return header;
}

std::uint32_t ByteSum(const std::uint8_t *bytes, std::size_t length, std::uint32_t start) {
    for (std::size_t i = 0; i < length; ++i) start += bytes[i];
    return start;
}

// The reply repeats the packet's header (last_flag and length) with the board's status, and the
// board's own sum where it checked one.
UpdateReceiver::Result UpdateReceiver::Reply(std::uint16_t status, const UpdateHeader &packet, std::uint32_t checksum) {
    Result result;
    UpdateHeader header;
    header.status = status;
    header.lastFlag = packet.lastFlag;
    header.length = packet.length;
    header.checksum = checksum;
    result.reply = EncodeUpdateHeader(header, littleEndian_);
    result.status = status;
    result.last = packet.lastFlag == kUpdateLastFlag;
    if (status != kUpdateOk) {
        // A refused chunk ends the update: the host sends nothing more of it.
        collected_.clear();
        chunks_ = 0;
    }
    return result;
}

UpdateReceiver::Result UpdateReceiver::Take(const std::uint8_t *packet, std::size_t length,
                                            std::uint16_t forcedError) {
    if (length < kUpdateHeaderSize) return Reply(kUpdateBadHeader, UpdateHeader{}, 0);
    UpdateHeader header = DecodeUpdateHeader(packet, littleEndian_);
    if (header.magic0 != 'T' || header.magic1 != 'B' || header.marker != 0xFF ||
        header.type != kUpdateTypeImageData || (header.lastFlag != 0 && header.lastFlag != kUpdateLastFlag))
        return Reply(kUpdateBadHeader, header, 0);
    const std::uint8_t *chunk = packet + kUpdateHeaderSize;
    std::size_t chunkLength = length - kUpdateHeaderSize;
    if (header.length != chunkLength) return Reply(kUpdateLengthMismatch, header, 0);
    if (forcedError != 0) return Reply(forcedError, header, 0);
    if (collected_.size() + chunkLength > maxImageBytes_) return Reply(kUpdateImageTooLarge, header, 0);

    collected_.insert(collected_.end(), chunk, chunk + chunkLength);
    ++chunks_;
    if (header.lastFlag != kUpdateLastFlag) return Reply(kUpdateOk, header, 0);

    std::uint32_t sum = ByteSum(collected_.data(), collected_.size());
    if (sum != header.checksum) return Reply(kUpdateChecksumMismatch, header, sum);
    flash_.swap(collected_);
    collected_.clear();
    chunks_ = 0;
    Result result = Reply(kUpdateOk, header, sum);
    result.flashWritten = true;
    return result;
}

}  // namespace boardsim
