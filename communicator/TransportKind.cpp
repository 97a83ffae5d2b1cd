#include "TransportKind.h"

#include <cstring>

namespace {

constexpr char kSerialPrefix[] = "COM";
constexpr char kUsbPrefix[] = "\\\\?\\usb#";

// Both prefixes are pure ASCII, so a byte-wise comparison with ASCII-only case
// folding is exact in every ANSI code page: a lead or trail byte of a double-byte
// character is never ASCII-equal to a prefix character at the same position
// (a lead byte is >= 0x80, and a trail byte is only reached after a lead byte has
// already mismatched). Letters outside ASCII are never folded onto ASCII ones.
char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithIgnoringCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text == '\0' || FoldAscii(*text) != FoldAscii(*prefix)) return false;
    }
    return true;
}

}  // namespace

const char *GetTransportKind(const char *address) {
    // A missing address cannot name a serial port or a USB device; it is left to
    // the network transport, which reports what it makes of it.
    if (address == nullptr) return "TCP";
    if (StartsWithIgnoringCase(address, kSerialPrefix)) return "COM";
    if (StartsWithIgnoringCase(address, kUsbPrefix)) return "USB";
    return "TCP";
}

bool HasRouter(const char *routerHost, uint32_t routerPort) {
    return routerHost != nullptr && routerHost[0] != '\0' && (routerPort & 0xFFFFu) != 0;
}

std::size_t ChooseTransport(const char *const *kinds, std::size_t count, const char *address, const char *routerHost,
                            uint32_t routerPort) {
    if (HasRouter(routerHost, routerPort)) return 0;
    const char *kind = GetTransportKind(address);
    for (std::size_t index = count; index > 1; --index) {
        if (std::strcmp(kinds[index - 1], kind) == 0) return index - 1;
    }
    return 0;
}
