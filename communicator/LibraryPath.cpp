#include "LibraryPath.h"

#include <windows.h>

#include <cstring>

bool IsAnsiLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

bool PathBesideModule(const char *modulePath, const char *libraryName, LeadBytePredicate isLeadByte, char *out,
                      std::size_t outSize) {
    if (outSize == 0) return false;
    out[0] = '\0';
    std::size_t folderLength = 0;
    for (std::size_t at = 0; modulePath[at] != '\0';) {
        auto byte = static_cast<unsigned char>(modulePath[at]);
        if (byte == '\\') folderLength = at + 1;
        // A lead byte and the byte after it form one character.
        at += (isLeadByte(byte) && modulePath[at + 1] != '\0') ? 2 : 1;
    }
    std::size_t nameLength = std::strlen(libraryName);
    if (folderLength + nameLength + 1 > outSize) return false;
    std::memcpy(out, modulePath, folderLength);
    std::memcpy(out + folderLength, libraryName, nameLength + 1);
    return true;
}
