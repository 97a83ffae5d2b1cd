// The verdict on a firmware image: the outcomes of the checks in the order they
// apply, and those checks run on an image held whole in memory. Pure logic: the
// file check (ImageFile.h) reads a file through the same steps.
#pragma once
#include "ImageHeader.h"
#include <cstddef>
#include <cstdint>
#include <string>

enum class ImageCheckOutcome {
    Accepted,
    Corrupted,        // short header, wrong magic or header_checksum, wrong length or data_checksum
    VersionMismatch,  // required_version above the updater's version
    OutOfMemory,      // no read buffer
    FileError,        // the file could not be opened or read; systemError tells why
};

struct ImageCheckResult {
    ImageCheckOutcome outcome = ImageCheckOutcome::FileError;
    std::string model;        // set when Accepted
    std::string versionText;  // set when Accepted
    uint32_t systemError = 0; // set for FileError: the Win32 error code
};

// The checks that need the header and the image's length: header checksum and magic, required
// version, length. Accepted when the payload sum is all that is left to check.
ImageCheckOutcome CheckHeaderAndLength(const ImageHeader &header, uint32_t programVersion, uint64_t imageLength);

// The result for an image whose every check passed: its model and version texts.
ImageCheckResult AcceptedImage(const ImageHeader &header);

// Every check on `size` bytes of a whole image file: header present, header checksum and magic,
// required version, length, payload sum.
ImageCheckResult CheckImageBytes(const uint8_t *bytes, size_t size, uint32_t programVersion);
