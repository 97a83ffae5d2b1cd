// How Communicator compares names and addresses: as multibyte text of the ANSI
// code page, ignoring case (the C library's _mbsicmp), the same way everywhere.
#pragma once
#include <mbstring.h>

#include <string>

inline int CompareIgnoringCase(const char *a, const char *b) {
    return ::_mbsicmp(reinterpret_cast<const unsigned char *>(a), reinterpret_cast<const unsigned char *>(b));
}

inline bool SameTextIgnoringCase(const char *a, const char *b) { return CompareIgnoringCase(a, b) == 0; }

// The order of the same comparison, for sorted sets of texts.
struct TextLessIgnoringCase {
    bool operator()(const std::string &a, const std::string &b) const {
        return CompareIgnoringCase(a.c_str(), b.c_str()) < 0;
    }
};
