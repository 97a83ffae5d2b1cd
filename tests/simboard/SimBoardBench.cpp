// Prints how fast the simulated board takes an update and sends its own data
// through the pipe, with a raw host on the other end. Not a test: figures only.
#include "RawHost.h"
#include "SimulatedBoard.h"
#include "UniqueName.h"
#include <windows.h>
#include <chrono>
#include <cstdio>

using namespace boardsim;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    const std::size_t imageSize = 4u << 20;
    const std::uint32_t maxPayload = 16384;
    BoardConfig config;
    config.instance = UniqueName("simbench");
    config.maxPayload = maxPayload;
    config.listInterface = false;
    SimulatedBoard board(config);
    if (DWORD error = board.Start()) {
        std::printf("board start failed: %lu\n", error);
        return 1;
    }
    rawhost::Host host;
    rawhost::Header reply;
    if (host.Open(board.InterfacePath()) || host.Connect(&reply)) {
        std::printf("host could not connect\n");
        return 1;
    }

    std::vector<std::uint8_t> image(imageSize);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); ++i) sum += image[i] = static_cast<std::uint8_t>(i * 7);
    auto start = std::chrono::steady_clock::now();
    std::size_t packets = 0;
    for (std::size_t offset = 0; offset < image.size();) {
        std::size_t n = std::min<std::size_t>(maxPayload - 16, image.size() - offset);
        std::vector<std::uint8_t> chunk(image.begin() + offset, image.begin() + offset + n);
        offset += n;
        std::uint16_t status = 0xFFFF;
        if (host.UpdateExchange(rawhost::UpdatePacket(chunk, offset == image.size(), sum, true), true, &status) ||
            status) {
            std::printf("update failed at %zu\n", offset);
            return 1;
        }
        ++packets;
    }
    double updateSeconds = Seconds(start);
    bool same = board.FlashImage() == image;
    std::printf("update: %zu bytes in %zu packets, %.3f s, %.2f MiB/s, %.3f ms per exchange, image %s\n", imageSize,
                packets, updateSeconds, imageSize / updateSeconds / 1048576.0, updateSeconds * 1000.0 / packets,
                same ? "equal" : "DIFFERENT");

    start = std::chrono::steady_clock::now();
    std::uint32_t ticket = board.QueueMessage(9, 1, image);
    std::uint8_t channel = 0, subchannel = 0;
    std::vector<std::uint8_t> received;
    DWORD error = host.ReceiveMessage(&channel, &subchannel, &received, true);
    double sendSeconds = Seconds(start);
    std::printf("board message: %zu bytes, %.3f s, %.2f MiB/s, result %lu/%lu, data %s\n", received.size(),
                sendSeconds, received.size() / sendSeconds / 1048576.0, error, board.WaitMessageSent(ticket, 5000),
                received == image ? "equal" : "DIFFERENT");
    host.Close();
    board.Stop();
    return 0;
}
