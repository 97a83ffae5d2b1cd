#include "FaultPlan.h"
#include <cstdlib>
#include <cstring>

namespace boardsim {

std::uint64_t SeededRandom::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint32_t SeededRandom::Below(std::uint32_t bound) {
    return bound == 0 ? 0 : static_cast<std::uint32_t>(Next() % bound);
}

FaultInjector::FaultInjector(FaultPlan plan) : plan_(std::move(plan)), random_(plan_.seed) {}

FaultDecision FaultInjector::Decide(FaultPoint point) {
    std::uint32_t occurrence = ++counts_[static_cast<int>(point)];
    FaultDecision decision;
    bool decided = false;
    for (const FaultRule &rule : plan_.rules) {
        if (rule.point != point || rule.action == FaultAction::None) continue;
        if (occurrence >= rule.first && occurrence - rule.first < rule.times) {
            decision = {rule.action, rule.delayMs, rule.value};
            decided = true;
            break;
        }
    }
    for (const RandomFault &fault : plan_.randomFaults) {
        if (fault.point != point) continue;
        bool fires = random_.Below(1000) < fault.perMille;
        if (fires && !decided && fault.action != FaultAction::None) {
            decision = {fault.action, fault.delayMs, fault.value};
            decided = true;
        }
    }
    if (decided) log_.push_back({point, occurrence, decision.action, decision.delayMs, decision.value});
    return decision;
}

namespace {

const char *const kPointNames[] = {"connect", "host", "board", "chunk"};
const char *const kActionNames[] = {"none",        "stale",      "drop-answer",  "delay-answer",
                                    "duplicate-answer", "ignore", "refuse",      "repeat",
                                    "drop-header", "drop-payload", "delay-payload", "duplicate",
                                    "delay-header", "duplicate-header",
                                    "reject",      "stall",      "disconnect",   "unplug"};
static_assert(sizeof(kActionNames) / sizeof(kActionNames[0]) == static_cast<int>(FaultAction::Unplug) + 1,
              "every action has a name");

std::vector<std::string> SplitColons(const std::string &text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) return parts;
        start = colon + 1;
    }
}

bool ParseNumber(const std::string &text, std::uint32_t *value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char *end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFull) return false;
    *value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool ParsePoint(const std::string &text, FaultPoint *point) {
    for (int i = 0; i < 4; ++i)
        if (text == kPointNames[i]) {
            *point = static_cast<FaultPoint>(i);
            return true;
        }
    return false;
}

bool ParseAction(const std::string &text, FaultAction *action) {
    for (std::size_t i = 1; i < sizeof(kActionNames) / sizeof(kActionNames[0]); ++i)
        if (text == kActionNames[i]) {
            *action = static_cast<FaultAction>(i);
            return true;
        }
    return false;
}

bool ParseTail(const std::vector<std::string> &parts, std::size_t from, std::uint32_t *delayMs, std::uint32_t *value) {
    if (parts.size() > from + 2) return false;
    if (parts.size() > from && !ParseNumber(parts[from], delayMs)) return false;
    if (parts.size() > from + 1 && !ParseNumber(parts[from + 1], value)) return false;
    return true;
}

}  // namespace

const char *FaultPointName(FaultPoint point) { return kPointNames[static_cast<int>(point)]; }
const char *FaultActionName(FaultAction action) { return kActionNames[static_cast<int>(action)]; }

bool ParseFaultRule(const std::string &text, FaultRule *rule) {
    std::vector<std::string> parts = SplitColons(text);
    FaultRule parsed;
    if (parts.size() < 4 || !ParsePoint(parts[0], &parsed.point) || !ParseNumber(parts[1], &parsed.first) ||
        !ParseNumber(parts[2], &parsed.times) || !ParseAction(parts[3], &parsed.action) ||
        !ParseTail(parts, 4, &parsed.delayMs, &parsed.value) || parsed.first == 0)
        return false;
    *rule = parsed;
    return true;
}

bool ParseRandomFault(const std::string &text, RandomFault *fault) {
    std::vector<std::string> parts = SplitColons(text);
    RandomFault parsed;
    if (parts.size() < 3 || !ParsePoint(parts[0], &parsed.point) || !ParseAction(parts[1], &parsed.action) ||
        !ParseNumber(parts[2], &parsed.perMille) || parsed.perMille > 1000 ||
        !ParseTail(parts, 3, &parsed.delayMs, &parsed.value))
        return false;
    *fault = parsed;
    return true;
}

}  // namespace boardsim
