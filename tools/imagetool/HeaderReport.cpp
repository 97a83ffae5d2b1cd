#include "HeaderReport.h"
#include "ProgramVersion.h"
#include <cstdio>

namespace {

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string Line(const char *name, const std::string &value) {
    std::string line = std::string(name) + ":";
    line.resize(19, ' ');
    return line + value + "\n";
}

}  // namespace

std::string FormatHeaderReport(const ImageHeader &header, uint64_t fileLength) {
    const uint32_t magic = HeaderMagic(header);
    const uint8_t computed = ComputeHeaderChecksum(header);
    const uint64_t expectedLength = static_cast<uint64_t>(HeaderDataLength(header)) + kImageHeaderSize;
    std::string report;
    report += Line("Magic", Hex(magic, 8) + (magic == kImageMagic ? " (good)" : " (expected " + Hex(kImageMagic, 8) + ")"));
    report += Line("Required version",
                   FormatVersionText(HeaderRequiredVersion(header)) + " (" + Hex(HeaderRequiredVersion(header), 8) + ")");
    report += Line("Model", "\"" + FieldText(header.model) + "\"");
    report += Line("Version text", "\"" + FieldText(header.version_text) + "\"");
    report += Line("Data checksum", Hex(HeaderDataChecksum(header), 8));
    report += Line("Data length", std::to_string(HeaderDataLength(header)));
    report += Line("Header checksum", Hex(header.header_checksum, 2) +
                                          (computed == header.header_checksum ? " (good)" : " (computed " + Hex(computed, 2) + ")"));
    report += Line("File length", std::to_string(fileLength) +
                                      (fileLength == expectedLength ? " (good)" : " (expected " + std::to_string(expectedLength) + ")"));
    return report;
}
