// The image header layout, its pure checks, and CheckImageFile on real files.
#include "ImageFile.h"
#include "ImageFiles.h"
#include "ImageHeader.h"
#include "ProgramVersion.h"
#include "TempFolder.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

constexpr uint32_t kProgramVersion = 0x01000002;

ImageCheckResult CheckBytes(TempFolder &folder, const std::vector<uint8_t> &bytes) {
    return CheckImageFile(folder.Write("image.img", bytes), kProgramVersion);
}

}  // namespace

TEST(ImageHeaderLayout, BuiltHeaderHasEveryFieldAtItsOffset) {
    ImageHeader header;
    ASSERT_TRUE(BuildImageHeader(header, "Model-A", "v2.0", 0x01020304, 0x00000500, 0xA1B2C3D4));
    const auto *bytes = reinterpret_cast<const uint8_t *>(&header);
    const uint8_t magic[] = {0x99, 0x01, 0x34, 0x42};
    EXPECT_EQ(0, std::memcmp(bytes + 0, magic, 4));
    const uint8_t required[] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(bytes + 4, required, 4));
    EXPECT_EQ(0, std::memcmp(bytes + 8, "Model-A\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(0, std::memcmp(bytes + 24, "v2.0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    const uint8_t checksum[] = {0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(0, std::memcmp(bytes + 40, checksum, 4));
    const uint8_t length[] = {0x00, 0x05, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(bytes + 44, length, 4));
    for (size_t i = 48; i < 127; ++i) EXPECT_EQ(0, bytes[i]) << "reserved byte " << i;
    unsigned sum = 0;
    for (size_t i = 0; i < 127; ++i) sum += bytes[i];
    EXPECT_EQ(sum % 256, bytes[127]);
}

TEST(ImageHeaderLayout, FieldReadersAreLittleEndian) {
    uint8_t raw[128] = {};
    raw[0] = 0x99; raw[1] = 0x01; raw[2] = 0x34; raw[3] = 0x42;
    raw[4] = 0x02; raw[7] = 0x01;
    raw[40] = 0x78; raw[41] = 0x56; raw[42] = 0x34; raw[43] = 0x12;
    raw[44] = 0xF0; raw[45] = 0x03;
    ImageHeader header;
    std::memcpy(&header, raw, sizeof(header));
    EXPECT_EQ(kImageMagic, HeaderMagic(header));
    EXPECT_EQ(0x01000002u, HeaderRequiredVersion(header));
    EXPECT_EQ(0x12345678u, HeaderDataChecksum(header));
    EXPECT_EQ(1008u, HeaderDataLength(header));
}

TEST(ImageHeaderChecks, HeaderChecksumIsModulo256OverBytes0To126) {
    ImageHeader header;
    std::memset(&header, 0xFF, sizeof(header));
    // 127 bytes of 0xFF: 127 * 255 = 32385 = 0x7E81
    EXPECT_EQ(0x81, ComputeHeaderChecksum(header));
}

TEST(ImageHeaderChecks, PayloadSumWrapsModulo2To32) {
    const uint8_t bytes[] = {0x02, 0xFF};
    EXPECT_EQ(1u, AddToPayloadSum(0xFFFFFFFFu, bytes, 1));
    EXPECT_EQ(0x101u, AddToPayloadSum(0, bytes, 2));
}

TEST(ImageHeaderChecks, CheckHeaderTestsIntegrityBeforeVersion) {
    ImageHeader header;
    ASSERT_TRUE(BuildImageHeader(header, "M", "V", 0x01000003, 0, 0));
    EXPECT_EQ(HeaderVerdict::VersionMismatch, CheckHeader(header, kProgramVersion));
    header.magic[0] ^= 1;
    header.header_checksum = ComputeHeaderChecksum(header);
    EXPECT_EQ(HeaderVerdict::Corrupted, CheckHeader(header, kProgramVersion));
}

TEST(ImageHeaderChecks, FileLengthMustBeExact) {
    ImageHeader header;
    ASSERT_TRUE(BuildImageHeader(header, "M", "V", 0, 0xFFFFFFFFu, 0));
    EXPECT_TRUE(FileLengthMatches(header, 0xFFFFFFFFull + 128));
    EXPECT_FALSE(FileLengthMatches(header, 0xFFFFFFFFull + 127));
    // A length of 2^32 or more never matches by wrapping.
    ASSERT_TRUE(BuildImageHeader(header, "M", "V", 0, 0, 0));
    EXPECT_FALSE(FileLengthMatches(header, 0x100000080ull));
    EXPECT_TRUE(FileLengthMatches(header, 128));
}

TEST(ImageHeaderText, SixteenCharactersWithoutNulAreKeptWhole) {
    char field[16];
    ASSERT_TRUE(SetFieldText(field, "ABCDEFGHIJKLMNOP"));
    EXPECT_EQ("ABCDEFGHIJKLMNOP", FieldText(field));
    EXPECT_FALSE(SetFieldText(field, "ABCDEFGHIJKLMNOPQ"));
    EXPECT_EQ("ABCDEFGHIJKLMNOP", FieldText(field));
    const char withNul[16] = {'a', 'b', '\0', 'c'};
    EXPECT_EQ("ab", FieldText(withNul));
}

TEST(ProgramVersionText, ParsesAndFormatsPackedVersions) {
    uint32_t packed = 0;
    ASSERT_TRUE(ParseVersionText("1.0.0.2", packed));
    EXPECT_EQ(0x01000002u, packed);
    ASSERT_TRUE(ParseVersionText("255.16.0.9", packed));
    EXPECT_EQ(0xFF100009u, packed);
    EXPECT_EQ("1.2.3.4", FormatVersionText(0x01020304));
    EXPECT_EQ(0x01020304u, PackProgramVersion(1, 2, 3, 260));
    for (const char *bad : {"", "1.0.0", "1.0.0.2.", "1..0.2", "1.0.0.256", "a.b.c.d", "1.0.0.-2", "1.0.0.0002", " 1.0.0.2"})
        EXPECT_FALSE(ParseVersionText(bad, packed)) << bad;
}

TEST(ProgramVersionText, FlashwellVersionIsTheShippedOne) {
    EXPECT_EQ(0x01000002u, kFlashwellProgramVersion);
}

class CheckImageFileTest : public ::testing::Test {
protected:
    TempFolder folder{"updater-test-"};
};

TEST_F(CheckImageFileTest, AcceptsAValidImageWithItsTexts) {
    auto result = CheckBytes(folder, ImageBytes(PatternPayload(3000), kProgramVersion, "Board-7", "fw 4.1"));
    ASSERT_EQ(ImageCheckOutcome::Accepted, result.outcome);
    EXPECT_EQ("Board-7", result.model);
    EXPECT_EQ("fw 4.1", result.versionText);
}

TEST_F(CheckImageFileTest, AcceptsAHeaderOnlyImage) {
    auto bytes = ImageBytes({}, kProgramVersion, "Empty", "0");
    ASSERT_EQ(128u, bytes.size());
    auto result = CheckBytes(folder, bytes);
    ASSERT_EQ(ImageCheckOutcome::Accepted, result.outcome);
    EXPECT_EQ("Empty", result.model);
    EXPECT_EQ("0", result.versionText);
}

TEST_F(CheckImageFileTest, ShowsASixteenCharacterModelWhole) {
    auto result = CheckBytes(folder, ImageBytes(PatternPayload(10), kProgramVersion, "0123456789ABCDEF", "FEDCBA9876543210"));
    ASSERT_EQ(ImageCheckOutcome::Accepted, result.outcome);
    EXPECT_EQ("0123456789ABCDEF", result.model);
    EXPECT_EQ("FEDCBA9876543210", result.versionText);
}

TEST_F(CheckImageFileTest, ShortHeaderIsCorrupted) {
    auto bytes = ImageBytes({}, kProgramVersion);
    bytes.pop_back();
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome);
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, {}).outcome);
}

