// The board's update protocol without any I/O.
#include "Payloads.h"
#include "UpdateReceiver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

using namespace boardsim;

namespace {

std::vector<std::uint8_t> Packet(const std::vector<std::uint8_t> &chunk, bool last, std::uint32_t checksum, bool le) {
    UpdateHeader header;
    header.lastFlag = last ? kUpdateLastFlag : 0;
    header.length = static_cast<std::uint32_t>(chunk.size());
    header.checksum = checksum;
    UpdateHeaderBytes bytes = EncodeUpdateHeader(header, le);
    std::vector<std::uint8_t> packet(kUpdateHeaderSize + chunk.size());
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    std::copy(chunk.begin(), chunk.end(), packet.begin() + kUpdateHeaderSize);
    return packet;
}

}  // namespace

TEST(UpdateHeader, LayoutInBothOrders) {
    UpdateHeader header;
    header.status = 0x0102;
    header.lastFlag = 0xFFFF;
    header.length = 1008;
    header.checksum = 0x11223344;
    UpdateHeaderBytes big = EncodeUpdateHeader(header, false);
    EXPECT_EQ((UpdateHeaderBytes{'T', 'B', 0xFF, 1, 0x01, 0x02, 0xFF, 0xFF, 0, 0, 0x03, 0xF0, 0x11, 0x22, 0x33, 0x44}),
              big);
    UpdateHeaderBytes little = EncodeUpdateHeader(header, true);
    EXPECT_EQ((UpdateHeaderBytes{'T', 'B', 0xFF, 1, 0x02, 0x01, 0xFF, 0xFF, 0xF0, 0x03, 0, 0, 0x44, 0x33, 0x22, 0x11}),
              little);
    EXPECT_EQ(0x0102, DecodeUpdateHeader(big.data(), false).status);
    EXPECT_EQ(1008u, DecodeUpdateHeader(little.data(), true).length);
}

TEST(UpdateHeader, ByteSumWrapsAndCountsBytesUnsigned) {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFF, 0x01};
    EXPECT_EQ(0x1FFu, ByteSum(bytes.data(), bytes.size()));
    EXPECT_EQ(0x1FEu, ByteSum(bytes.data(), bytes.size(), 0xFFFFFFFFu));
}

class UpdateReceiverOrder : public ::testing::TestWithParam<bool> {};

TEST_P(UpdateReceiverOrder, ChunksBecomeTheFlashImage) {
    const bool le = GetParam();
    UpdateReceiver receiver(le);
    std::vector<std::uint8_t> image = PatternPayload(2500);
    std::uint32_t sum = ByteSum(image.data(), image.size());
    for (std::size_t offset = 0; offset < image.size(); offset += 1000) {
        std::size_t n = std::min<std::size_t>(1000, image.size() - offset);
        bool last = offset + n == image.size();
        std::vector<std::uint8_t> chunk(image.begin() + offset, image.begin() + offset + n);
        auto result = receiver.Take(Packet(chunk, last, sum, le).data(), chunk.size() + 16);
        EXPECT_EQ(kUpdateOk, result.status);
        EXPECT_EQ(0, DecodeUpdateHeader(result.reply.data(), le).status);
        EXPECT_EQ('T', result.reply[0]);
        EXPECT_EQ(last, result.flashWritten);
        // The reply repeats the packet's header: the host tells by it which packet a reply answers.
        EXPECT_EQ(last ? 0xFFFF : 0, DecodeUpdateHeader(result.reply.data(), le).lastFlag);
        EXPECT_EQ(n, DecodeUpdateHeader(result.reply.data(), le).length);
    }
    EXPECT_EQ(image, receiver.FlashImage());
    EXPECT_EQ(0u, receiver.PendingBytes());
}

TEST_P(UpdateReceiverOrder, WrongChecksumIsRefusedAndNothingWritten) {
    const bool le = GetParam();
    UpdateReceiver receiver(le);
    std::vector<std::uint8_t> image = PatternPayload(100);
    auto result = receiver.Take(Packet(image, true, ByteSum(image.data(), image.size()) + 1, le).data(), 116);
    EXPECT_EQ(kUpdateChecksumMismatch, result.status);
    EXPECT_EQ(kUpdateChecksumMismatch, DecodeUpdateHeader(result.reply.data(), le).status);
    EXPECT_FALSE(result.flashWritten);
    EXPECT_TRUE(receiver.FlashImage().empty());
}

TEST_P(UpdateReceiverOrder, ForcedErrorRejectsChunkAndStartsOver) {
    const bool le = GetParam();
    UpdateReceiver receiver(le);
    std::vector<std::uint8_t> first = PatternPayload(10);
    EXPECT_EQ(kUpdateOk, receiver.Take(Packet(first, false, 0, le).data(), 26).status);
    auto rejected = receiver.Take(Packet(first, false, 0, le).data(), 26, 0x1234);
    EXPECT_EQ(0x1234, rejected.status);
    EXPECT_EQ(le ? 0x34 : 0x12, rejected.reply[4]);
    EXPECT_EQ(0u, receiver.PendingBytes());
    // A fresh update after the refusal succeeds on its own.
    auto single = receiver.Take(Packet(first, true, ByteSum(first.data(), first.size()), le).data(), 26);
    EXPECT_TRUE(single.flashWritten);
    EXPECT_EQ(first, receiver.FlashImage());
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, UpdateReceiverOrder, ::testing::Values(false, true));

TEST(UpdateReceiver, BadPacketsGetTheirOwnCodes) {
    UpdateReceiver receiver(true);
    std::vector<std::uint8_t> chunk = PatternPayload(8);
    std::uint8_t shortPacket[10] = {'T', 'B'};
    EXPECT_EQ(kUpdateBadHeader, receiver.Take(shortPacket, sizeof(shortPacket)).status);
    auto packet = Packet(chunk, false, 0, true);
    packet[0] = 'X';
    EXPECT_EQ(kUpdateBadHeader, receiver.Take(packet.data(), packet.size()).status);
    packet = Packet(chunk, false, 0, true);
    packet[6] = 0x01;  // last_flag neither 0 nor 0xFFFF
    EXPECT_EQ(kUpdateBadHeader, receiver.Take(packet.data(), packet.size()).status);
    packet = Packet(chunk, false, 0, true);
    EXPECT_EQ(kUpdateLengthMismatch, receiver.Take(packet.data(), packet.size() - 1).status);
    UpdateReceiver small(true, 8);
    EXPECT_EQ(kUpdateOk, small.Take(packet.data(), packet.size()).status);
    EXPECT_EQ(kUpdateImageTooLarge, small.Take(packet.data(), packet.size()).status);
}

TEST(UpdateReceiver, BigEndianBoardReadsBigEndianLength) {
    UpdateReceiver receiver(false);
    std::vector<std::uint8_t> chunk = PatternPayload(8);
    // Length written little-endian reaches a big-endian board as 0x08000000.
    auto packet = Packet(chunk, false, 0, true);
    EXPECT_EQ(kUpdateLengthMismatch, receiver.Take(packet.data(), packet.size()).status);
}
