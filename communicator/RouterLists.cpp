#include "RouterLists.h"

namespace routerlist {

bool DiscoveryAnswers::Take(std::uint32_t address, std::uint16_t port, const RouterRecord &router) {
    if (routers_.size() >= kMaxDiscoveredRouters || !senders_.emplace(address, port).second) return false;
    routers_.push_back(router);
    return true;
}

void AppendUnlistedNames(std::vector<RouterRecord> *routers, const std::vector<RouterRecord> &found) {
    std::set<std::string, TextLessIgnoringCase> names;
    for (const RouterRecord &listed : *routers) names.insert(listed.name);
    for (const RouterRecord &router : found) {
        if (names.insert(router.name).second) routers->push_back(router);
    }
}

bool ListedAddresses::Less::operator()(const std::pair<std::uint16_t, std::string> &a,
                                       const std::pair<std::uint16_t, std::string> &b) const {
    if (a.first != b.first) return a.first < b.first;
    return TextLessIgnoringCase()(a.second, b.second);
}

ListedAddresses::ListedAddresses(const std::vector<RouterRecord> &routers) {
    for (const RouterRecord &router : routers) Add(router);
}

bool ListedAddresses::Add(const RouterRecord &router) { return listed_.emplace(router.port, router.address).second; }

}  // namespace routerlist
