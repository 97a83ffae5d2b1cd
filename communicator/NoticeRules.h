// How the board-selection dialog takes the routers' notices, decided without
// any operating-system call so that it is tested directly. Anyone on the network
// can send to the dialog's port, and every refresh a notice asks for blocks the
// dialog for a discovery or a device query: only the notices of the routers it
// lists and of this computer's router service are taken, all those queued are
// taken before one refresh, and refreshes run at most once a second.
#pragma once
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace notices {

// A sender: its IPv4 address in network order and its port.
using Endpoint = std::pair<std::uint32_t, std::uint16_t>;

class AcceptedSenders {
public:
    // The address and port of each router listed, this computer's addresses
    // besides the loopback ones, and the port of its router service.
    AcceptedSenders(const std::vector<Endpoint> &routers, const std::vector<std::uint32_t> &ownAddresses,
                    std::uint16_t servicePort);
    // A listed router, or the router service on this computer's service port.
    bool Accepts(const Endpoint &sender) const;

private:
    std::set<Endpoint> routers_;
    std::set<std::uint32_t> ownAddresses_;
    std::uint16_t servicePort_;
};

// When the next refresh may start: a second after the last one ended. Times are
// tick counts in milliseconds, which wrap around.
class RefreshPacer {
public:
    static constexpr std::uint32_t kGapMs = 1000;
    // Milliseconds from `now` until a refresh may start; 0: at once.
    std::uint32_t WaitMs(std::uint32_t now) const;
    void Ended(std::uint32_t now);

private:
    bool ran_ = false;
    std::uint32_t lastEnd_ = 0;
};

}  // namespace notices
