// The pure text logic of Communicator: the kind of an address, the choice of the
// transport, and the path of a library beside a module.
#include "LibraryPath.h"
#include "TransportKind.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GetTransportKind, SerialPrefixIgnoresCase) {
    EXPECT_STREQ("COM", GetTransportKind("COM1"));
    EXPECT_STREQ("COM", GetTransportKind("com12"));
    EXPECT_STREQ("COM", GetTransportKind("cOm"));
    EXPECT_STREQ("COM", GetTransportKind("COMPUTER"));  // only the first three bytes count
}

TEST(GetTransportKind, UsbPrefixIgnoresCase) {
    EXPECT_STREQ("USB", GetTransportKind("\\\\?\\usb#vid_1234&pid_5678#1#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}"));
    EXPECT_STREQ("USB", GetTransportKind("\\\\?\\USB#VID_1234"));
    EXPECT_STREQ("USB", GetTransportKind("\\\\?\\Usb#"));
}

TEST(GetTransportKind, ShorterOrOtherAddressesAreTcp) {
    EXPECT_STREQ("TCP", GetTransportKind("CO"));
    EXPECT_STREQ("TCP", GetTransportKind(""));
    EXPECT_STREQ("TCP", GetTransportKind("\\\\?\\usb"));
    EXPECT_STREQ("TCP", GetTransportKind("\\\\?\\hid#vid_1234"));
    EXPECT_STREQ("TCP", GetTransportKind("\\\\.\\usb#vid_1234"));
    EXPECT_STREQ("TCP", GetTransportKind("192.168.1.20"));
    EXPECT_STREQ("TCP", GetTransportKind("board.example"));
    EXPECT_STREQ("TCP", GetTransportKind(" COM1"));
    EXPECT_STREQ("TCP", GetTransportKind(nullptr));
}

TEST(GetTransportKind, DoubleByteCharactersNeverMatchThePrefix) {
    // A lead byte followed by an ASCII-range trail byte is one character.
    EXPECT_STREQ("TCP", GetTransportKind("\x83" "COM"));
    EXPECT_STREQ("TCP", GetTransportKind("C\x83O"));
    // Letters outside ASCII are not folded onto ASCII ones.
    EXPECT_STREQ("TCP", GetTransportKind("\xC7OM1"));
}

TEST(HasRouter, NeedsAHostAndANonZeroLowPortHalf) {
    EXPECT_TRUE(HasRouter("127.0.0.1", 26214));
    EXPECT_TRUE(HasRouter("r", 1));
    EXPECT_TRUE(HasRouter("r", 0x10001));
    EXPECT_FALSE(HasRouter("r", 0));
    EXPECT_FALSE(HasRouter("r", 65536));
    EXPECT_FALSE(HasRouter("", 26214));
    EXPECT_FALSE(HasRouter(nullptr, 26214));
}

const char *const kKinds[] = {"TCP", "COM", "USB"};

TEST(ChooseTransport, AddressKindPicksItsTransport) {
    EXPECT_EQ(1u, ChooseTransport(kKinds, 3, "com7", nullptr, 26214));
    EXPECT_EQ(2u, ChooseTransport(kKinds, 3, "\\\\?\\USB#X", nullptr, 26214));
    EXPECT_EQ(0u, ChooseTransport(kKinds, 3, "10.0.0.1", nullptr, 26214));
}

TEST(ChooseTransport, RouterPairOverridesTheAddress) {
    EXPECT_EQ(0u, ChooseTransport(kKinds, 3, "COM1", "10.0.0.1", 26214));
    EXPECT_EQ(0u, ChooseTransport(kKinds, 3, "\\\\?\\usb#x", "host", 7));
    EXPECT_EQ(1u, ChooseTransport(kKinds, 3, "COM1", "10.0.0.1", 0));
    EXPECT_EQ(1u, ChooseTransport(kKinds, 3, "COM1", "10.0.0.1", 65536));
    EXPECT_EQ(1u, ChooseTransport(kKinds, 3, "COM1", "", 26214));
}

TEST(ChooseTransport, SearchesFromTheLastDownToTheSecondAndFallsBackToTheFirst) {
    const char *const duplicate[] = {"USB", "USB", "COM", "USB"};
    EXPECT_EQ(3u, ChooseTransport(duplicate, 4, "\\\\?\\usb#x", nullptr, 0));
    const char *const firstOnly[] = {"COM", "TCP", "USB"};
    EXPECT_EQ(0u, ChooseTransport(firstOnly, 3, "COM1", nullptr, 0)) << "the first is never searched";
    const char *const noTcp[] = {"USB", "COM"};
    EXPECT_EQ(0u, ChooseTransport(noTcp, 2, "host", nullptr, 0));
    const char *const caseDiffers[] = {"TCP", "com", "usb"};
    EXPECT_EQ(0u, ChooseTransport(caseDiffers, 3, "COM1", nullptr, 0)) << "kinds compare with case";
}

bool ShiftJisLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
bool NoLeadByte(unsigned char) { return false; }

std::string Beside(const char *modulePath, const char *libraryName, LeadBytePredicate lead = NoLeadByte,
                   std::size_t size = 520) {
    std::string out(size, 'x');
    if (!PathBesideModule(modulePath, libraryName, lead, &out[0], size)) {
        return out[0] == '\0' ? "<does not fit>" : "<does not fit, output not cleared>";
    }
    return out.c_str();
}

TEST(PathBesideModule, KeepsTheFolderUpToTheLastBackslash) {
    EXPECT_EQ("C:\\Program Files\\Kit\\Wirrow.dll", Beside("C:\\Program Files\\Kit\\Communicator.dll", "Wirrow.dll"));
    EXPECT_EQ("\\\\server\\share\\Serrow.dll", Beside("\\\\server\\share\\Communicator.dll", "Serrow.dll"));
}

TEST(PathBesideModule, PathWithoutBackslashGivesThePlainName) {
    EXPECT_EQ("Wirrow.dll", Beside("Communicator.dll", "Wirrow.dll"));
    EXPECT_EQ("Wirrow.dll", Beside("", "Wirrow.dll"));
}

TEST(PathBesideModule, BackslashAsSecondByteOfADoubleByteCharacterIsNoSeparator) {
    // 0x95 0x5C is one Shift-JIS character whose second byte is a backslash.
    const char path[] = "C:\\Tools\\\x95\x5C" "Kit.dll";
    EXPECT_EQ("C:\\Tools\\Wirrow.dll", Beside(path, "Wirrow.dll", ShiftJisLeadByte));
    EXPECT_EQ("C:\\Tools\\\x95\x5CWirrow.dll", Beside(path, "Wirrow.dll", NoLeadByte));
}

TEST(PathBesideModule, ReportsAResultThatDoesNotFit) {
    EXPECT_EQ("C:\\A\\Wirrow.dll", Beside("C:\\A\\Communicator.dll", "Wirrow.dll", NoLeadByte, 16));
    EXPECT_EQ("<does not fit>", Beside("C:\\A\\Communicator.dll", "Wirrow.dll", NoLeadByte, 15));
}

}  // namespace
