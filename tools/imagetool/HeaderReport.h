// The text `ImageTool show` prints for an image header.
#pragma once
#include "ImageHeader.h"
#include <cstdint>
#include <string>

// One "Name: value" line per header field, with what the checks expect beside the
// magic, the header checksum and the file length.
std::string FormatHeaderReport(const ImageHeader &header, uint64_t fileLength);
