#include "RouterCodec.h"

#include "CopyText.h"

#include <cstring>

namespace router {

namespace {

constexpr std::size_t kLengthSize = 4;        // the count that starts every datagram
constexpr std::size_t kReplyBodyOffset = 4;   // reply text offsets count from here
constexpr std::size_t kEntryCountOffset = 4;  // lists: the number of entries
constexpr std::size_t kEntriesOffset = 5;
constexpr std::size_t kDeviceEntrySize = 16;
constexpr std::size_t kConnectionEntrySize = 22;
constexpr std::uint32_t kNoDeviceList = 0xFFFFFFFFu;

// Discovery reply fields.
constexpr std::size_t kDiscoveryPortOffset = 4;
constexpr std::size_t kDiscoveryNameOffset = 6;
constexpr std::size_t kDiscoveryAddressOffset = 266;

// Device request layout (from the start of the datagram).
constexpr std::size_t kDeviceNameOffsetField = 5;
constexpr std::size_t kDeviceAddressOffsetField = 9;
constexpr std::size_t kDevicePortField = 13;
constexpr std::size_t kDeviceFeaturesField = 17;
constexpr std::size_t kDeviceTextsStart = 21;
constexpr std::size_t kDeviceTrailerSize = 16;
constexpr std::size_t kRequestBodyOffset = 5;  // request text offsets count from here

std::size_t EntryCount(const std::uint8_t *datagram, std::size_t size, std::size_t entrySize) {
    if (size <= kEntryCountOffset) return 0;
    std::size_t claimed = datagram[kEntryCountOffset];
    std::size_t whole = (size - kEntriesOffset) / entrySize;
    return claimed < whole ? claimed : whole;
}

// A text found by an offset that counts from byte 4 of a reply.
void CopyReplyText(const std::uint8_t *datagram, std::size_t size, const std::uint8_t *offsetField,
                   char (&field)[COMM_TEXT_FIELD_SIZE]) {
    CopyWireText(datagram, size, std::uint64_t{kReplyBodyOffset} + ReadLe32(offsetField), field);
}

}  // namespace

std::uint16_t ReadLe16(const std::uint8_t *bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadLe32(const std::uint8_t *bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void WriteLe16(std::uint8_t *bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteLe32(std::uint8_t *bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void CopyWireText(const std::uint8_t *datagram, std::size_t size, std::uint64_t offset,
                  char (&field)[COMM_TEXT_FIELD_SIZE]) {
    if (offset >= size) {
        field[0] = '\0';
        return;
    }
    CopyText(field, reinterpret_cast<const char *>(datagram) + offset, size - static_cast<std::size_t>(offset));
}

Request EncodePlainRequest(RequestType type) {
    Request request{};
    WriteLe32(request.bytes, 1);
    request.bytes[4] = type;
    request.size = kPlainRequestSize;
    return request;
}

Request EncodeCloseConnectionRequest(std::uint32_t id1, std::uint32_t id2) {
    Request request{};
    WriteLe32(request.bytes, 3);
    request.bytes[4] = kCloseConnectionRequest;
    request.bytes[5] = static_cast<std::uint8_t>(id1);
    request.bytes[6] = static_cast<std::uint8_t>(id2);
    request.size = kCloseRequestSize;
    return request;
}

Request EncodeDeviceRequest(RequestType type, const DeviceRecord &device) {
    Request request{};  // the gap after the port and the trailer stay zero
    // A caller's fields: up to their zero, at most 259 characters.
    std::size_t nameLength = ::strnlen(device.displayName, kMaxTextLength);
    std::size_t addressLength = ::strnlen(device.address, kMaxTextLength);
    std::size_t nameAt = kDeviceTextsStart;
    std::size_t addressAt = nameAt + nameLength + 1;
    std::size_t size = addressAt + addressLength + 1 + kDeviceTrailerSize;
    WriteLe32(request.bytes, static_cast<std::uint32_t>(size - kLengthSize));
    request.bytes[4] = type;
    WriteLe32(request.bytes + kDeviceNameOffsetField, static_cast<std::uint32_t>(nameAt - kRequestBodyOffset));
    WriteLe32(request.bytes + kDeviceAddressOffsetField, static_cast<std::uint32_t>(addressAt - kRequestBodyOffset));
    WriteLe16(request.bytes + kDevicePortField, device.port);
    WriteLe32(request.bytes + kDeviceFeaturesField, device.features);
    std::memcpy(request.bytes + nameAt, device.displayName, nameLength);
    std::memcpy(request.bytes + addressAt, device.address, addressLength);
    request.size = size;
    return request;
}

bool DecodeDiscoveryReply(const std::uint8_t *datagram, std::size_t size, RouterRecord *router) {
    if (size < kDiscoveryPortOffset + 2) return false;
    *router = RouterRecord{};
    router->port = ReadLe16(datagram + kDiscoveryPortOffset);
    CopyWireText(datagram, size, kDiscoveryNameOffset, router->name);
    CopyWireText(datagram, size, kDiscoveryAddressOffset, router->address);
    return true;
}

std::size_t DeviceListEntryCount(const std::uint8_t *datagram, std::size_t size) {
    if (size >= kLengthSize && ReadLe32(datagram) == kNoDeviceList) return 0;
    return EntryCount(datagram, size, kDeviceEntrySize);
}

DeviceRecord DecodeDeviceListEntry(const std::uint8_t *datagram, std::size_t size, std::size_t index) {
    const std::uint8_t *entry = datagram + kEntriesOffset + index * kDeviceEntrySize;
    DeviceRecord device{};
    CopyReplyText(datagram, size, entry + 0, device.displayName);
    CopyReplyText(datagram, size, entry + 4, device.address);
    device.port = ReadLe16(entry + 8);
    device.extra = ReadLe16(entry + 10);
    device.features = ReadLe32(entry + 12);
    return device;
}

void AppendDeviceList(const std::uint8_t *datagram, std::size_t size, std::vector<DeviceRecord> *devices) {
    std::size_t count = DeviceListEntryCount(datagram, size);
    devices->reserve(devices->size() + count);
    for (std::size_t index = 0; index < count; ++index) devices->push_back(DecodeDeviceListEntry(datagram, size, index));
}

std::size_t ConnectionListEntryCount(const std::uint8_t *datagram, std::size_t size) {
    return EntryCount(datagram, size, kConnectionEntrySize);
}

ConnectionRecord DecodeConnectionListEntry(const std::uint8_t *datagram, std::size_t size, std::size_t index) {
    const std::uint8_t *entry = datagram + kEntriesOffset + index * kConnectionEntrySize;
    ConnectionRecord connection{};
    connection.id1 = entry[0];
    connection.id2 = entry[1];
    CopyReplyText(datagram, size, entry + 2, connection.nameB);
    CopyReplyText(datagram, size, entry + 6, connection.addressB);
    connection.portB = ReadLe16(entry + 10);
    CopyReplyText(datagram, size, entry + 12, connection.nameA);
    CopyReplyText(datagram, size, entry + 16, connection.addressA);
    connection.portA = ReadLe16(entry + 20);
    return connection;
}

bool DecodeResultReply(const std::uint8_t *datagram, std::size_t size, std::uint32_t *result) {
    if (size < kResultReplySize) return false;
    *result = ReadLe32(datagram + 4);
    return true;
}

std::size_t MinimumReplySize(RequestType type) {
    switch (type) {
    case kConnectionListRequest: return kConnectionListMinimumSize;
    case kCloseConnectionRequest:
    case kAddDeviceRequest:
    case kRemoveDeviceRequest: return kResultReplySize;
    default: return 0;  // device lists and discovery replies take any datagram
    }
}

std::uint8_t NoticeCodeOf(const std::uint8_t *datagram, std::size_t size) {
    return size < kNoticeMinimumSize ? 0 : datagram[kNoticeCodeOffset];
}

}  // namespace router
