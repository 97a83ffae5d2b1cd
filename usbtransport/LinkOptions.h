// The options a handle exposes through CommGetOption / CommSetOption: which
// identifiers exist, how wide their values are and which may be written.
#pragma once
#include <cstdint>

namespace wirrow {

struct OptionSpec {
    uint32_t id;
    uint8_t width;  // bytes behind the caller's value pointer
    bool writable;  // only while the handle is not connected
};

// The option with this identifier, or null for an unknown one (0, 8, 9, above 16).
const OptionSpec *FindOption(uint32_t id);

}  // namespace wirrow