TEST_F(CheckImageFileTest, WrongMagicIsCorrupted) {
    auto bytes = ImageBytes(PatternPayload(100));
    bytes[3] = 0x43;
    ResealHeader(bytes);
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome);
}

TEST_F(CheckImageFileTest, WrongHeaderChecksumIsCorrupted) {
    auto bytes = ImageBytes(PatternPayload(100));
    bytes[127] = static_cast<uint8_t>(bytes[127] + 1);
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome);
}

TEST_F(CheckImageFileTest, AnyChangedReservedByteIsCorrupted) {
    for (size_t offset : {48u, 90u, 126u}) {
        auto bytes = ImageBytes(PatternPayload(100));
        bytes[offset] = 0x5A;
        EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome) << offset;
    }
}

TEST_F(CheckImageFileTest, RequiredVersionIsComparedAsPackedUnsignedValue) {
    EXPECT_EQ(ImageCheckOutcome::Accepted, CheckBytes(folder, ImageBytes(PatternPayload(5), 0x01000002)).outcome);
    EXPECT_EQ(ImageCheckOutcome::VersionMismatch, CheckBytes(folder, ImageBytes(PatternPayload(5), 0x01000003)).outcome);
    EXPECT_EQ(ImageCheckOutcome::Accepted, CheckBytes(folder, ImageBytes(PatternPayload(5), 0x00FF0000)).outcome);
    EXPECT_EQ(ImageCheckOutcome::VersionMismatch, CheckBytes(folder, ImageBytes(PatternPayload(5), 0xFF000000)).outcome);
}

