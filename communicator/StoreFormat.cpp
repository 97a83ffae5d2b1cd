#include "StoreFormat.h"

#include "CopyText.h"

#include <cstring>

namespace store {

namespace {

constexpr char kAnonymous[] = "Anonymous";

// White space as the C library's isspace knows it in the "C" locale; bytes of
// the ANSI code page above 0x7F are never white space.
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What atoi reads, with the arithmetic done modulo 2^32 so that no number of
// digits overflows; its low 16 bits are the port.
std::uint16_t ParsePortNumber(const char *text) {
    while (IsWhiteSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint32_t value = 0;
    for (; IsDigit(*text); ++text) value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    if (negative) value = 0u - value;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string FieldText(const char (&field)[COMM_TEXT_FIELD_SIZE]) {
    return std::string(field, ::strnlen(field, kMaxTextLength));
}

bool IsRouterValueName(const char *host) {
    if (host == nullptr || host[0] == '\0') return false;
    std::size_t length = ::strnlen(host, kMaxTextLength + 1);
    return length <= kMaxTextLength && std::memchr(host, '\\', length) == nullptr;
}

std::string RouterValueText(const char *host, std::uint32_t port) {
    return std::string(host) + ':' + std::to_string(port & 0xFFFFu);
}

bool ParseRouterValue(const char *valueName, const char *text, RouterRecord *router) {
    const char *colon = std::strchr(text, ':');
    if (colon == nullptr) return false;
    *router = RouterRecord{};
    CopyText(router->name, valueName);
    const char *begin = text;
    const char *end = colon;
    while (begin < end && IsWhiteSpace(*begin)) ++begin;
    while (end > begin && IsWhiteSpace(end[-1])) --end;
    CopyText(router->address, begin, static_cast<std::size_t>(end - begin));
    router->port = ParsePortNumber(colon + 1);
    return true;
}

std::string DeviceKeyPath(const std::string &displayName, const char *kind, std::uint16_t port, unsigned suffix,
                          LeadBytePredicate isLeadByte) {
    std::string display = displayName.empty() ? std::string(kAnonymous) : displayName;
    for (std::size_t at = 0; at < display.size(); ++at) {
        if (isLeadByte(static_cast<unsigned char>(display[at])) && at + 1 < display.size()) {
            ++at;  // the second byte belongs to the same character
        } else if (display[at] == '\\') {
            display[at] = '/';
        }
    }
    std::string path = std::string(kDevicesKey) + '\\' + display + '-' + kind + '-' + std::to_string(port);
    if (suffix != 0) path += '_' + std::to_string(suffix);
    return path;
}

void CopyRecordOut(const RouterRecord &from, RouterRecord *to) {
    CopyText(to->name, from.name);
    CopyText(to->address, from.address);
    to->port = from.port;
}

void CopyRecordOut(const DeviceRecord &from, DeviceRecord *to) {
    CopyText(to->displayName, from.displayName);
    CopyText(to->address, from.address);
    to->port = from.port;
    to->extra = from.extra;
    to->features = from.features;
}

}  // namespace store
