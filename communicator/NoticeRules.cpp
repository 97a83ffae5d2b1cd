#include "NoticeRules.h"

namespace notices {

namespace {

// 127.0.0.0/8: the first byte of the address as it goes on the wire.
bool IsLoopback(std::uint32_t address) { return reinterpret_cast<const std::uint8_t *>(&address)[0] == 127; }

}  // namespace

AcceptedSenders::AcceptedSenders(const std::vector<Endpoint> &routers, const std::vector<std::uint32_t> &ownAddresses,
                                 std::uint16_t servicePort)
    : routers_(routers.begin(), routers.end()), ownAddresses_(ownAddresses.begin(), ownAddresses.end()),
      servicePort_(servicePort) {}

bool AcceptedSenders::Accepts(const Endpoint &sender) const {
    if (routers_.count(sender) != 0) return true;
    return sender.second == servicePort_ && (IsLoopback(sender.first) || ownAddresses_.count(sender.first) != 0);
}

std::uint32_t RefreshPacer::WaitMs(std::uint32_t now) const {
    const std::uint32_t since = now - lastEnd_;
    return !ran_ || since >= kGapMs ? 0 : kGapMs - since;
}

void RefreshPacer::Ended(std::uint32_t now) {
    ran_ = true;
    lastEnd_ = now;
}

}  // namespace notices