TEST_F(CheckImageFileTest, CorruptionIsReportedBeforeAVersionMismatch) {
    auto bytes = ImageBytes(PatternPayload(100), 0x01000003);
    bytes[0] = 0x98;
    ResealHeader(bytes);
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome);
}

TEST_F(CheckImageFileTest, VersionMismatchIsReportedBeforeALengthOrSumFault) {
    auto bytes = ImageBytes(PatternPayload(100), 0x01000003);
    bytes.push_back(1);
    bytes[200] ^= 0xFF;
    EXPECT_EQ(ImageCheckOutcome::VersionMismatch, CheckBytes(folder, bytes).outcome);
}

TEST_F(CheckImageFileTest, LengthOneByteOffEitherWayIsCorruptedEvenWithMatchingSums) {
    auto payload = PatternPayload(500);
    payload.back() = 0;  // dropping or adding a zero byte keeps the sum
    auto longer = ImageBytes(payload);
    longer.push_back(0);
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, longer).outcome);
    auto shorter = ImageBytes(payload);
    shorter.pop_back();
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, shorter).outcome);
    EXPECT_EQ(ImageCheckOutcome::Accepted, CheckBytes(folder, ImageBytes(payload)).outcome);
}

TEST_F(CheckImageFileTest, LengthBeyondFourGibibytesDoesNotWrapIntoAMatch) {
    // Header-only image (data_length 0) extended by exactly 2^32 bytes: the low
    // 32 bits of the length would match.
    std::string path = folder.WriteSparse("wrapped.img", ImageBytes({}), 128 + 0x100000000ull);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckImageFile(path, kProgramVersion).outcome);
}

TEST_F(CheckImageFileTest, PayloadSumCoversEveryBlock) {
    // 2500 lies in the third 1024-byte block; the last block is partial.
    for (size_t position : {0u, 1023u, 1024u, 2500u, 2999u}) {
        auto bytes = ImageBytes(PatternPayload(3000));
        bytes[128 + position] = static_cast<uint8_t>(bytes[128 + position] + 1);
        EXPECT_EQ(ImageCheckOutcome::Corrupted, CheckBytes(folder, bytes).outcome) << position;
    }
}

TEST_F(CheckImageFileTest, MissingFileIsAFileErrorWithItsCode) {
    auto result = CheckImageFile(folder.Path() + "\\no-such-file.img", kProgramVersion);
    EXPECT_EQ(ImageCheckOutcome::FileError, result.outcome);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), result.systemError);
    EXPECT_EQ("", ImageCheckMessage(result.outcome));
}

TEST_F(CheckImageFileTest, FileHeldExclusivelyElsewhereIsAFileError) {
    std::string path = folder.Write("held.img", ImageBytes(PatternPayload(10)));
    UniqueHandle holder(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    auto result = CheckImageFile(path, kProgramVersion);
    EXPECT_EQ(ImageCheckOutcome::FileError, result.outcome);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SHARING_VIOLATION), result.systemError);
}

