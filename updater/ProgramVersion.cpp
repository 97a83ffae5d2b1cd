#include "ProgramVersion.h"

bool ParseVersionText(const std::string &text, uint32_t &packed) {
    uint32_t parts[4] = {};
    size_t part = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || ++part == 4) return false;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
            if (++digits > 3 || parts[part] > 255) return false;
        } else {
            return false;
        }
    }
    if (part != 3 || digits == 0) return false;
    packed = PackProgramVersion(parts[0], parts[1], parts[2], parts[3]);
    return true;
}

std::string FormatVersionText(uint32_t packed) {
    return std::to_string(packed >> 24) + "." + std::to_string((packed >> 16) & 0xFFu) + "." +
           std::to_string((packed >> 8) & 0xFFu) + "." + std::to_string(packed & 0xFFu);
}
