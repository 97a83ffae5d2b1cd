// The texts of the board-selection dialog, made and read without any
// operating-system call so that they are tested directly and fuzzed: the entry
// texts of both lists ("name (address : port)") and the scan that takes them
// apart again, the "Anonymous" name of a board without one, the host name of a
// router added by hand, and the entry text the remove button reads. (What a
// router's notification asks for is read by RouterCodec's NoticeCodeOf.)
#pragma once
#include <cstdint>
#include <string>

namespace selection {

// The name shown for a board without a display name.
constexpr char kAnonymousName[] = "Anonymous";

// "%s (%s : %d)": an entry of the router list (name, address, port of a
// RouterRecord) or of the device list (display name, address, port).
std::string ItemText(const std::string &name, const std::string &address, std::uint16_t port);

// An entry text scanned with the entry pattern: each text field takes one word
// (leading white space skipped, up to the next white space), white space in the
// pattern matches any run of it (none too), "(" and ":" must match, the port is
// a decimal number with an optional sign. `fields` counts what matched before
// the first mismatch (0 to 3); the fields after it stay empty (port 0). A name
// or address with a blank in it therefore does not scan.
struct ScannedItem {
    int fields = 0;
    std::string name;
    std::string address;
    std::uint16_t port = 0;  // the low 16 bits of the number
};
ScannedItem ScanItemText(const std::string &text);

// The name a board is listed under: its display name, or "Anonymous".
std::string ToDisplayName(const std::string &displayName);
// A listed name back to a display name: empty when its first 8 characters are
// those of "Anonymous" in any case, else unchanged.
std::string FromDisplayName(const std::string &name);

// The host name of a router added by hand: the official name cut before its
// first "." when that is not its first character ("lab.example.com" -> "lab").
std::string ShortHostName(const std::string &officialName);

// What the remove button reads from a router entry: the text before the first
// "(" without white space around it, and the decimal number after the first
// ":" (0 when there is none).
struct RemovalTarget {
    std::string name;
    std::uint16_t port = 0;
};
RemovalTarget ReadRemovalTarget(const std::string &text);

// Whether selecting a router entry lists devices: an entry without ":" names no
// router, except the empty entry, which stands for this computer's store.
bool ListsDevices(const std::string &routerText);

}  // namespace selection