TEST_F(CheckImageFileTest, OthersMayReadAndWriteTheFileMeanwhile) {
    std::string path = folder.Write("shared.img", ImageBytes(PatternPayload(10)));
    UniqueHandle writer(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(ImageCheckOutcome::Accepted, CheckImageFile(path, kProgramVersion).outcome);
}

TEST_F(CheckImageFileTest, FileIsClosedAfterEveryOutcome) {
    std::vector<std::vector<uint8_t>> images = {ImageBytes(PatternPayload(10)), ImageBytes(PatternPayload(10), 0x02000000),
                                                std::vector<uint8_t>(50, 1)};
    for (size_t i = 0; i < images.size(); ++i) {
        std::string path = folder.Write("closed" + std::to_string(i) + ".img", images[i]);
        CheckImageFile(path, kProgramVersion);
        // Only possible when no handle to the file is left open.
        UniqueHandle exclusive(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(exclusive) << i;
    }
}

TEST(ImageCheckMessages, AreTheDialogTexts) {
    EXPECT_EQ("This file is corrupted or not an image file!", ImageCheckMessage(ImageCheckOutcome::Corrupted));
    EXPECT_EQ("Version misMatch.", ImageCheckMessage(ImageCheckOutcome::VersionMismatch));
    EXPECT_EQ("Memory allocate error!", ImageCheckMessage(ImageCheckOutcome::OutOfMemory));
    EXPECT_EQ("", ImageCheckMessage(ImageCheckOutcome::Accepted));
}

TEST(ProgramVersionWithoutResource, YieldsZero) {
    // This test program carries no version resource.
    EXPECT_EQ(0u, ReadProgramVersion());
    uint32_t packed = 0xDEADBEEF;
    EXPECT_FALSE(ReadPackedProductVersion("C:\\no-such-folder\\no-such-program.exe", packed));
    EXPECT_EQ(0xDEADBEEFu, packed);
}

// The same images checked in memory and as files: one verdict, whichever way they are read.
TEST_F(CheckImageFileTest, ImageInMemoryGetsTheFilesVerdict) {
    const std::vector<uint8_t> valid = ImageBytes(PatternPayload(3000), kProgramVersion, "Board-7", "fw 4.1");
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        ImageCheckOutcome expected;
    };
    std::vector<Case> cases;
    cases.push_back({"valid", valid, ImageCheckOutcome::Accepted});
    cases.push_back({"header only", ImageBytes({}, kProgramVersion), ImageCheckOutcome::Accepted});
    cases.push_back({"short header", std::vector<uint8_t>(valid.begin(), valid.begin() + 127), ImageCheckOutcome::Corrupted});
    cases.push_back({"empty", {}, ImageCheckOutcome::Corrupted});
    std::vector<uint8_t> badMagic = valid;
    badMagic[0] ^= 1;
    ResealHeader(badMagic);
    cases.push_back({"wrong magic", badMagic, ImageCheckOutcome::Corrupted});
    std::vector<uint8_t> badHeaderSum = valid;
    badHeaderSum[127] ^= 1;
    cases.push_back({"wrong header checksum", badHeaderSum, ImageCheckOutcome::Corrupted});
    cases.push_back({"version above", ImageBytes(PatternPayload(10), kProgramVersion + 1), ImageCheckOutcome::VersionMismatch});
    std::vector<uint8_t> oneMore = valid;
    oneMore.push_back(0);
    cases.push_back({"one byte more", oneMore, ImageCheckOutcome::Corrupted});
    cases.push_back({"one byte less", std::vector<uint8_t>(valid.begin(), valid.end() - 1), ImageCheckOutcome::Corrupted});
    std::vector<uint8_t> badPayload = valid;
    badPayload[2000] ^= 0x10;
    cases.push_back({"payload changed", badPayload, ImageCheckOutcome::Corrupted});
    for (const Case &c : cases) {
        const ImageCheckResult inMemory = CheckImageBytes(c.bytes.data(), c.bytes.size(), kProgramVersion);
        const ImageCheckResult inFile = CheckBytes(folder, c.bytes);
        EXPECT_EQ(c.expected, inMemory.outcome) << c.name;
        EXPECT_EQ(inFile.outcome, inMemory.outcome) << c.name;
        EXPECT_EQ(inFile.model, inMemory.model) << c.name;
        EXPECT_EQ(inFile.versionText, inMemory.versionText) << c.name;
    }
}
