// Checking a firmware image file before it may be downloaded, and the updater's
// own version against which an image's requirement is checked.
#pragma once
#include "ImageCheck.h"
#include <cstdint>
#include <string>

// Opens `path` (others may read and write it meanwhile), runs the checks in this
// order: header present, header checksum and magic, required version, file length,
// payload sum; closes the file and reports the first failure or acceptance.
ImageCheckResult CheckImageFile(const std::string &path, uint32_t programVersion);

// The message box text for an outcome; empty for Accepted and for FileError,
// which is reported with the framework's own file-error message.
std::string ImageCheckMessage(ImageCheckOutcome outcome);

// The packed product version of the running program's version resource; 0 when
// the program carries no readable version resource, so that only images that
// require no particular updater version pass the version check.
uint32_t ReadProgramVersion();
// The same for any module file; false when it has no readable version resource.
bool ReadPackedProductVersion(const std::string &modulePath, uint32_t &packed);
