#include "ImageHeader.h"
#include <cstring>

uint32_t ReadLittleEndian32(const uint8_t bytes[4]) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteLittleEndian32(uint8_t bytes[4], uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

uint8_t ComputeHeaderChecksum(const ImageHeader &header) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&header);
    uint8_t sum = 0;
    for (size_t i = 0; i < offsetof(ImageHeader, header_checksum); ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

uint32_t AddToPayloadSum(uint32_t sum, const void *bytes, size_t size) {
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < size; ++i) sum += p[i];
    return sum;
}

HeaderVerdict CheckHeader(const ImageHeader &header, uint32_t programVersion) {
    if (ComputeHeaderChecksum(header) != header.header_checksum || HeaderMagic(header) != kImageMagic)
        return HeaderVerdict::Corrupted;
    if (HeaderRequiredVersion(header) > programVersion) return HeaderVerdict::VersionMismatch;
    return HeaderVerdict::Valid;
}

bool FileLengthMatches(const ImageHeader &header, uint64_t fileLength) {
    return fileLength == static_cast<uint64_t>(HeaderDataLength(header)) + kImageHeaderSize;
}

std::string FieldText(const char (&field)[kImageTextFieldSize]) {
    const void *nul = std::memchr(field, '\0', kImageTextFieldSize);
    size_t length = nul ? static_cast<size_t>(static_cast<const char *>(nul) - field) : kImageTextFieldSize;
    return std::string(field, length);
}

bool SetFieldText(char (&field)[kImageTextFieldSize], const std::string &text) {
    if (text.size() > kImageTextFieldSize) return false;
    std::memset(field, 0, kImageTextFieldSize);
    std::memcpy(field, text.data(), text.size());
    return true;
}

bool BuildImageHeader(ImageHeader &header, const std::string &model, const std::string &versionText,
                      uint32_t requiredVersion, uint32_t dataLength, uint32_t dataChecksum) {
    ImageHeader built;
    std::memset(&built, 0, sizeof(built));
    WriteLittleEndian32(built.magic, kImageMagic);
    WriteLittleEndian32(built.required_version, requiredVersion);
    if (!SetFieldText(built.model, model) || !SetFieldText(built.version_text, versionText)) return false;
    WriteLittleEndian32(built.data_checksum, dataChecksum);
    WriteLittleEndian32(built.data_length, dataLength);
    built.header_checksum = ComputeHeaderChecksum(built);
    header = built;
    return true;
}
