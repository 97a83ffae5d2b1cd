// The texts of Communicator's registry store and the records it hands out, built
// and read without any operating-system call so that they are tested directly
// and fuzzed: a router's stored value "host:port", the key names of stored
// devices, and the copy of one record into a caller's array.
#pragma once
#include "CommRecords.h"
#include "CopyText.h"
#include "LibraryPath.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace store {

// The keys under the store's base key.
constexpr char kRoutersKey[] = "Routers";
constexpr char kDevicesKey[] = "Devices";

// The text of a caller's record field: up to its zero, and at most 259
// characters when the field holds no zero.
std::string FieldText(const char (&field)[COMM_TEXT_FIELD_SIZE]);

// Whether a host can name a router's value in "Routers": not empty, at most 259
// characters (the record field and the enumeration's buffer), and without a
// backslash, which the store's paths take as a separator between keys.
bool IsRouterValueName(const char *host);
// The stored value of a router added by hand: host and the port's low 16 bits
// as "%s:%d", for example 10.0.0.5:26214.
std::string RouterValueText(const char *host, std::uint32_t port);

// A router read back from the store: its value name and its text. False when
// the text has no colon. Otherwise `router` is built from all zero: `name` the
// value name, `address` the text before the first colon without white space
// around it, `port` the decimal number at the start of the text after the colon
// (white space and one sign before it allowed, reading stops at the first other
// character, no digits give 0), kept to its low 16 bits. Texts are cut at 259
// characters.
bool ParseRouterValue(const char *valueName, const char *text, RouterRecord *router);

// The path of a candidate key of a new device, relative to the base key:
// "Devices\<display>-<kind>-<port>", with "_<suffix>" appended for suffix 1, 2,
// ... The display part is the display name, or "Anonymous" when it is empty; a
// backslash in it would split the name into keys and becomes '/' (the second
// byte of a double-byte character is left alone).
std::string DeviceKeyPath(const std::string &displayName, const char *kind, std::uint16_t port, unsigned suffix,
                          LeadBytePredicate isLeadByte);

// Copies one record into a caller's array element: every number, and of each
// text field only the text and its zero, so that the rest of the field keeps
// what the caller had there.
void CopyRecordOut(const RouterRecord &from, RouterRecord *to);
void CopyRecordOut(const DeviceRecord &from, DeviceRecord *to);

}  // namespace store
