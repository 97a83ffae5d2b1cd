// Scripted and seeded misbehaviour of the simulated board. A plan holds
// explicit rules ("the 3rd host packet is refused twice") and random rules
// ("each board packet loses its payload with 5% chance") driven by a seeded
// generator; the same seed and the same sequence of events give the same
// faults, so a failing run can be repeated.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace boardsim {

// Where the board asks its plan what to do.
enum class FaultPoint : std::uint8_t {
    ConnectRequest,  // a 'C' from the host, before the 'c' reply
    HostPacket,      // a host data packet ('A'), after its payload arrived, before the answer
    BoardPacket,     // each write of one of the board's own data packets (first send and resends)
    UpdateChunk,     // each update packet, before the board judges it
};

enum class FaultAction : std::uint8_t {
    None,
    StalePackets,     // ConnectRequest: `value` left-over packets (default 2) go out before the reply
    DropAnswer,       // ConnectRequest, HostPacket: the packet is taken, its answer is lost
    DelayAnswer,      // ConnectRequest, HostPacket: the answer goes out `delayMs` late (reading waits too)
    DuplicateAnswer,  // ConnectRequest, HostPacket: the answer goes out twice
    IgnorePacket,     // HostPacket: the packet is lost: neither taken nor answered
    Refuse,           // HostPacket: answered 'n' instead of 'a', not taken
    RepeatRequest,    // HostPacket: answered 'e' instead of 'a', not taken
    DropHeader,       // BoardPacket: nothing of this send reaches the host
    DropPayload,      // BoardPacket: the header goes out, its payload does not
    DelayPayload,     // BoardPacket: the payload follows its header `delayMs` later
    DuplicatePacket,  // BoardPacket: header and payload go out twice
    DelayHeader,      // BoardPacket: the whole packet goes out `delayMs` late
    DuplicateHeader,  // BoardPacket: the header goes out twice, then the payload once
    RejectChunk,      // UpdateChunk: the chunk is refused with error code `value` (default 0x0201)
    Stall,            // any: the board stops reading for `delayMs` first, then goes on normally
    Disconnect,       // any: the board drops the connection (the host sees ERROR_PIPE_NOT_CONNECTED) instead
    Unplug,           // any: the board disappears (link removed, interface absent) instead
};

// Fires on occurrences first, first+1, ..., first+times-1 of its point (1-based).
struct FaultRule {
    FaultPoint point = FaultPoint::HostPacket;
    std::uint32_t first = 1;
    std::uint32_t times = 1;
    FaultAction action = FaultAction::None;
    std::uint32_t delayMs = 0;
    std::uint32_t value = 0;
};

// Fires on each occurrence of its point with probability perMille / 1000.
struct RandomFault {
    FaultPoint point = FaultPoint::HostPacket;
    FaultAction action = FaultAction::None;
    std::uint32_t perMille = 0;
    std::uint32_t delayMs = 0;
    std::uint32_t value = 0;
};

struct FaultPlan {
    std::uint64_t seed = 1;
    std::vector<FaultRule> rules;
    std::vector<RandomFault> randomFaults;
};

struct FaultDecision {
    FaultAction action = FaultAction::None;
    std::uint32_t delayMs = 0;
    std::uint32_t value = 0;
};

// One fault that fired, for comparing runs.
struct FaultRecord {
    FaultPoint point = FaultPoint::HostPacket;
    std::uint32_t occurrence = 0;
    FaultAction action = FaultAction::None;
    std::uint32_t delayMs = 0;
    std::uint32_t value = 0;

    bool operator==(const FaultRecord &other) const {
        return point == other.point && occurrence == other.occurrence && action == other.action &&
               delayMs == other.delayMs && value == other.value;
    }
};

// splitmix64: small, fast and the same on every compiler and target.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    std::uint32_t Below(std::uint32_t bound);  // 0 .. bound-1; 0 when bound is 0

private:
    std::uint64_t state_;
};

// Not thread-safe: the board asks it under its own lock.
class FaultInjector {
public:
    explicit FaultInjector(FaultPlan plan = {});

    // Counts one occurrence of `point` and says what to do. Explicit rules come
    // first; every random rule of the point draws once per occurrence whether it
    // is used or not, so the draws stay aligned with the occurrences.
    FaultDecision Decide(FaultPoint point);

    const std::vector<FaultRecord> &Log() const { return log_; }
    std::uint32_t Occurrences(FaultPoint point) const { return counts_[static_cast<int>(point)]; }

private:
    FaultPlan plan_;
    SeededRandom random_;
    std::uint32_t counts_[4] = {0, 0, 0, 0};
    std::vector<FaultRecord> log_;
};

const char *FaultPointName(FaultPoint point);
const char *FaultActionName(FaultAction action);

// Text forms, as SimBoard.exe takes them:
//   rule:   POINT:FIRST:TIMES:ACTION[:DELAYMS[:VALUE]]    e.g. "host:3:2:refuse"
//   random: POINT:ACTION:PERMILLE[:DELAYMS[:VALUE]]       e.g. "board:drop-payload:50"
// POINT is connect, host, board or chunk; ACTION is the name FaultActionName gives
// (stale, drop-answer, delay-answer, duplicate-answer, ignore, refuse, repeat,
// drop-header, drop-payload, delay-payload, duplicate, delay-header, duplicate-header,
// reject, stall, disconnect, unplug).
// VALUE may be decimal or 0x-hexadecimal.
bool ParseFaultRule(const std::string &text, FaultRule *rule);
bool ParseRandomFault(const std::string &text, RandomFault *fault);

}  // namespace boardsim
