// The routers added by hand: one text value "host:port" per router in the key
// "Routers" of the store, named by the host. CommGetRouters lists the routers
// found on the network first, then the stored ones that are not among them.
// Nothing is kept between calls: every call reads the store afresh through its
// own CHivekey. The calls throw std::bad_alloc when memory runs out.
#pragma once
#include "CommApi.h"
#include "RouterClient.h"

#include <cstdint>

class RouterStore {
public:
    explicit RouterStore(RouterClient &client) : client_(client) {}

    // CommAddRouter and CommRemoveRouter (the host alone names a stored router).
    CommResult AddRouter(const char *host, std::uint32_t port);
    CommResult RemoveRouter(const char *host);
    // The routers discovered on the network, then the stored ones not among
    // them (same address ignoring case and same port), under the count rule.
    CommResult GetRouters(RouterRecord *records, std::uint32_t *count);

private:
    RouterClient &client_;  // discovers the routers on the network
};
