// Flashwell.exe as a user sees it: started as its own process from a folder with
// Communicator.dll and the "updateboard" test transport (as Wirrow.dll), and
// driven through its windows. The board is played by UpdateBoardPipe behind a
// simulated USB interface of the board class.
#include "FlashwellDriver.h"
#include "ProgramFolder.h"
#include "TempFolder.h"
#include "UpdateBoardPipe.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using flashwelltest::BoardRequest;
using flashwelltest::FlashwellDriver;
using flashwelltest::UpdateBoardPipe;
using flashwelltest::WaitUntil;

namespace {

constexpr int IDC_STATUS = 1000, IDC_UPDATE = 1001, IDC_IMAGE_PATH = 1002, IDC_SELECT_IMAGE = 1003, IDC_MODEL = 1005,
              IDC_VERSION = 1006;

void Put32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t> &bytes, size_t offset, bool littleEndian = true) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t byte = bytes[offset + i];
        value |= littleEndian ? byte << (8 * i) : byte << (8 * (3 - i));
    }
    return value;
}

uint32_t Sum(const std::vector<uint8_t> &bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes) sum += byte;
    return sum;
}

std::vector<uint8_t> Payload(size_t length) {
    std::vector<uint8_t> payload(length);
    for (size_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>((i * 7 + 200) & 0xFF);
    return payload;
}

// An image file: the 128-byte header, then the payload.
std::vector<uint8_t> ImageBytes(const std::vector<uint8_t> &payload, const std::string &model,
                                const std::string &version, uint32_t requiredVersion = 0x01000002) {
    std::vector<uint8_t> file(128 + payload.size(), 0);
    Put32(file, 0, 0x42340199);
    Put32(file, 4, requiredVersion);
    std::memcpy(&file[8], model.data(), std::min<size_t>(model.size(), 16));
    std::memcpy(&file[24], version.data(), std::min<size_t>(version.size(), 16));
    Put32(file, 40, Sum(payload));
    Put32(file, 44, static_cast<uint32_t>(payload.size()));
    uint8_t headerSum = 0;
    for (size_t i = 0; i < 127; ++i) headerSum = static_cast<uint8_t>(headerSum + file[i]);
    file[127] = headerSum;
    std::copy(payload.begin(), payload.end(), file.begin() + 128);
    return file;
}

// A connect answer: max payload and host order.
std::vector<uint8_t> LinkParameters(uint32_t maxPayload, uint32_t hostOrder) {
    std::vector<uint8_t> bytes(8);
    Put32(bytes, 0, maxPayload);
    Put32(bytes, 4, hostOrder);
    return bytes;
}

// A receive answer carrying a 16-byte update reply with `statusBytes` at offset 4.
std::vector<uint8_t> Reply(uint8_t status0, uint8_t status1) {
    std::vector<uint8_t> bytes(4 + 16, 0);
    Put32(bytes, 0, 16);
    uint8_t reply[16] = {'T', 'B', 0xFF, 1, status0, status1};
    std::memcpy(&bytes[4], reply, 16);
    return bytes;
}

class FlashwellDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Made());
        const std::string bin = ProgramFolder();
        for (const char *name : {"Flashwell.exe", "Communicator.dll", "Hivekey.dll"}) ASSERT_TRUE(folder_.CopyIn(bin, name));
        ASSERT_TRUE(folder_.CopyIn(bin + "\\testtransports\\updateboard", "Wirrow.dll"));
    }

    std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) { return folder_.Write(name, bytes); }

    FlashwellDriver &Start() {
        flashwell_ = std::make_unique<FlashwellDriver>();
        EXPECT_TRUE(flashwell_->Start(folder_.Path()));
        return *flashwell_;
    }

    // Starts the program and selects an image with `payload`.
    FlashwellDriver &StartWithImage(const std::vector<uint8_t> &payload) {
        FlashwellDriver &app = Start();
        std::string path = WriteFile("firmware.img", ImageBytes(payload, "KV-220", "3.1.4"));
        EXPECT_TRUE(app.ChooseImage(path));
        EXPECT_TRUE(WaitUntil([&] { return app.Enabled(IDC_UPDATE); }, 10000));
        return app;
    }

    TempFolder folder_{"flashwell-ui-"};
    std::unique_ptr<FlashwellDriver> flashwell_;  // ends before its folder goes
};

