// Figures for the USB transport, printed, not judged:
//  - CommSendData throughput for 1 MiB messages against the simulated board,
//  - the time of a firmware-update-shaped exchange (packets of the largest payload,
//    each answered by a 16-byte reply message),
//  each beside the raw figure of the same kind of named pipe in the same run, and
//  - the CPU time of an idle connected link over ten seconds.
// The timed figures are medians of rounds that run every kind one after another, so a
// machine whose speed drifts during the run moves raw and Wirrow alike.
// Run: tools/sandbox.sh wine build/x86_64/bin/wirrow_bench.exe [--rounds=N]
#include "CommApi.h"
#include "LinkTestSupport.h"
#include "Median.h"
#include "PipeBoard.h"
#include "SimulatedBoard.h"
#include "UpdateReceiver.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kMaxPayload = 16384;
constexpr int kSendMessages = 16;          // 32 MiB through CommSendData
constexpr uint32_t kImageBytes = 8 * kMiB;  // the update-shaped exchange

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

// The raw pipe: the host end opened like the device, the board end a PipeBoard.
class RawPipe {
public:
    RawPipe() : board_(UniqueName("bench")) {
        host_.Reset(::CreateFileA(board_.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
        event_ = MakeEvent(true, false);
        ok_ = board_.Ready() && host_ && board_.AcceptHost();
    }
    bool Ok() const { return ok_; }
    PipeBoard &Board() { return board_; }
    bool Write(const void *data, DWORD count) { return Transfer(true, const_cast<void *>(data), count); }
    bool Read(void *data, DWORD count) { return Transfer(false, data, count); }

private:
    bool Transfer(bool write, void *data, DWORD count) {
        auto *at = static_cast<uint8_t *>(data);
        while (count) {
            OVERLAPPED block{};
            block.hEvent = event_.Get();
            ::ResetEvent(event_.Get());
            BOOL done = write ? ::WriteFile(host_.Get(), at, count, nullptr, &block)
                              : ::ReadFile(host_.Get(), at, count, nullptr, &block);
            if (!done && ::GetLastError() != ERROR_IO_PENDING) return false;
            DWORD moved = 0;
            if (!::GetOverlappedResult(host_.Get(), &block, &moved, TRUE) || moved == 0) return false;
            at += moved;
            count -= moved;
        }
        return true;
    }
    PipeBoard board_;
    UniqueHandle host_;
    UniqueHandle event_;
    bool ok_ = false;
};

// A board with no work of its own: it answers every data packet with 'a' and, in the
// update shape, sends a 16-byte reply message after it and reads the host's answer to that.
// The raw host and Wirrow both talk to it, so their figures differ by the engine alone.
void MinimalBoard(PipeBoard &board, bool updateShape, int packets) {
    std::vector<uint8_t> payload(kMaxPayload);
    const uint8_t reply[16] = {'T', 'B', 0xFF, 1};
    for (int i = 0; i < packets; ++i) {
        wirrow::LinkHeader header{};
        if (!board.ReadHeader(header, 30000) || header.letter != 'A') return;
        const uint32_t length = board.Length(header);
        if (length > kMaxPayload || (length && !board.ReadExact(payload.data(), length, 30000))) return;
        uint8_t out[48];
        const wirrow::LinkHeader answer = board.Header('a', header.channel, header.subchannel, board.Sequence(header), 0);
        std::memcpy(out, &answer, 16);
        if (!updateShape) {
            if (!board.Write(out, 16)) return;
            continue;
        }
        const wirrow::LinkHeader replyHeader = board.Header('A', header.channel, header.subchannel, 0xFFFFFFFFu, 16);
        std::memcpy(out + 16, &replyHeader, 16);
        std::memcpy(out + 32, reply, 16);
        if (!board.Write(out, 48)) return;
        if (!board.ReadHeader(header, 30000)) return;  // the host's answer to the reply
    }
}

// The raw host: the same packets written and read by hand on the pipe.
double RawSeconds(bool updateShape, int packets) {
    RawPipe pipe;
    if (!pipe.Ok()) return -1;
    std::thread boardSide([&] { MinimalBoard(pipe.Board(), updateShape, packets); });
    std::vector<uint8_t> payload(kMaxPayload, 0x5A);
    const wirrow::LinkHeader header = wirrow::BuildHeader('A', 'B', 1, 0xFFFFFFFFu, kMaxPayload, false);
    const wirrow::LinkHeader answer = wirrow::BuildHeader('a', 'B', 1, 0xFFFFFFFFu, 0, false);
    uint8_t in[48];
    LARGE_INTEGER start = Now();
    for (int i = 0; i < packets; ++i) {
        if (!pipe.Write(&header, 16) || !pipe.Write(payload.data(), kMaxPayload)) break;
        if (!pipe.Read(in, updateShape ? 48 : 16)) break;
        if (updateShape && !pipe.Write(&answer, 16)) break;
    }
    LARGE_INTEGER end = Now();
    boardSide.join();
    return Seconds(start, end);
}

// Wirrow against the same minimal board: 1 MiB messages, or update-shaped packets each
// followed by a CommReceiveData of the 16-byte reply.
double WirrowMinimalSeconds(bool updateShape, int packets) {
    PipeBoard board(UniqueName("benchmin"));
    HCOMM handle = nullptr;
    if (!board.Ready() || CommOpen(board.Path().c_str(), 0, &handle, nullptr, 0) != 0 || !board.AcceptHost())
        return -1;
    LinkParametersForTest parameters;
    parameters.maxPayload = kMaxPayload;
    if (ConnectWithBoard(board, handle, parameters) != 0) return -1;
    std::thread boardSide([&] { MinimalBoard(board, updateShape, packets); });
    std::vector<uint8_t> data(updateShape ? kMaxPayload : kMiB, 0x5A);
    const int calls = updateShape ? packets : packets / int(kMiB / kMaxPayload);
    uint8_t reply[16];
    LARGE_INTEGER start = Now();
    for (int i = 0; i < calls; ++i) {
        if (CommSendData(handle, data.data(), uint32_t(data.size()), 'B', 1) != 0) break;
        uint32_t length = sizeof(reply);
        if (updateShape && CommReceiveData(handle, reply, &length, nullptr, nullptr) != 0) break;
    }
    LARGE_INTEGER end = Now();
    boardSide.join();
    CommClose(handle);
    return Seconds(start, end);
}

bool StartSimBoard(std::unique_ptr<boardsim::SimulatedBoard> &board, bool updateMode, HCOMM &handle) {
    boardsim::BoardConfig config;
    config.instance = UniqueName("benchsim");
    config.updateMode = updateMode;
    config.maxPayload = kMaxPayload;
    board = std::make_unique<boardsim::SimulatedBoard>(config);
    if (board->Start() != 0) return false;
    if (CommOpen(board->InterfacePath().c_str(), 0, &handle, nullptr, 0) != 0) return false;
    const uint8_t sub = 1;
    return CommConnect(handle, 'B', &sub, nullptr, nullptr) == 0;
}

double WirrowSendSeconds(int messages) {
    std::unique_ptr<boardsim::SimulatedBoard> board;
    HCOMM handle = nullptr;
    if (!StartSimBoard(board, false, handle)) return -1;
    std::vector<uint8_t> message(kMiB, 0x5A);
    std::thread drain([&] {
        boardsim::HostMessage taken;
        for (int i = 0; i < messages; ++i)
            if (!board->WaitHostMessage(&taken, 30000)) return;
    });
    LARGE_INTEGER start = Now();
    for (int i = 0; i < messages; ++i)
        if (CommSendData(handle, message.data(), kMiB, 'B', 1) != 0) break;
    LARGE_INTEGER end = Now();
    drain.join();
    CommClose(handle);
    return Seconds(start, end);
}

double WirrowUpdateSeconds(uint32_t imageBytes, bool &accepted) {
    std::unique_ptr<boardsim::SimulatedBoard> board;
    HCOMM handle = nullptr;
    accepted = false;
    if (!StartSimBoard(board, true, handle)) return -1;
    uint32_t maxPayload = 0, hostOrder = 0;
    CommGetOption(handle, COMM_OPT_MAX_PAYLOAD, &maxPayload);
    CommGetOption(handle, COMM_OPT_HOST_ORDER, &hostOrder);
    std::vector<uint8_t> image(imageBytes);
    for (uint32_t i = 0; i < imageBytes; ++i) image[i] = uint8_t(i * 31);
    const uint32_t chunk = maxPayload - 16;
    std::vector<uint8_t> packet(maxPayload);
    uint8_t reply[16];
    bool ok = true;
    LARGE_INTEGER start = Now();
    for (uint32_t offset = 0; ok && offset < imageBytes; offset += chunk) {
        const uint32_t size = std::min(chunk, imageBytes - offset);
        boardsim::UpdateHeader header;
        header.length = size;
        const bool last = offset + size == imageBytes;
        header.lastFlag = last ? boardsim::kUpdateLastFlag : 0;
        if (last) header.checksum = boardsim::ByteSum(image.data(), image.size());
        const auto headerBytes = boardsim::EncodeUpdateHeader(header, hostOrder != 0);
        std::copy(headerBytes.begin(), headerBytes.end(), packet.begin());
        std::copy(image.begin() + offset, image.begin() + offset + size, packet.begin() + 16);
        uint32_t length = sizeof(reply);
        ok = CommSendData(handle, packet.data(), 16 + size, 'B', 1) == 0 &&
             CommReceiveData(handle, reply, &length, nullptr, nullptr) == 0 &&
             boardsim::DecodeUpdateHeader(reply, hostOrder != 0).status == 0;
    }
    LARGE_INTEGER end = Now();
    accepted = ok && board->FlashImage() == image;
    CommClose(handle);
    return Seconds(start, end);
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; };
    return value(kernel) + value(user);
}

// An idle connected link on a board that has no threads of its own: whatever CPU the
// process uses in ten seconds is the link's.
bool IdleCpuSeconds(double &used) {
    PipeBoard board(UniqueName("idle"));
    HCOMM handle = nullptr;
    if (!board.Ready() || CommOpen(board.Path().c_str(), 0, &handle, nullptr, 0) != 0 || !board.AcceptHost())
        return false;
    if (ConnectWithBoard(board, handle) != 0) return false;
    UniqueHandle never = MakeEvent(true, false);
    const double before = CpuSeconds();
    ::WaitForSingleObject(never.Get(), 10000);
    used = CpuSeconds() - before;
    CommClose(handle);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 5;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::max(1, std::atoi(argv[i] + 9));
    CommStartup();
    const int sendPackets = kSendMessages * int(kMiB / kMaxPayload);
    const int updatePackets = int((kImageBytes + kMaxPayload - 17) / (kMaxPayload - 16));

    enum Kind { kRawSend, kMinimalSend, kSimSend, kRawUpdate, kMinimalUpdate, kSimUpdate, kKinds };
    std::vector<double> samples[kKinds];
    bool accepted = true;
    for (int round = 0; round < rounds; ++round) {
        samples[kRawSend].push_back(RawSeconds(false, sendPackets));
        samples[kMinimalSend].push_back(WirrowMinimalSeconds(false, sendPackets));
        samples[kSimSend].push_back(WirrowSendSeconds(kSendMessages));
        samples[kRawUpdate].push_back(RawSeconds(true, updatePackets));
        samples[kMinimalUpdate].push_back(WirrowMinimalSeconds(true, updatePackets));
        bool roundAccepted = false;
        samples[kSimUpdate].push_back(WirrowUpdateSeconds(kImageBytes, roundAccepted));
        accepted = accepted && roundAccepted;
    }
    const double rawSend = Median(samples[kRawSend]);
    const double minimalSend = Median(samples[kMinimalSend]);
    const double simSend = Median(samples[kSimSend]);
    const double rawRate = kSendMessages / rawSend;
    std::printf("Medians of %d rounds.\n", rounds);
    std::printf("1 MiB messages, %d of them, packets of %u bytes, each answered:\n", kSendMessages, kMaxPayload);
    std::printf("  raw pipe, packets written by hand           %8.1f MiB/s\n", rawRate);
    std::printf("  CommSendData, same minimal board            %8.1f MiB/s   ratio %.2f of raw\n",
                kSendMessages / minimalSend, rawSend / minimalSend);
    std::printf("  CommSendData, simulated board               %8.1f MiB/s   ratio %.2f of raw\n",
                kSendMessages / simSend, rawSend / simSend);

    const double rawUpdate = Median(samples[kRawUpdate]);
    const double minimalUpdate = Median(samples[kMinimalUpdate]);
    const double simUpdate = Median(samples[kSimUpdate]);
    std::printf("Update-shaped exchange, %u MiB image, %d packets of %u bytes, a 16-byte reply to each:\n",
                kImageBytes / kMiB, updatePackets, kMaxPayload);
    std::printf("  raw pipe, packets written by hand           %8.3f s\n", rawUpdate);
    std::printf("  Wirrow, same minimal board                  %8.3f s     ratio %.2f of raw time\n", minimalUpdate,
                minimalUpdate / rawUpdate);
    std::printf("  Wirrow, simulated board (real update)       %8.3f s     ratio %.2f of raw time%s\n", simUpdate,
                simUpdate / rawUpdate, accepted ? "" : "  [board did not accept the image]");

    double idle = 0;
    if (IdleCpuSeconds(idle))
        std::printf("Idle connected link, 10 s: CPU time %.3f s\n", idle);
    else
        std::printf("Idle connected link: could not connect\n");
    CommCleanup();
    return 0;
}
