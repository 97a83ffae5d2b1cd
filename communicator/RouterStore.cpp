#include "RouterStore.h"

#include "RouterLists.h"
#include "StoreKeys.h"

namespace {

std::string RouterPath(const char *host) { return std::string(store::kRoutersKey) + '\\' + host; }

// Appends the stored routers, in store order, that the list does not hold yet
// (same address ignoring case and same port); the list is searched as it grows.
// Values that cannot be read as text or have no colon are left out.
void AppendStoredRouters(std::vector<RouterRecord> *routers) {
    CHivekey base;
    RegistryKey key = store::OpenStoreKey(base, store::kRoutersKey);
    if (!key) return;
    routerlist::ListedAddresses listed(*routers);
    store::ForEachStoreName(key, store::StoreNames::Values, [&](const char *name) {
        char text[COMM_TEXT_FIELD_SIZE];
        RouterRecord router;
        if (store::ReadStoreText(base, RouterPath(name), text) == 0 && store::ParseRouterValue(name, text, &router) &&
            listed.Add(router))
            routers->push_back(router);
        return true;
    });
}

}  // namespace

CommResult RouterStore::AddRouter(const char *host, std::uint32_t port) {
    if (host == nullptr) return COMM_E_POINTER;
    if (!store::IsRouterValueName(host)) return COMM_ERROR_INVALID_PARAMETER;
    // A value that cannot be read back into a record field would never be listed.
    const std::string text = store::RouterValueText(host, port);
    if (text.size() > kMaxTextLength) return COMM_ERROR_INVALID_PARAMETER;
    return CHivekey().Write(text.c_str(), RouterPath(host).c_str(), REG_SZ);
}

CommResult RouterStore::RemoveRouter(const char *host) {
    if (host == nullptr) return COMM_E_POINTER;
    // An empty host, or one with a backslash, would make the path name a key
    // (all stored routers at once) instead of one value.
    if (!store::IsRouterValueName(host)) return COMM_ERROR_INVALID_PARAMETER;
    return CHivekey().Delete(RouterPath(host).c_str());
}

CommResult RouterStore::GetRouters(RouterRecord *records, std::uint32_t *count) {
    if (!store::UsableCount(count)) return COMM_E_POINTER;
    std::vector<RouterRecord> routers;
    client_.DiscoverRouters(&routers);
    AppendStoredRouters(&routers);
    return store::HandOutRecords(routers, records, count);
}