// The board's part from Open to the first packet: accepts the open and the connect,
// answering it with these link parameters.
testing::AssertionResult AcceptOpenAndConnect(UpdateBoardPipe &board, uint32_t maxPayload, uint32_t hostOrder) {
    BoardRequest request;
    if (!board.AwaitRequest(request) || request.kind != updateboard::Open || !board.Answer(0))
        return testing::AssertionFailure() << "no open";
    if (!board.AwaitRequest(request) || request.kind != updateboard::Connect ||
        !board.Answer(0, LinkParameters(maxPayload, hostOrder)))
        return testing::AssertionFailure() << "no connect";
    return testing::AssertionSuccess();
}

// The board's part of one packet: accepts the send, then answers the receive with `reply`.
testing::AssertionResult AcceptPacket(UpdateBoardPipe &board, const std::vector<uint8_t> &reply) {
    BoardRequest request;
    if (!board.AwaitRequest(request) || request.kind != updateboard::Send || !board.Answer(0))
        return testing::AssertionFailure() << "no send";
    if (!board.AwaitRequest(request) || request.kind != updateboard::Receive || !board.Answer(0, reply))
        return testing::AssertionFailure() << "no receive";
    return testing::AssertionSuccess();
}

// The board's part at the end of a session: accepts the disconnect, then sees the path closed.
testing::AssertionResult AcceptDisconnectAndClose(UpdateBoardPipe &board) {
    BoardRequest request;
    if (!board.AwaitRequest(request) || request.kind != updateboard::Disconnect || !board.Answer(0))
        return testing::AssertionFailure() << "no disconnect";
    if (!board.AwaitClosed()) return testing::AssertionFailure() << "not closed";
    return testing::AssertionSuccess();
}

bool ButtonsEnabled(const FlashwellDriver &app) { return app.Enabled(IDC_UPDATE) && app.Enabled(IDC_SELECT_IMAGE); }
bool ButtonsDisabled(const FlashwellDriver &app) {
    return !app.Enabled(IDC_UPDATE) && !app.Enabled(IDC_SELECT_IMAGE);
}

}  // namespace

// ---- The dialog at rest ----

TEST_F(FlashwellDialog, StartsWithUpdateDisabledEmptyBoxesBarAtZeroAndExitAsDefault) {
    FlashwellDriver &app = Start();
    ASSERT_TRUE(app.Dialog());
    EXPECT_FALSE(app.Enabled(IDC_UPDATE));
    EXPECT_TRUE(app.Enabled(IDC_SELECT_IMAGE));
    EXPECT_TRUE(app.Enabled(IDOK));
    EXPECT_EQ("", app.Text(IDC_IMAGE_PATH));
    EXPECT_EQ("", app.Text(IDC_MODEL));
    EXPECT_EQ("", app.Text(IDC_VERSION));
    EXPECT_EQ("", app.Text(IDC_STATUS));
    EXPECT_EQ(0, app.ProgressPosition());
    EXPECT_EQ(IDOK, app.DefaultButton());
    EXPECT_EQ("Exit", app.Text(IDOK));
    EXPECT_EQ("Flashwell", flashwelltest::WindowText(app.Dialog()));
}

TEST_F(FlashwellDialog, AboutEntryShowsTheProgramVersion) {
    FlashwellDriver &app = Start();
    ::PostMessageW(app.Dialog(), WM_SYSCOMMAND, 16, 0);
    HWND about = app.WaitForWindow("About Flashwell", 1008);
    ASSERT_NE(nullptr, about);
    EXPECT_EQ("Flashwell version : 1.0.0.2", flashwelltest::ItemText(about, 1008));
    EXPECT_FALSE(::IsWindowEnabled(app.Dialog()));  // modal to the main dialog
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about) || !::IsWindowVisible(about); }, 10000));
    EXPECT_TRUE(app.Sync());  // the main dialog goes on
    EXPECT_TRUE(::IsWindowEnabled(app.Dialog()));
}

