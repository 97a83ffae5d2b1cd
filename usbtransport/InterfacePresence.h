// Whether device setup still lists a board's interface as present. A removal watch asks once its
// registration stands: a board that went between the open of its device and the registration
// reported its removal to no window.
#pragma once
#include <cstddef>
#include <string>

namespace wirrow {

enum class InterfacePresence {
    Present,
    Absent,   // setup knows the interface, and it is not present
    Unknown,  // setup could not be asked, or does not know the path: the link's transfers tell
};

InterfacePresence BoardInterfacePresence(const std::string &path);

// The platform's comparison of two interface names: letter case ignored as the system's code page
// defines it, multibyte characters included. `name` is read no further than `length`.
bool SameInterfaceName(const char *name, size_t length, const std::string &path);

}  // namespace wirrow
