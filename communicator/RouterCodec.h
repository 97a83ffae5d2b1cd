// The datagrams of the router protocol over UDP, built and read without any
// operating-system call. Every number is little-endian and packed. A datagram
// begins with a 32-bit count of the bytes after it; a request goes on with its
// type byte and body, a reply directly with its body. Texts are NUL-terminated
// and found by 32-bit offsets counting from the byte after the type (requests)
// or after the count (replies).
//
// Replies come from the network and are untrusted: the decoders read nothing
// outside the bytes received, cut texts at 259 characters or at the end of the
// datagram, give an empty text for an offset outside it, and stop a list before
// the first entry that does not lie wholly inside it.
#pragma once
#include "CommRecords.h"
#include "CopyText.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace router {

// Every reply is received into a buffer of this size: one Ethernet frame.
constexpr std::size_t kDatagramCapacity = 1518;

enum RequestType : std::uint8_t {
    kDeviceListRequest = 1,
    kDiscoveryRequest = 2,
    kConnectionListRequest = 3,
    kCloseConnectionRequest = 4,
    kAddDeviceRequest = 5,
    kRemoveDeviceRequest = 6,
};

// Notifications that routers send to the board-selection dialog: at least 13
// bytes, the code at byte 4.
enum NoticeCode : std::uint8_t {
    kDevicesChangedNotice = 7,
    kRoutersChangedNotice = 9,
};
constexpr std::size_t kNoticeMinimumSize = 13;
constexpr std::size_t kNoticeCodeOffset = 4;

// Requests of types 1 to 3: no body, 5 bytes.
constexpr std::size_t kPlainRequestSize = 5;
// A close-connection request: two identifier bytes, 7 bytes.
constexpr std::size_t kCloseRequestSize = 7;
// An add- or remove-device request with two texts of 259 characters.
constexpr std::size_t kMaxDeviceRequestSize = 21 + 2 * COMM_TEXT_FIELD_SIZE + 16;

// A request datagram, built in place (the longest is a device request).
struct Request {
    std::uint8_t bytes[kMaxDeviceRequestSize];
    std::size_t size;
};

// Types 1 to 3.
Request EncodePlainRequest(RequestType type);
// Only the low byte of each identifier is sent.
Request EncodeCloseConnectionRequest(std::uint32_t id1, std::uint32_t id2);
// Types 5 and 6: the device's display name and address (each cut at 259
// characters, or at the end of its field when it is not terminated), port and
// feature word; its `extra` is not sent. `length` counts 16 zero bytes at the end.
Request EncodeDeviceRequest(RequestType type, const DeviceRecord &device);

// A discovery reply: port at 4, name at 6 and address at 266, each a 260-byte
// field. False for a datagram too short to hold the port: nothing to list.
bool DecodeDiscoveryReply(const std::uint8_t *datagram, std::size_t size, RouterRecord *router);

// A device-list reply. The entries that lie wholly inside the datagram, of the
// count at byte 4; none when the datagram is too short for the count or its
// first four bytes read 0xFFFFFFFF (the router has nothing to report).
std::size_t DeviceListEntryCount(const std::uint8_t *datagram, std::size_t size);
// Entry `index` (below DeviceListEntryCount) as a record, built from all zero.
DeviceRecord DecodeDeviceListEntry(const std::uint8_t *datagram, std::size_t size, std::size_t index);
// Appends every entry, in order.
void AppendDeviceList(const std::uint8_t *datagram, std::size_t size, std::vector<DeviceRecord> *devices);

// A connection-list reply: as the device list, with 22-byte entries. A datagram
// too short for the count is no connection-list reply.
constexpr std::size_t kConnectionListMinimumSize = 5;
std::size_t ConnectionListEntryCount(const std::uint8_t *datagram, std::size_t size);
ConnectionRecord DecodeConnectionListEntry(const std::uint8_t *datagram, std::size_t size, std::size_t index);

// A result reply: the router's 32-bit answer at 4. A datagram too short for it
// is no result reply.
constexpr std::size_t kResultReplySize = 8;
bool DecodeResultReply(const std::uint8_t *datagram, std::size_t size, std::uint32_t *result);

// The smallest datagram that can be the reply to a request of this type (1 to 6).
std::size_t MinimumReplySize(RequestType type);

// The notification code of a datagram, or 0 when it is shorter than 13 bytes.
std::uint8_t NoticeCodeOf(const std::uint8_t *datagram, std::size_t size);

// Little-endian fields of the protocol.
std::uint16_t ReadLe16(const std::uint8_t *bytes);
std::uint32_t ReadLe32(const std::uint8_t *bytes);
void WriteLe16(std::uint8_t *bytes, std::uint16_t value);
void WriteLe32(std::uint8_t *bytes, std::uint32_t value);

// Copies the text at `offset` of the datagram into a 260-byte field: up to its
// NUL, at most 259 characters, never past the datagram's end; empty when the
// offset lies outside. The field is zero-terminated.
void CopyWireText(const std::uint8_t *datagram, std::size_t size, std::uint64_t offset,
                  char (&field)[COMM_TEXT_FIELD_SIZE]);

}  // namespace router
