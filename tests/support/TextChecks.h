// Test support: what tests ask of texts. Letter case is ignored as the platform ignores it in
// device paths.
#pragma once
#include <windows.h>

#include <string>

inline bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline bool SameTextIgnoringCase(const std::string &a, const std::string &b) {
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

inline bool StartsWithIgnoringCase(const std::string &text, const std::string &start) {
    return text.size() >= start.size() && SameTextIgnoringCase(text.substr(0, start.size()), start);
}
