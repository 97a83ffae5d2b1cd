// The router's side of the router protocol, for the router stand-in: reading
// requests and building replies and notifications. Pure code; the reply
// formats mirror what Communicator reads (communicator/RouterCodec.h).
#pragma once
#include "CommRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace routersim {

using Datagram = std::vector<std::uint8_t>;

// A request as a router reads it. Only the fields of its type are set.
struct ParsedRequest {
    std::uint8_t type = 0;
    std::uint8_t id1 = 0, id2 = 0;  // close connection
    DeviceRecord device{};          // add and remove device
};

// False for a datagram that is no request (shorter than 5 bytes, or a device
// request whose fixed part is cut short). Texts are read within the datagram.
bool ParseRequest(const std::uint8_t *bytes, std::size_t size, ParsedRequest *request);

// 526 bytes: length, port, name and address in 260-byte fields.
Datagram BuildDiscoveryReply(std::uint16_t port, const std::string &name, const std::string &address);
// As many of the devices as fit into `capacity` bytes together with their texts,
// their number in the count byte (at most 255).
Datagram BuildDeviceListReply(const std::vector<DeviceRecord> &devices, std::size_t capacity);
Datagram BuildConnectionListReply(const std::vector<ConnectionRecord> &connections, std::size_t capacity);
Datagram BuildResultReply(std::uint32_t result);
// A notification: 13 bytes, the code at byte 4.
constexpr std::size_t kNoticeSize = 13;
Datagram BuildNotice(std::uint8_t code);

// Points every text offset of a device-list or connection-list reply outside the
// datagram (a malformed reply).
void PointTextsOutside(Datagram *reply, std::uint8_t requestType);

}  // namespace routersim
