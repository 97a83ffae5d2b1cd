// Settings of one simulated board.
#pragma once
#include "FaultPlan.h"
#include "LinkCodec.h"
#include <cstdint>
#include <string>

namespace boardsim {

struct BoardConfig {
    std::string instance = "sim0";  // interface path \\?\usb#vid_1234&pid_5678#<instance>#{...}
    LinkParameters link;            // stated in the connect reply; bit 4 of linkFlags also sets
                                    // the byte order of the update protocol
    std::uint32_t maxPayload = 16384;
    bool updateMode = true;         // messages on channel 66 / sub-channel 1 are update packets
    std::uint32_t flashWriteDelayMs = 0;  // time the board "writes its flash" before the last reply
    // The board's own waits; 0 takes the value from the link parameters (at least 1 s / 1 send).
    std::uint32_t answerTimeoutMs = 0;   // for the host's answer to a board packet
    std::uint32_t payloadTimeoutMs = 0;  // for a host payload after its header
    std::uint32_t sendAttempts = 0;      // sends of one board packet before giving up
    FaultPlan faults;
    bool listInterface = true;  // register with device setup (false: only the path opens)
};

}  // namespace boardsim
