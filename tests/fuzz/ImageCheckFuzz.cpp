// fuzz-sources: updater/ImageCheck.cpp updater/ImageHeader.cpp
// fuzz-includes: updater
// A whole image file held in memory, of any length and content, run through every check; and
// the same payload behind a header built for it, which must pass.
#include "ImageCheck.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

constexpr uint32_t kProgramVersion = 0x01000002;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const ImageCheckResult result = CheckImageBytes(data, size, kProgramVersion);
    Require(result.outcome == ImageCheckOutcome::Accepted || result.outcome == ImageCheckOutcome::Corrupted ||
            result.outcome == ImageCheckOutcome::VersionMismatch);
    if (result.outcome == ImageCheckOutcome::Accepted) {
        ImageHeader header;
        std::memcpy(&header, data, kImageHeaderSize);
        Require(size == kImageHeaderSize + HeaderDataLength(header));
        Require(AddToPayloadSum(0, data + kImageHeaderSize, size - kImageHeaderSize) == HeaderDataChecksum(header));
        Require(result.model == FieldText(header.model));
    } else {
        Require(result.model.empty() && result.versionText.empty());
    }

    // The input as a payload behind a header made for it passes; one byte more or less does not.
    ImageHeader built;
    Require(BuildImageHeader(built, "FUZZ", "1.0", 0, static_cast<uint32_t>(size), AddToPayloadSum(0, data, size)));
    std::vector<uint8_t> image(kImageHeaderSize + size + 1);
    std::memcpy(image.data(), &built, kImageHeaderSize);
    if (size) std::memcpy(image.data() + kImageHeaderSize, data, size);
    Require(CheckImageBytes(image.data(), kImageHeaderSize + size, kProgramVersion).outcome == ImageCheckOutcome::Accepted);
    Require(CheckImageBytes(image.data(), kImageHeaderSize + size + 1, kProgramVersion).outcome ==
            ImageCheckOutcome::Corrupted);
    if (size) {
        Require(CheckImageBytes(image.data(), kImageHeaderSize + size - 1, kProgramVersion).outcome ==
                ImageCheckOutcome::Corrupted);
    }
    return 0;
}
