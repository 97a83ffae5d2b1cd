// fuzz-sources: updater/ImageHeader.cpp
// fuzz-includes: updater
// An image file's 128-byte header as anyone may write it: the checks, the text fields (which
// need not end in a NUL), the length test against file lengths around the stated one, and a
// header rebuilt from the texts it carries.
#include "ImageHeader.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kImageHeaderSize + 4) return 0;
    ImageHeader header;
    std::memcpy(&header, data, kImageHeaderSize);
    uint32_t programVersion;
    std::memcpy(&programVersion, data + kImageHeaderSize, 4);

    const HeaderVerdict verdict = CheckHeader(header, programVersion);
    const bool intact = HeaderMagic(header) == kImageMagic && ComputeHeaderChecksum(header) == header.header_checksum;
    if (!intact) Require(verdict == HeaderVerdict::Corrupted);
    else if (HeaderRequiredVersion(header) > programVersion) Require(verdict == HeaderVerdict::VersionMismatch);
    else Require(verdict == HeaderVerdict::Valid);

    const uint64_t stated = kImageHeaderSize + uint64_t(HeaderDataLength(header));
    Require(FileLengthMatches(header, stated));
    Require(!FileLengthMatches(header, stated + 1));
    Require(!FileLengthMatches(header, stated - 1));
    Require(!FileLengthMatches(header, stated + (uint64_t(1) << 32)));

    const std::string model = FieldText(header.model);
    const std::string versionText = FieldText(header.version_text);
    Require(model.size() <= kImageTextFieldSize && versionText.size() <= kImageTextFieldSize);
    Require(model.find('\0') == std::string::npos);

    ImageHeader rebuilt;
    Require(BuildImageHeader(rebuilt, model, versionText, HeaderRequiredVersion(header), HeaderDataLength(header),
                             HeaderDataChecksum(header)));
    Require(CheckHeader(rebuilt, HeaderRequiredVersion(header)) == HeaderVerdict::Valid);
    Require(FieldText(rebuilt.model) == model && FieldText(rebuilt.version_text) == versionText);
    Require(FileLengthMatches(rebuilt, stated));
    return 0;
}
