// How Communicator copies a text into a fixed-size field of its own records or a
// caller's: the text up to its first zero, at most `length` bytes of it and at
// most the field's size less one, then a zero. The field's bytes after that zero
// keep what they held. Pure code, also built natively for fuzzing.
#pragma once
#include "CommRecords.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

// The longest text of a record field, without its zero.
constexpr std::size_t kMaxTextLength = COMM_TEXT_FIELD_SIZE - 1;

template <std::size_t N> void CopyText(char (&field)[N], const char *text, std::size_t length = N - 1) {
    length = ::strnlen(text, std::min(length, N - 1));
    std::memcpy(field, text, length);
    field[length] = '\0';
}