TEST_F(FlashwellDialog, EnterActivatesExitAndEndsTheProgram) {
    FlashwellDriver &app = Start();
    ::PostMessageW(app.Item(IDOK), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(0u, app.WaitForExit());
}

TEST_F(FlashwellDialog, EscapeEndsTheProgram) {
    FlashwellDriver &app = Start();
    ::PostMessageW(app.Item(IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(0u, app.WaitForExit());
}

TEST_F(FlashwellDialog, CloseBoxEndsTheProgram) {
    FlashwellDriver &app = Start();
    ::PostMessageW(app.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, app.WaitForExit());
}

// ---- Select Image ----

TEST_F(FlashwellDialog, SelectImageTakesAGoodFileAndKeepsItThroughBadOnes) {
    FlashwellDriver &app = Start();
    const std::string good = WriteFile("good.img", ImageBytes(Payload(300), "KV-220-SIXTEEN-C", "2.4.1"));
    ASSERT_TRUE(app.ChooseImage(good));
    ASSERT_TRUE(WaitUntil([&] { return app.Text(IDC_IMAGE_PATH) == good; }, 10000));
    EXPECT_EQ("KV-220-SIXTEEN-C", app.Text(IDC_MODEL));  // all 16 bytes, no NUL
    EXPECT_EQ("2.4.1", app.Text(IDC_VERSION));
    EXPECT_TRUE(app.Enabled(IDC_UPDATE));

    auto expectGoodStillSelected = [&] {
        EXPECT_EQ(good, app.Text(IDC_IMAGE_PATH));
        EXPECT_EQ("KV-220-SIXTEEN-C", app.Text(IDC_MODEL));
        EXPECT_EQ("2.4.1", app.Text(IDC_VERSION));
        EXPECT_TRUE(app.Enabled(IDC_UPDATE));
    };

    std::vector<uint8_t> badSum = ImageBytes(Payload(300), "KV-220", "9.9");
    badSum.back() ^= 0x01;
    std::string text;
    ASSERT_TRUE(app.ChooseImage(WriteFile("badsum.img", badSum)));
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("This file is corrupted or not an image file!", text);
    expectGoodStillSelected();

    ASSERT_TRUE(app.ChooseImage(WriteFile("tooNew.img", ImageBytes(Payload(10), "KV-220", "9.9", 0x01000003))));
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Version misMatch.", text);
    expectGoodStillSelected();

    // Checked in order: a wrong magic wins over a too-high required version.
    std::vector<uint8_t> wrongMagic = ImageBytes(Payload(10), "KV-220", "9.9", 0x01000003);
    wrongMagic[0] = 0x98;
    wrongMagic[127] = static_cast<uint8_t>(wrongMagic[127] - 1);
    ASSERT_TRUE(app.ChooseImage(WriteFile("notimage.img", wrongMagic)));
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("This file is corrupted or not an image file!", text);
    expectGoodStillSelected();

    const std::string missing = folder_.File("missing.img");
    ASSERT_TRUE(app.ChooseImage(missing));
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ(missing + "\nCannot open the file.", text);
    expectGoodStillSelected();
}

TEST_F(FlashwellDialog, CancellingTheFileDialogChangesNothing) {
    FlashwellDriver &app = Start();
    ASSERT_TRUE(app.ChooseImage(""));
    ASSERT_TRUE(app.Sync());
    EXPECT_FALSE(app.MessageBoxShown());
    EXPECT_EQ("", app.Text(IDC_IMAGE_PATH));
    EXPECT_FALSE(app.Enabled(IDC_UPDATE));

    const std::string good = WriteFile("good.img", ImageBytes(Payload(5), "KV", "1.0"));
    ASSERT_TRUE(app.ChooseImage(good));
    ASSERT_TRUE(WaitUntil([&] { return app.Enabled(IDC_UPDATE); }, 10000));
    ASSERT_TRUE(app.ChooseImage(""));
    ASSERT_TRUE(app.Sync());
    EXPECT_EQ(good, app.Text(IDC_IMAGE_PATH));
    EXPECT_EQ("KV", app.Text(IDC_MODEL));
    EXPECT_TRUE(app.Enabled(IDC_UPDATE));
}

// ---- Update ----

TEST_F(FlashwellDialog, UpdateSendsTheImageAndReportsEachStep) {
    UpdateBoardPipe board("fwui0");
    ASSERT_TRUE(board.Ready());
    const std::vector<uint8_t> payload = Payload(2000);
    FlashwellDriver &app = StartWithImage(payload);
    app.Click(IDC_UPDATE);

    BoardRequest request;
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Open, request.kind);
    EXPECT_EQ(board.Path(), std::string(request.payload.begin(), request.payload.end()));
    EXPECT_EQ("Connecting target ...", app.Text(IDC_STATUS));
    EXPECT_TRUE(ButtonsDisabled(app));
    EXPECT_TRUE(app.Enabled(IDOK));  // Exit stays usable
    ASSERT_TRUE(board.Answer(0));

    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Connect, request.kind);
    ASSERT_EQ(5u, request.payload.size());
    EXPECT_EQ(66u, Get32(request.payload, 0));
    EXPECT_EQ(1u, request.payload[4]);
    // Packets of at most 1016 bytes: chunks of 1000.
    ASSERT_TRUE(board.Answer(0, LinkParameters(1016, 1)));

    // First chunk.
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Send, request.kind);
    ASSERT_EQ(16u + 1000u + 8u, request.payload.size());
    EXPECT_EQ("Downloading the image file...", app.Text(IDC_STATUS));
    EXPECT_EQ('T', request.payload[0]);
    EXPECT_EQ('B', request.payload[1]);
    EXPECT_EQ(0xFF, request.payload[2]);
    EXPECT_EQ(1, request.payload[3]);
    EXPECT_EQ(0u, Get32(request.payload, 4));      // status 0, last_flag 0
    EXPECT_EQ(1000u, Get32(request.payload, 8));   // length
    EXPECT_EQ(0u, Get32(request.payload, 12));     // checksum only in the last packet
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 1000, request.payload.begin() + 16));
    EXPECT_EQ(66u, Get32(request.payload, 1016));  // channel, sub-channel
    EXPECT_EQ(1u, Get32(request.payload, 1020));
    ASSERT_TRUE(board.Answer(0));
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Receive, request.kind);
    EXPECT_EQ(0, app.ProgressPosition());  // nothing acknowledged yet
    ASSERT_TRUE(board.Answer(0, Reply(0, 0)));

    // Last chunk: the flash is written after it.
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Send, request.kind);
    ASSERT_EQ(16u + 1000u + 8u, request.payload.size());
    EXPECT_EQ(15, app.ProgressPosition());
    EXPECT_EQ("Burning flash, please wait...", app.Text(IDC_STATUS));
    EXPECT_EQ(0xFFFF0000u, Get32(request.payload, 4));  // last_flag 0xFFFF
    EXPECT_EQ(1000u, Get32(request.payload, 8));
    EXPECT_EQ(Sum(payload), Get32(request.payload, 12));
    EXPECT_TRUE(std::equal(payload.begin() + 1000, payload.end(), request.payload.begin() + 16));
    ASSERT_TRUE(board.Answer(0));
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Receive, request.kind);
    EXPECT_TRUE(ButtonsDisabled(app));
    ASSERT_TRUE(board.Answer(0, Reply(0, 0)));
    EXPECT_TRUE(AcceptDisconnectAndClose(board));

    std::string text;
    ASSERT_NE(nullptr, app.WaitForWindow("", 0xFFFF));
    EXPECT_EQ(100, app.ProgressPosition());
    EXPECT_EQ("Succeeded updating the firmware.", app.Text(IDC_STATUS));
    EXPECT_TRUE(ButtonsDisabled(app));  // until the message is closed
    EXPECT_TRUE(::IsWindowEnabled(app.Dialog()));  // the message leaves Exit and the close box usable
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Succeeded updating the firmware.", text);
    EXPECT_TRUE(WaitUntil([&] { return ButtonsEnabled(app); }, 10000));
}

