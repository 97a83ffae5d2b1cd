// Update packet headers in both byte orders, and reply status decoding.
#include "UpdatePacket.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const UpdatePacketHeader &header) {
    const auto *p = reinterpret_cast<const uint8_t *>(&header);
    return std::vector<uint8_t>(p, p + sizeof(header));
}

}  // namespace

TEST(UpdatePacketHeader, BigEndianLastPacket) {
    UpdatePacketHeader header;
    std::memset(&header, 0xEE, sizeof(header));
    EncodeUpdatePacketHeader(header, true, 1008, 0x12345678, BoardByteOrder::BigEndian);
    std::vector<uint8_t> expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0xFF, 0xFF,
                                     0x00, 0x00, 0x03, 0xF0, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(expected, Bytes(header));
}

TEST(UpdatePacketHeader, LittleEndianLastPacket) {
    UpdatePacketHeader header;
    std::memset(&header, 0xEE, sizeof(header));
    EncodeUpdatePacketHeader(header, true, 1008, 0x12345678, BoardByteOrder::LittleEndian);
    std::vector<uint8_t> expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0xFF, 0xFF,
                                     0xF0, 0x03, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(expected, Bytes(header));
}

TEST(UpdatePacketHeader, NonLastPacketCarriesNoChecksum) {
    UpdatePacketHeader header;
    std::memset(&header, 0xEE, sizeof(header));
    EncodeUpdatePacketHeader(header, false, 0x01020304, 0x12345678, BoardByteOrder::LittleEndian);
    std::vector<uint8_t> expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00,
                                     0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, Bytes(header));
    EncodeUpdatePacketHeader(header, false, 0x01020304, 0x12345678, BoardByteOrder::BigEndian);
    expected = {'T', 'B', 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, Bytes(header));
}

TEST(UpdatePacketReply, StatusFollowsTheBoardByteOrder) {
    UpdatePacketHeader reply{};
    reply.status[0] = 0x01;
    reply.status[1] = 0x02;
    EXPECT_EQ(258, DecodeReplyStatus(reply, BoardByteOrder::BigEndian));
    EXPECT_EQ(513, DecodeReplyStatus(reply, BoardByteOrder::LittleEndian));
    reply.status[0] = 0xFF;
    reply.status[1] = 0xFF;
    EXPECT_EQ(65535, DecodeReplyStatus(reply, BoardByteOrder::BigEndian));
    reply.status[0] = reply.status[1] = 0;
    // Other fields do not leak into the status.
    std::memset(reply.last_flag, 0xFF, 2);
    EXPECT_EQ(0, DecodeReplyStatus(reply, BoardByteOrder::BigEndian));
}

TEST(UpdatePacketReply, HostOrderOptionChoosesByteOrder) {
    EXPECT_EQ(BoardByteOrder::BigEndian, BoardByteOrderFromOption(0));
    EXPECT_EQ(BoardByteOrder::LittleEndian, BoardByteOrderFromOption(1));
    EXPECT_EQ(BoardByteOrder::LittleEndian, BoardByteOrderFromOption(0x10));
}

TEST(UpdatePacketReply, JudgedByLengthThenStatusInTheBoardsOrder) {
    struct Case {
        size_t length;
        uint8_t status0, status1;
        BoardByteOrder order;
        UpdateReplyVerdict verdict;
        uint16_t status;
    };
    const Case cases[] = {
        {16, 0, 0, BoardByteOrder::BigEndian, UpdateReplyVerdict::Accepted, 0},
        {16, 0x02, 0x01, BoardByteOrder::BigEndian, UpdateReplyVerdict::Refused, 0x0201},
        {16, 0x02, 0x01, BoardByteOrder::LittleEndian, UpdateReplyVerdict::Refused, 0x0102},
        {15, 0, 0, BoardByteOrder::BigEndian, UpdateReplyVerdict::Incomplete, 0},
        {0, 0x02, 0x01, BoardByteOrder::LittleEndian, UpdateReplyVerdict::Incomplete, 0},
        {20, 0, 1, BoardByteOrder::LittleEndian, UpdateReplyVerdict::Refused, 0x0100},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes(c.length < 16 ? 16 : c.length, 0xEE);
        bytes[4] = c.status0;
        bytes[5] = c.status1;
        uint16_t status = 0xBEEF;
        EXPECT_EQ(c.verdict, JudgeUpdateReply(bytes.data(), c.length, c.order, status)) << c.length;
        EXPECT_EQ(c.status, status) << c.length;
    }
    uint16_t status = 1;
    EXPECT_EQ(UpdateReplyVerdict::Incomplete, JudgeUpdateReply(nullptr, 16, BoardByteOrder::BigEndian, status));
}

// Which packet a reply belongs to, for a board that repeats each packet's header and one that does not.
TEST(UpdatePacketReply, MatcherTellsCopiesOfTheReplyBeforeFromStrayReplies) {
    using Match = ReplyMatcher::Match;
    const auto header = [](bool last, uint32_t length) {
        UpdatePacketHeader h{};
        EncodeUpdatePacketHeader(h, last, length, last ? 0x1234u : 0u, BoardByteOrder::LittleEndian);
        return h;
    };
    const UpdatePacketHeader first = header(false, 1008), lastPacket = header(true, 50), zeros = header(false, 0);
    ReplyMatcher repeating;
    EXPECT_EQ(Match::ThisPacket, repeating.Classify(first, first));
    repeating.Answered(first);
    EXPECT_EQ(Match::EarlierPacket, repeating.Classify(first, lastPacket));      // the first reply again
    EXPECT_EQ(Match::NoPacketSent, repeating.Classify(header(false, 50), lastPacket));
    EXPECT_EQ(Match::ThisPacket, repeating.Classify(header(true, 50), lastPacket));

    ReplyMatcher leavingOut;  // its first reply carries no length: no reply is told apart
    EXPECT_EQ(Match::ThisPacket, leavingOut.Classify(zeros, first));
    leavingOut.Answered(first);
    EXPECT_EQ(Match::ThisPacket, leavingOut.Classify(first, lastPacket));
}
