#include "SelectionText.h"

#include <cctype>
#include <cstdio>

namespace selection {

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SkipSpace(const std::string &text, std::size_t &at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
}

// One word: empty (a mismatch) at the end of the text.
bool ScanWord(const std::string &text, std::size_t &at, std::string &word) {
    SkipSpace(text, at);
    const std::size_t start = at;
    while (at < text.size() && !IsSpace(text[at])) ++at;
    if (at == start) return false;
    word.assign(text, start, at - start);
    return true;
}

bool ScanLiteral(const std::string &text, std::size_t &at, char literal) {
    if (at >= text.size() || text[at] != literal) return false;
    ++at;
    return true;
}

// A decimal number with an optional sign, kept modulo 2^32 as the C scan does
// on this platform; its low 16 bits are the port.
bool ScanNumber(const std::string &text, std::size_t &at, std::uint16_t &port) {
    SkipSpace(text, at);
    std::size_t digitsAt = at;
    bool negative = false;
    if (digitsAt < text.size() && (text[digitsAt] == '+' || text[digitsAt] == '-')) {
        negative = text[digitsAt] == '-';
        ++digitsAt;
    }
    if (digitsAt >= text.size() || !IsDigit(text[digitsAt])) return false;
    std::uint32_t value = 0;
    for (at = digitsAt; at < text.size() && IsDigit(text[at]); ++at)
        value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
    if (negative) value = 0u - value;
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string Trimmed(const std::string &text) {
    std::size_t first = 0, last = text.size();
    while (first < last && IsSpace(text[first])) ++first;
    while (last > first && IsSpace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

}  // namespace

std::string ItemText(const std::string &name, const std::string &address, std::uint16_t port) {
    return name + " (" + address + " : " + std::to_string(port) + ")";
}

ScannedItem ScanItemText(const std::string &text) {
    ScannedItem item;
    std::size_t at = 0;
    if (!ScanWord(text, at, item.name)) return item;
    item.fields = 1;
    SkipSpace(text, at);
    if (!ScanLiteral(text, at, '(') || !ScanWord(text, at, item.address)) return item;
    item.fields = 2;
    SkipSpace(text, at);
    if (!ScanLiteral(text, at, ':') || !ScanNumber(text, at, item.port)) return item;
    item.fields = 3;
    return item;
}

std::string ToDisplayName(const std::string &displayName) {
    return displayName.empty() ? std::string(kAnonymousName) : displayName;
}

std::string FromDisplayName(const std::string &name) {
    constexpr std::size_t kCompared = 8;
    if (name.size() < kCompared) return name;
    for (std::size_t i = 0; i < kCompared; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(kAnonymousName[i])))
            return name;
    return std::string();
}

std::string ShortHostName(const std::string &officialName) {
    const std::size_t dot = officialName.find('.');
    if (dot == std::string::npos || dot == 0) return officialName;
    return officialName.substr(0, dot);
}

RemovalTarget ReadRemovalTarget(const std::string &text) {
    RemovalTarget target;
    target.name = Trimmed(text.substr(0, text.find('(')));
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        std::size_t at = colon + 1;
        std::uint16_t port = 0;
        if (ScanNumber(text, at, port)) target.port = port;
    }
    return target;
}

bool ListsDevices(const std::string &routerText) {
    return routerText.empty() || routerText.find(':') != std::string::npos;
}

}  // namespace selection
