// The 128-byte header at the start of every firmware image file, and the pure
// checks on it. All multi-byte fields are little-endian in the file; the struct
// is read and written byte for byte, so the fields are accessed through the
// Get/Set helpers below, which work on either host byte order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct ImageHeader {
    uint8_t magic[4];             // 0x42340199
    uint8_t required_version[4];  // lowest updater version, packed like ProgramVersion
    char model[16];               // NUL-ended unless all 16 bytes are used
    char version_text[16];        // same encoding as model
    uint8_t data_checksum[4];     // sum of all payload bytes, modulo 2^32
    uint8_t data_length[4];       // payload length in bytes
    uint8_t reserved[79];         // covered by header_checksum only
    uint8_t header_checksum;      // sum of bytes 0..126, modulo 256
};
#pragma pack(pop)

static_assert(sizeof(ImageHeader) == 128, "ImageHeader is 128 bytes");
static_assert(offsetof(ImageHeader, magic) == 0, "magic at 0");
static_assert(offsetof(ImageHeader, required_version) == 4, "required_version at 4");
static_assert(offsetof(ImageHeader, model) == 8, "model at 8");
static_assert(offsetof(ImageHeader, version_text) == 24, "version_text at 24");
static_assert(offsetof(ImageHeader, data_checksum) == 40, "data_checksum at 40");
static_assert(offsetof(ImageHeader, data_length) == 44, "data_length at 44");
static_assert(offsetof(ImageHeader, reserved) == 48, "reserved at 48");
static_assert(offsetof(ImageHeader, header_checksum) == 127, "header_checksum at 127");

constexpr uint32_t kImageMagic = 0x42340199u;
constexpr size_t kImageHeaderSize = sizeof(ImageHeader);
constexpr size_t kImageTextFieldSize = 16;

uint32_t ReadLittleEndian32(const uint8_t bytes[4]);
void WriteLittleEndian32(uint8_t bytes[4], uint32_t value);

inline uint32_t HeaderMagic(const ImageHeader &header) { return ReadLittleEndian32(header.magic); }
inline uint32_t HeaderRequiredVersion(const ImageHeader &header) { return ReadLittleEndian32(header.required_version); }
inline uint32_t HeaderDataChecksum(const ImageHeader &header) { return ReadLittleEndian32(header.data_checksum); }
inline uint32_t HeaderDataLength(const ImageHeader &header) { return ReadLittleEndian32(header.data_length); }

// Sum of header bytes 0..126, modulo 256.
uint8_t ComputeHeaderChecksum(const ImageHeader &header);

// Adds `size` bytes, each as an unsigned value, to `sum` (wrapping modulo 2^32).
uint32_t AddToPayloadSum(uint32_t sum, const void *bytes, size_t size);

// The outcome of the checks that need only the header, in the order they apply.
enum class HeaderVerdict {
    Valid,
    Corrupted,        // wrong magic or header_checksum
    VersionMismatch,  // required_version above the updater's version
};
HeaderVerdict CheckHeader(const ImageHeader &header, uint32_t programVersion);

// Whether a file of `fileLength` bytes holds exactly the header plus data_length bytes.
bool FileLengthMatches(const ImageHeader &header, uint64_t fileLength);

// A model or version field as text: up to its first NUL, at most 16 characters.
std::string FieldText(const char (&field)[kImageTextFieldSize]);
// Stores `text` into a field, NUL-padded; false (field untouched) when longer than 16.
bool SetFieldText(char (&field)[kImageTextFieldSize], const std::string &text);

// A complete, valid header for a payload with the given length and sum; false
// when a text is longer than its field.
bool BuildImageHeader(ImageHeader &header, const std::string &model, const std::string &versionText,
                      uint32_t requiredVersion, uint32_t dataLength, uint32_t dataChecksum);
