// Building the path of a transport library that lies beside a module. Pure text
// logic, tested directly.
#pragma once
#include <cstddef>

// Tells whether a byte of the ANSI code page begins a double-byte character.
using LeadBytePredicate = bool (*)(unsigned char byte);
// The predicate of the process's ANSI code page, which the product passes.
bool IsAnsiLeadByte(unsigned char byte);

// Writes to out the module path up to and including its last backslash, followed
// by libraryName; a module path without a backslash contributes nothing. The
// backslash search steps over double-byte characters, whose second byte may be
// 0x5C in some code pages. False (out empty) when the result needs more than
// outSize bytes including its terminating zero.
bool PathBesideModule(const char *modulePath, const char *libraryName, LeadBytePredicate isLeadByte, char *out,
                      std::size_t outSize);
