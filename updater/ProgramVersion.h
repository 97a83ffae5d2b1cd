// The updater's version packed into 32 bits: the low byte of each of the four
// product-version numbers, major << 24 | minor << 16 | build << 8 | revision.
// Image headers state the lowest updater version they need in the same packing.
#pragma once
#include <cstdint>
#include <string>

constexpr uint32_t PackProgramVersion(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision) {
    return (major & 0xFFu) << 24 | (minor & 0xFFu) << 16 | (build & 0xFFu) << 8 | (revision & 0xFFu);
}

// Flashwell's own product version, from the project version that also feeds its
// version resource (see updater/CMakeLists.txt).
#if defined(FLASHWELL_VERSION_MAJOR)
constexpr uint32_t kFlashwellProgramVersion = PackProgramVersion(
    FLASHWELL_VERSION_MAJOR, FLASHWELL_VERSION_MINOR, FLASHWELL_VERSION_PATCH, FLASHWELL_VERSION_TWEAK);
#endif

// "X.Y.Z.W", each number 0..255, to the packed value; false for anything else.
bool ParseVersionText(const std::string &text, uint32_t &packed);
// The packed value as "X.Y.Z.W".
std::string FormatVersionText(uint32_t packed);
