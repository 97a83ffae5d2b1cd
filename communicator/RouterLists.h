// The router lists of discovery and CommGetRouters, built without any
// operating-system call so that they are tested directly. Answers to a
// broadcast may come from anyone on the network: one is taken per sender and
// only up to a limit. Names and addresses listed already are found in sorted
// sets, never by comparing every entry with every other.
#pragma once
#include "CommRecords.h"
#include "TextCompare.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace routerlist {

// The most routers one discovery takes from the network's answers.
constexpr std::size_t kMaxDiscoveredRouters = 256;

// The routers that answered one discovery: the first answer of each sending
// address and port, in the order taken, up to kMaxDiscoveredRouters.
class DiscoveryAnswers {
public:
    // The router that a sender (address and port as received) reported: true
    // when it is listed now; false when that sender answered already or the
    // list is full.
    bool Take(std::uint32_t address, std::uint16_t port, const RouterRecord &router);
    const std::vector<RouterRecord> &Routers() const { return routers_; }

private:
    std::set<std::pair<std::uint32_t, std::uint16_t>> senders_;
    std::vector<RouterRecord> routers_;
};

// Appends the routers of `found`, in order, whose name (ignoring case)
// `routers` does not hold yet. The list is searched as it grows: of several
// routers with one name, the first stays.
void AppendUnlistedNames(std::vector<RouterRecord> *routers, const std::vector<RouterRecord> &found);

// The addresses (ignoring case) and ports of a list of routers.
class ListedAddresses {
public:
    explicit ListedAddresses(const std::vector<RouterRecord> &routers);
    // True when no router with this address and port was listed; it is now.
    bool Add(const RouterRecord &router);

private:
    struct Less {
        bool operator()(const std::pair<std::uint16_t, std::string> &a,
                        const std::pair<std::uint16_t, std::string> &b) const;
    };
    std::set<std::pair<std::uint16_t, std::string>, Less> listed_;
};

}  // namespace routerlist