TEST_F(FlashwellDialog, BoardErrorEndsTheSessionWithItsCodeInTheBoardsByteOrder) {
    UpdateBoardPipe board("fwui1");
    ASSERT_TRUE(board.Ready());
    FlashwellDriver &app = StartWithImage(Payload(1000));
    app.Click(IDC_UPDATE);

    ASSERT_TRUE(AcceptOpenAndConnect(board, 1024, 0));  // big-endian board

    BoardRequest request;
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Send, request.kind);
    ASSERT_EQ(16u + 1000u + 8u, request.payload.size());
    EXPECT_EQ(0xFFFF0000u, Get32(request.payload, 4));
    EXPECT_EQ(std::vector<uint8_t>({0x00, 0x00, 0x03, 0xE8}),
              std::vector<uint8_t>(request.payload.begin() + 8, request.payload.begin() + 12));
    ASSERT_TRUE(board.Answer(0));
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Receive, request.kind);
    ASSERT_TRUE(board.Answer(0, Reply(0x01, 0x02)));
    EXPECT_TRUE(AcceptDisconnectAndClose(board));

    std::string text;
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Failed to download image file to the board. Error code is 258", text);
    EXPECT_EQ(text, app.Text(IDC_STATUS));
    EXPECT_EQ(0, app.ProgressPosition());  // not moved on failure
    EXPECT_TRUE(WaitUntil([&] { return ButtonsEnabled(app); }, 10000));
}

TEST_F(FlashwellDialog, NoBoardPresentShowsNoTargetFound) {
    FlashwellDriver &app = StartWithImage(Payload(10));
    app.Click(IDC_UPDATE);
    std::string text;
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("No target found.", text);
    EXPECT_EQ("No target found.", app.Text(IDC_STATUS));
    EXPECT_TRUE(WaitUntil([&] { return ButtonsEnabled(app); }, 10000));
}

