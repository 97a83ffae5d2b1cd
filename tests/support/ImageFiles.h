// Test support: firmware image files and their payloads, made with the updater's own header
// code (ImageHeader.h, of updatercore).
#pragma once
#include "ImageHeader.h"
#include "Payloads.h"
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// A valid image file's bytes: header then payload.
inline std::vector<uint8_t> ImageBytes(const std::vector<uint8_t> &payload, uint32_t requiredVersion = 0x01000002,
                                       const std::string &model = "BoardX", const std::string &version = "1.2.3") {
    ImageHeader header;
    BuildImageHeader(header, model, version, requiredVersion, static_cast<uint32_t>(payload.size()), SumOf(payload));
    std::vector<uint8_t> bytes(sizeof(header) + payload.size());
    std::memcpy(bytes.data(), &header, sizeof(header));
    if (!payload.empty()) std::memcpy(bytes.data() + sizeof(header), payload.data(), payload.size());
    return bytes;
}

// Rewrites the header checksum after a test changed header bytes on purpose.
inline void ResealHeader(std::vector<uint8_t> &bytes) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[127] = sum;
}
