#include "InterfacePresence.h"
#include "BoardInterfaceGuid.h"
#include "BoardInterfaces.h"
#include <windows.h>

namespace wirrow {

namespace {

// Whether the set lists the path; false for a set that failed.
bool Lists(const DeviceInfoSet &interfaces, const std::string &path) {
    for (const std::string &listed : BoardInterfacesOf(interfaces))
        if (SameInterfaceName(listed.data(), listed.size(), path)) return true;
    return false;
}

}  // namespace

InterfacePresence BoardInterfacePresence(const std::string &path) {
    const DeviceInfoSet present = PresentInterfaces(&BoardInterfaceGuid);
    if (!present) return InterfacePresence::Unknown;
    if (Lists(present, path)) return InterfacePresence::Present;
    // A path setup does not know at all (a device reached some other way) is left to the transfers.
    return Lists(RegisteredInterfaces(BoardInterfaceGuid), path) ? InterfacePresence::Absent
                                                                 : InterfacePresence::Unknown;
}

bool SameInterfaceName(const char *name, size_t length, const std::string &path) {
    if (path.empty() || length > 0x7FFFFFFF || path.size() > 0x7FFFFFFF) return false;
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, static_cast<int>(length), path.c_str(),
                            static_cast<int>(path.size())) == CSTR_EQUAL;
}

}  // namespace wirrow