TEST_F(FlashwellDialog, RefusedOpenShowsCantOpenTargetAndSendsNothing) {
    UpdateBoardPipe board("fwui2");
    ASSERT_TRUE(board.Ready());
    FlashwellDriver &app = StartWithImage(Payload(10));
    app.Click(IDC_UPDATE);
    BoardRequest request;
    ASSERT_TRUE(board.AwaitRequest(request));
    ASSERT_EQ(updateboard::Open, request.kind);
    ASSERT_TRUE(board.Answer(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(board.AwaitClosed());  // no further call came
    std::string text;
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Can't open target.", text);
    EXPECT_TRUE(WaitUntil([&] { return ButtonsEnabled(app); }, 10000));
}

TEST_F(FlashwellDialog, DoubleClickOnUpdateStartsOneSession) {
    UpdateBoardPipe board("fwui3");
    ASSERT_TRUE(board.Ready());
    FlashwellDriver &app = StartWithImage(Payload(100));
    // Both clicks are queued before the first one is handled.
    app.Click(IDC_UPDATE);
    app.Click(IDC_UPDATE);
    ASSERT_TRUE(app.Sync());

    ASSERT_TRUE(AcceptOpenAndConnect(board, 1024, 1));
    ASSERT_TRUE(AcceptPacket(board, Reply(0, 0)));
    ASSERT_TRUE(AcceptDisconnectAndClose(board));

    // A second session would have found the board's one path busy long before
    // now and shown its own message.
    std::string text;
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Succeeded updating the firmware.", text);
    EXPECT_TRUE(WaitUntil([&] { return ButtonsEnabled(app); }, 10000));
    ASSERT_TRUE(app.Sync());
    EXPECT_FALSE(app.MessageBoxShown());
    EXPECT_EQ("Succeeded updating the firmware.", app.Text(IDC_STATUS));

    // Once it has ended, Update starts the next session at once.
    app.Click(IDC_UPDATE);
    BoardRequest request;
    ASSERT_TRUE(board.AwaitRequest(request));
    EXPECT_EQ(updateboard::Open, request.kind);
    ASSERT_TRUE(board.Answer(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(app.AnswerMessageBox(text));
    EXPECT_EQ("Can't open target.", text);
}

// Leaving while the worker waits for the board's reply ends the update as Ctrl+C does in a
// console: the board is disconnected and closed before the program ends.
TEST_F(FlashwellDialog, ExitOrCloseBoxDuringASessionDisconnectsTheBoardFirst) {
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Exit");
        UpdateBoardPipe board(closeBox ? "fwui4c" : "fwui4");
        ASSERT_TRUE(board.Ready());
        FlashwellDriver &app = StartWithImage(Payload(3000));
        app.Click(IDC_UPDATE);
        ASSERT_TRUE(AcceptOpenAndConnect(board, 1024, 1));
        BoardRequest request;
        ASSERT_TRUE(board.AwaitRequest(request));
        ASSERT_EQ(updateboard::Send, request.kind);
        ASSERT_TRUE(board.Answer(0));
        ASSERT_TRUE(board.AwaitRequest(request));
        ASSERT_EQ(updateboard::Receive, request.kind);
        // The worker now waits for the board's reply; the user leaves.
        ASSERT_TRUE(app.Enabled(IDOK));
        if (closeBox)
            ::PostMessageW(app.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            app.Click(IDOK);
        // The interrupt's disconnect, then the session's own before it closes.
        for (int disconnects = 0; disconnects < 2; ++disconnects) {
            ASSERT_TRUE(board.AwaitRequest(request)) << "the board was never disconnected";
            EXPECT_EQ(updateboard::Disconnect, request.kind);
            ASSERT_TRUE(board.Answer(0));
        }
        EXPECT_TRUE(board.AwaitClosed());
        EXPECT_EQ(0u, app.WaitForExit());
    }
}

TEST_F(FlashwellDialog, CloseBoxWhileTheSessionsMessageShowsEndsTheProgramCleanly) {
    FlashwellDriver &app = StartWithImage(Payload(10));
    app.Click(IDC_UPDATE);
    ASSERT_NE(nullptr, app.WaitForWindow("", 0xFFFF));  // "No target found."
    ::PostMessageW(app.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    // Says, should the program not end, whether the close or the program's exit is what stuck.
    EXPECT_EQ(0u, app.WaitForExit()) << "dialog " << (::IsWindow(app.Dialog()) ? "still there" : "gone")
                                     << ", message box " << (app.MessageBoxShown() ? "still shown" : "gone");
}
