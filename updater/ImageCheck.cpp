#include "ImageCheck.h"
#include <cstring>

ImageCheckOutcome CheckHeaderAndLength(const ImageHeader &header, uint32_t programVersion, uint64_t imageLength) {
    switch (CheckHeader(header, programVersion)) {
    case HeaderVerdict::Corrupted: return ImageCheckOutcome::Corrupted;
    case HeaderVerdict::VersionMismatch: return ImageCheckOutcome::VersionMismatch;
    case HeaderVerdict::Valid: break;
    }
    return FileLengthMatches(header, imageLength) ? ImageCheckOutcome::Accepted : ImageCheckOutcome::Corrupted;
}

ImageCheckResult AcceptedImage(const ImageHeader &header) {
    ImageCheckResult result;
    result.outcome = ImageCheckOutcome::Accepted;
    result.model = FieldText(header.model);
    result.versionText = FieldText(header.version_text);
    return result;
}

ImageCheckResult CheckImageBytes(const uint8_t *bytes, size_t size, uint32_t programVersion) {
    ImageCheckResult result;
    result.outcome = ImageCheckOutcome::Corrupted;
    if (!bytes || size < kImageHeaderSize) return result;
    ImageHeader header;
    std::memcpy(&header, bytes, kImageHeaderSize);
    result.outcome = CheckHeaderAndLength(header, programVersion, size);
    if (result.outcome != ImageCheckOutcome::Accepted) return result;
    // The length matched: the payload is exactly the bytes after the header.
    if (AddToPayloadSum(0, bytes + kImageHeaderSize, size - kImageHeaderSize) != HeaderDataChecksum(header)) {
        result.outcome = ImageCheckOutcome::Corrupted;
        return result;
    }
    return AcceptedImage(header);
}
