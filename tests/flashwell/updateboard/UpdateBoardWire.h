// The test transport "updateboard" passes each Comm API call that reaches a board
// over the board's device path (a named pipe behind a simulated USB interface) to
// the test, which plays the board and answers. Records on the pipe:
//   request: kind (1 byte), length (4 bytes, little-endian), `length` bytes
//   answer:  result (4 bytes), then for
//            Connect: max payload (4), host order (4);
//            Receive: length (4), `length` bytes
//            (others: the result alone)
#pragma once
#include <cstdint>

namespace updateboard {

enum RequestKind : uint8_t {
    Open = 'O',        // payload: the device path
    Connect = 'C',     // payload: channel (4), sub-channel (1)
    Send = 'S',        // payload: the message, then channel (4) and sub-channel (4)
    Receive = 'R',     // payload: the receive buffer's capacity (4)
    Disconnect = 'D',  // no payload
};

}  // namespace updateboard
