// fuzz-sources: communicator/StoreFormat.cpp
// fuzz-includes: communicator include
// A router's value read back from the registry store, which anything may have
// written: the input is a value name and a text (split at the first zero byte).
// Reading never goes beyond the texts, gives zero-terminated fields of at most
// 259 characters and an address without white space around it, lists the value
// exactly when its text has a colon, and gives back what CommAddRouter wrote.
#include "StoreFormat.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const char *bytes = reinterpret_cast<const char *>(data);
    const char *zero = static_cast<const char *>(std::memchr(bytes, '\0', size));
    const std::string name(bytes, zero ? zero : bytes + size);
    const std::string text = zero ? std::string(zero + 1, bytes + size) : std::string();
    const std::string textUpToZero(text.c_str());

    RouterRecord router;
    std::memset(&router, 0xA5, sizeof(router));
    const bool listed = store::ParseRouterValue(name.c_str(), text.c_str(), &router);
    Check(listed == (textUpToZero.find(':') != std::string::npos));
    if (listed) {
        const std::size_t addressLength = ::strnlen(router.address, sizeof(router.address));
        Check(::strnlen(router.name, sizeof(router.name)) <= kMaxTextLength);
        Check(addressLength <= kMaxTextLength);
        if (addressLength > 0) {
            Check(!IsWhiteSpace(router.address[0]));
            Check(addressLength == kMaxTextLength || !IsWhiteSpace(router.address[addressLength - 1]));
        }
        Check(router.name[sizeof(router.name) - 1] == '\0' && router.address[sizeof(router.address) - 1] == '\0');
    }

    // What CommAddRouter stores for a usable host reads back as that host
    // (trimmed, up to a colon in it) and the port.
    if (store::IsRouterValueName(name.c_str()) && name.find(':') == std::string::npos && size >= 2) {
        const std::uint32_t port = static_cast<std::uint32_t>(data[size - 1]) << 8 | data[size - 2];
        const std::string stored = store::RouterValueText(name.c_str(), port);
        if (stored.size() <= kMaxTextLength) {
            Check(store::ParseRouterValue(name.c_str(), stored.c_str(), &router));
            Check(router.port == port);
            Check(std::strcmp(router.name, name.c_str()) == 0);
            std::string trimmed = name;
            trimmed.erase(0, trimmed.find_first_not_of(" \t\n\v\f\r"));
            trimmed.erase(trimmed.find_last_not_of(" \t\n\v\f\r") + 1);
            Check(trimmed == router.address);
        }
    }
    return 0;
}
