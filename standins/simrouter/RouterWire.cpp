#include "RouterWire.h"

#include <algorithm>
#include <cstring>

namespace routersim {

namespace {

constexpr std::size_t kTextField = COMM_TEXT_FIELD_SIZE;
constexpr std::size_t kDeviceEntrySize = 16;
constexpr std::size_t kConnectionEntrySize = 22;
constexpr std::size_t kEntriesAt = 5;
constexpr std::uint32_t kOutside = 0x7FFFFF00u;

void Put16(Datagram &bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Datagram &bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t *bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::size_t FieldLength(const char *field) { return ::strnlen(field, kTextField - 1); }

// The text at `at` of the datagram into a field, within the datagram.
void ReadText(const std::uint8_t *bytes, std::size_t size, std::uint64_t at, char *field) {
    std::size_t length = 0;
    while (at + length < size && length < kTextField - 1 && bytes[at + length] != 0) ++length;
    if (length) std::memcpy(field, bytes + at, length);
    field[length] = '\0';
}

// Appends a field's text with its NUL; returns its offset counted from byte 4.
std::uint32_t AddText(Datagram &texts, std::size_t textsAt, const char *field) {
    std::uint32_t offset = static_cast<std::uint32_t>(textsAt + texts.size() - 4);
    texts.insert(texts.end(), field, field + FieldLength(field));
    texts.push_back(0);
    return offset;
}

// Lists: the largest prefix of entries that fits with its texts.
template <typename Record, typename TextsOf>
std::size_t FittingCount(const std::vector<Record> &records, std::size_t entrySize, std::size_t capacity,
                         TextsOf textsOf) {
    std::size_t size = kEntriesAt;
    std::size_t count = 0;
    for (const Record &record : records) {
        std::size_t grown = size + entrySize + textsOf(record);
        if (count == 255 || grown > capacity) break;
        size = grown;
        ++count;
    }
    return count;
}

}  // namespace

bool ParseRequest(const std::uint8_t *bytes, std::size_t size, ParsedRequest *request) {
    if (size < 5) return false;
    *request = ParsedRequest{};
    request->type = bytes[4];
    if (request->type == 4) {
        if (size < 7) return false;
        request->id1 = bytes[5];
        request->id2 = bytes[6];
    } else if (request->type == 5 || request->type == 6) {
        if (size < 21) return false;
        ReadText(bytes, size, 5ull + Get32(bytes + 5), request->device.displayName);
        ReadText(bytes, size, 5ull + Get32(bytes + 9), request->device.address);
        request->device.port = static_cast<std::uint16_t>(bytes[13] | (bytes[14] << 8));
        request->device.features = Get32(bytes + 17);
    }
    return true;
}

Datagram BuildDiscoveryReply(std::uint16_t port, const std::string &name, const std::string &address) {
    Datagram reply(6 + 2 * kTextField, 0);
    Put32(reply, 0, static_cast<std::uint32_t>(reply.size() - 4));
    Put16(reply, 4, port);
    std::memcpy(&reply[6], name.data(), std::min(name.size(), kTextField - 1));
    std::memcpy(&reply[6 + kTextField], address.data(), std::min(address.size(), kTextField - 1));
    return reply;
}

Datagram BuildDeviceListReply(const std::vector<DeviceRecord> &devices, std::size_t capacity) {
    std::size_t count = FittingCount(devices, kDeviceEntrySize, capacity, [](const DeviceRecord &device) {
        return FieldLength(device.displayName) + FieldLength(device.address) + 2;
    });
    Datagram reply(kEntriesAt + count * kDeviceEntrySize, 0);
    reply[4] = static_cast<std::uint8_t>(count);
    Datagram texts;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t at = kEntriesAt + i * kDeviceEntrySize;
        Put32(reply, at, AddText(texts, reply.size(), devices[i].displayName));
        Put32(reply, at + 4, AddText(texts, reply.size(), devices[i].address));
        Put16(reply, at + 8, devices[i].port);
        Put16(reply, at + 10, devices[i].extra);
        Put32(reply, at + 12, devices[i].features);
    }
    reply.insert(reply.end(), texts.begin(), texts.end());
    Put32(reply, 0, static_cast<std::uint32_t>(reply.size() - 4));
    return reply;
}

Datagram BuildConnectionListReply(const std::vector<ConnectionRecord> &connections, std::size_t capacity) {
    std::size_t count =
        FittingCount(connections, kConnectionEntrySize, capacity, [](const ConnectionRecord &connection) {
            return FieldLength(connection.nameA) + FieldLength(connection.addressA) + FieldLength(connection.nameB) +
                   FieldLength(connection.addressB) + 4;
        });
    Datagram reply(kEntriesAt + count * kConnectionEntrySize, 0);
    reply[4] = static_cast<std::uint8_t>(count);
    Datagram texts;
    for (std::size_t i = 0; i < count; ++i) {
        const ConnectionRecord &connection = connections[i];
        std::size_t at = kEntriesAt + i * kConnectionEntrySize;
        reply[at] = connection.id1;
        reply[at + 1] = connection.id2;
        Put32(reply, at + 2, AddText(texts, reply.size(), connection.nameB));
        Put32(reply, at + 6, AddText(texts, reply.size(), connection.addressB));
        Put16(reply, at + 10, connection.portB);
        Put32(reply, at + 12, AddText(texts, reply.size(), connection.nameA));
        Put32(reply, at + 16, AddText(texts, reply.size(), connection.addressA));
        Put16(reply, at + 20, connection.portA);
    }
    reply.insert(reply.end(), texts.begin(), texts.end());
    Put32(reply, 0, static_cast<std::uint32_t>(reply.size() - 4));
    return reply;
}

Datagram BuildResultReply(std::uint32_t result) {
    Datagram reply(8, 0);
    Put32(reply, 0, 4);
    Put32(reply, 4, result);
    return reply;
}

Datagram BuildNotice(std::uint8_t code) {
    Datagram notice(kNoticeSize, 0);
    Put32(notice, 0, 9);
    notice[4] = code;
    return notice;
}

void PointTextsOutside(Datagram *reply, std::uint8_t requestType) {
    if (reply->size() < kEntriesAt) return;
    std::size_t count = (*reply)[4];
    if (requestType == 1) {
        for (std::size_t i = 0; i < count && kEntriesAt + (i + 1) * kDeviceEntrySize <= reply->size(); ++i) {
            Put32(*reply, kEntriesAt + i * kDeviceEntrySize, kOutside);
            Put32(*reply, kEntriesAt + i * kDeviceEntrySize + 4, kOutside + 1);
        }
    } else if (requestType == 3) {
        for (std::size_t i = 0; i < count && kEntriesAt + (i + 1) * kConnectionEntrySize <= reply->size(); ++i) {
            for (std::size_t field : {2u, 6u, 12u, 16u}) Put32(*reply, kEntriesAt + i * kConnectionEntrySize + field, kOutside);
        }
    }
}

}  // namespace routersim
