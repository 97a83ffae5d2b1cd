// Puts Flashwell's windows on the screen one after the other for
// tools/screenshots.sh: prints "<name> <left> <top> <width> <height>" for each
// window when it is ready and waits for a line on standard input before the next.
//   flashwell_screenshot_driver.exe
#include "FlashwellDriver.h"
#include "ProgramFolder.h"
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// A sample image as the firmware engineers make them.
std::string WriteSampleImage() {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "KV-220_3.1.4.img";
    std::vector<uint8_t> payload(4096);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
    std::vector<uint8_t> file(128 + payload.size(), 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    uint32_t sum = 0;
    for (uint8_t byte : payload) sum += byte;
    put32(0, 0x42340199);
    put32(4, 0x01000002);
    std::string model = "KV-220", version = "3.1.4";
    std::copy(model.begin(), model.end(), file.begin() + 8);
    std::copy(version.begin(), version.end(), file.begin() + 24);
    put32(40, sum);
    put32(44, static_cast<uint32_t>(payload.size()));
    uint8_t headerSum = 0;
    for (size_t i = 0; i < 127; ++i) headerSum = static_cast<uint8_t>(headerSum + file[i]);
    file[127] = headerSum;
    std::copy(payload.begin(), payload.end(), file.begin() + 128);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), file.size());
    return path;
}

}  // namespace

int main() {
    using flashwelltest::FlashwellDriver;
    FlashwellDriver app;
    if (!app.Start(ProgramFolder())) {
        std::cerr << "Flashwell did not start\n";
        return 1;
    }
    const std::string image = WriteSampleImage();
    bool shown = app.ChooseImage(image) &&
                 flashwelltest::WaitUntil([&] { return app.Text(1002) == image; }, 10000);
    ::DeleteFileA(image.c_str());
    if (!shown) {
        std::cerr << "the sample image was not taken\n";
        return 1;
    }
    // Paint everything before the picture is taken.
    app.Sync();
    ::RedrawWindow(app.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (!flashwelltest::ReportForPicture("main", app.Dialog())) return 1;

    ::PostMessageW(app.Dialog(), WM_SYSCOMMAND, 16, 0);
    HWND about = app.WaitForWindow("About Flashwell", 1008);
    if (!about) {
        std::cerr << "the about box did not open\n";
        return 1;
    }
    app.Sync();
    if (!flashwelltest::ReportForPicture("about", about)) return 1;
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    app.PostCommand(IDOK);
    return app.WaitForExit() == 0 ? 0 : 1;
}
