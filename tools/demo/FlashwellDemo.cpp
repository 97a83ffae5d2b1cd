// Plays the user for tools/demo.sh: starts Flashwell.exe from FOLDER, selects
// IMAGE through the open-file dialog, clicks Update and waits for the closing
// message. Prints what the dialog shows and how long the update took; before
// the program is closed it prints "screenshot <left> <top> <width> <height>" of
// the finished dialog and waits for a line on standard input.
//   FlashwellDemo.exe FOLDER IMAGE
// Exit code: 0 when the update succeeded, 1 when it did not, 2 on bad use.
#include "FlashwellDriver.h"
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr int IDC_STATUS = 1000, IDC_UPDATE = 1001, IDC_IMAGE_PATH = 1002, IDC_SELECT_IMAGE = 1003,
              IDC_MODEL = 1005, IDC_VERSION = 1006;
constexpr int kMessageBoxText = 0xFFFF;
constexpr DWORD kUpdateWaitMs = 120000;
const char kSucceeded[] = "Succeeded updating the firmware.";

void Say(const std::string &line) { std::cout << "  " << line << std::endl; }

bool Fail(const std::string &why) {
    std::cout << "  FAILED: " << why << std::endl;
    return false;
}

// Hands the dialog's place on the screen to the script and waits until it has the picture.
void OfferScreenshot(HWND dialog) {
    RECT rect{};
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (!::GetWindowRect(dialog, &rect)) return;
    std::cout << "screenshot " << rect.left << ' ' << rect.top << ' ' << rect.right - rect.left << ' '
              << rect.bottom - rect.top << std::endl;
    std::string line;
    std::getline(std::cin, line);
}

bool RunDemo(const std::string &folder, const std::string &image) {
    using flashwelltest::FlashwellDriver;
    using flashwelltest::WaitUntil;
    FlashwellDriver app;
    if (!app.Start(folder)) return Fail("Flashwell.exe did not start");
    Say("Flashwell started");

    if (!app.ChooseImage(image) || !WaitUntil([&] { return app.Enabled(IDC_UPDATE); }, 10000))
        return Fail("the image was not accepted: " + app.Text(IDC_STATUS));
    Say("Select Image: " + app.Text(IDC_IMAGE_PATH) + " (model " + app.Text(IDC_MODEL) + ", version " +
        app.Text(IDC_VERSION) + ")");

    const auto start = std::chrono::steady_clock::now();
    app.Click(IDC_UPDATE);
    Say("Update clicked");
    HWND box = app.WaitForWindow("", kMessageBoxText, kUpdateWaitMs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!box) return Fail("no closing message within the time; status line: " + app.Text(IDC_STATUS));

    const std::string status = app.Text(IDC_STATUS);
    const int progress = app.ProgressPosition();
    std::string message;
    if (!app.AnswerMessageBox(message)) return Fail("the closing message box did not close");
    const bool buttonsBack =
        WaitUntil([&] { return app.Enabled(IDC_UPDATE) && app.Enabled(IDC_SELECT_IMAGE); }, 10000);
    char took[64];
    std::snprintf(took, sizeof(took), "%.2f s", seconds);
    Say("status line:     " + status);
    Say("progress bar:    " + std::to_string(progress) + " %");
    Say("closing message: " + message);
    Say(std::string("time taken:      ") + took + " (from the click on Update to the closing message)");

    app.Sync();
    OfferScreenshot(app.Dialog());
    app.Click(IDOK);  // Exit
    if (app.WaitForExit() != 0) Fail("Flashwell did not end with Exit");

    if (message != kSucceeded || status != kSucceeded) return Fail("the update did not succeed");
    if (progress != 100) return Fail("the progress bar is not full");
    if (!buttonsBack) return Fail("the buttons were not enabled again");
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: FlashwellDemo.exe FOLDER IMAGE\n";
        return 2;
    }
    return RunDemo(argv[1], argv[2]) ? 0 : 1;
}
