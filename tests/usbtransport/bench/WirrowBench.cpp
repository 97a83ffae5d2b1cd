// Figures for the USB transport, printed, not judged:
//  - CommSendData throughput for 1 MiB messages against the simulated board,
//  - the time of a firmware-update-shaped exchange (packets of the largest payload,
//    each answered by a 16-byte reply message),
//  each beside the raw figure of the same kind of named pipe in the same run, and
//  - the CPU time of an idle connected link over ten seconds.
// Run: tools/sandbox.sh wine build/x86_64/bin/wirrow_bench.exe
#include "CommApi.h"
#include "LinkTestSupport.h"
#include "PipeBoard.h"
#include "SimulatedBoard.h"
#include "UpdateReceiver.h"
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kMaxPayload = 16384;
constexpr int kSendMessages = 32;          // 32 MiB through CommSendData
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
    RawPipe() : board_(UniqueInstance("bench")) {
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

// Raw: 1 MiB messages as header+payload writes of the largest packet, the board end reading
// each packet and answering it with 16 bytes, as the link's least work per packet.
double RawSendSeconds(RawPipe &pipe, int messages) {
    std::vector<uint8_t> payload(kMaxPayload, 0x5A);
    uint8_t header[16] = {}, answer[16] = {};
    const int packets = messages * int(kMiB / kMaxPayload);
    std::thread boardSide([&] {
        std::vector<uint8_t> in(kMaxPayload + 16);
        for (int i = 0; i < packets; ++i) {
            if (!pipe.Board().ReadExact(in.data(), 16) || !pipe.Board().ReadExact(in.data() + 16, kMaxPayload)) return;
            if (!pipe.Board().Write(answer, 16)) return;
        }
    });
    LARGE_INTEGER start = Now();
    for (int i = 0; i < packets; ++i) {
        if (!pipe.Write(header, 16) || !pipe.Write(payload.data(), kMaxPayload) || !pipe.Read(answer, 16)) break;
    }
    LARGE_INTEGER end = Now();
    boardSide.join();
    return Seconds(start, end);
}

// Raw: the update shape without the engine: a packet out, its answer and a 32-byte reply
// message (16-byte header and 16-byte reply) back, the host answering the reply.
double RawUpdateSeconds(RawPipe &pipe, uint32_t imageBytes) {
    const uint32_t chunk = kMaxPayload - 16;
    const int packets = int((imageBytes + chunk - 1) / chunk);
    std::vector<uint8_t> packet(16 + kMaxPayload, 0x33);
    std::thread boardSide([&] {
        std::vector<uint8_t> in(16 + kMaxPayload);
        uint8_t out[16 + 16 + 16] = {};
        for (int i = 0; i < packets; ++i) {
            if (!pipe.Board().ReadExact(in.data(), 16 + kMaxPayload)) return;
            if (!pipe.Board().Write(out, sizeof(out))) return;   // answer, reply header, reply
            if (!pipe.Board().ReadExact(in.data(), 16)) return;  // the host's answer to the reply
        }
    });
    uint8_t in[48];
    LARGE_INTEGER start = Now();
    for (int i = 0; i < packets; ++i) {
        if (!pipe.Write(packet.data(), 16) || !pipe.Write(packet.data() + 16, kMaxPayload) || !pipe.Read(in, 48) ||
            !pipe.Write(in, 16))
            break;
    }
    LARGE_INTEGER end = Now();
    boardSide.join();
    return Seconds(start, end);
}

bool StartSimBoard(std::unique_ptr<boardsim::SimulatedBoard> &board, bool updateMode, HCOMM &handle) {
    boardsim::BoardConfig config;
    config.instance = UniqueInstance("benchsim");
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
    PipeBoard board(UniqueInstance("idle"));
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

int main() {
    CommStartup();
    {
        RawPipe pipe;
        if (!pipe.Ok()) {
            std::printf("raw pipe could not be set up\n");
            return 1;
        }
        const double raw = RawSendSeconds(pipe, kSendMessages);
        const double wirrow = WirrowSendSeconds(kSendMessages);
        const double rawRate = kSendMessages / raw, wirrowRate = kSendMessages / wirrow;
        std::printf("1 MiB messages, %d of them, packets of %u bytes:\n", kSendMessages, kMaxPayload);
        std::printf("  raw pipe (packet + 16-byte answer)  %8.1f MiB/s\n", rawRate);
        std::printf("  CommSendData to simulated board     %8.1f MiB/s   ratio %.2f\n", wirrowRate,
                    wirrowRate / rawRate);
        const double rawUpdate = RawUpdateSeconds(pipe, kImageBytes);
        bool accepted = false;
        const double wirrowUpdate = WirrowUpdateSeconds(kImageBytes, accepted);
        std::printf("Update-shaped exchange, %u MiB image, %u-byte packets with a 16-byte reply each:\n",
                    kImageBytes / kMiB, kMaxPayload);
        std::printf("  raw pipe                            %8.3f s\n", rawUpdate);
        std::printf("  Wirrow with simulated board         %8.3f s     ratio %.2f (time / raw time)%s\n",
                    wirrowUpdate, wirrowUpdate / rawUpdate, accepted ? "" : "  [board did not accept the image]");
    }
    double idle = 0;
    if (IdleCpuSeconds(idle))
        std::printf("Idle connected link, 10 s: CPU time %.3f s\n", idle);
    else
        std::printf("Idle connected link: could not connect\n");
    CommCleanup();
    return 0;
}
