// Figures for a whole firmware update, printed, not judged. For a 1 MiB and an
// 8 MiB image it times, round after round, the same update through every layer
// on the same kind of simulated board (this process, behind a USB interface):
//   raw      the packets written and read by hand on the device path, one thread
//   Wirrow   the update loop on Wirrow.dll's exports
//   front    the same loop on Communicator.dll's exports (which load Wirrow.dll)
//   session  Flashwell's update session (search, open, connect, packets) with a silent view
//   view     the session with the dialog's own view on a window of this process
//   console  ImageTool.exe update: the session in a process of its own, without a window
//   program  the real Flashwell.exe: from the click on Update to the closing message box
// Each figure is the median of the rounds, from the open (or the click) to the
// last reply. The cost per packet of each layer is taken from the difference of
// the two image sizes, which leaves out what every update pays once (search,
// library loading, connect).
//   tools/sandbox.sh wine build/x86_64/bin/update_bench.exe [--rounds=N] [--layers=view,program,...]
// (the raw loop and rawproc, the ratios' baselines, always run).
#include "CommApi.h"
#include "DialogUpdateView.h"
#include "FlashwellDriver.h"
#include "Library.h"
#include "LinkWindows.h"
#include "Median.h"
#include "Payloads.h"
#include "ProgramFolder.h"
#include "RawHost.h"
#include "SimulatedBoard.h"
#include "TempFolder.h"
#include "ToolRun.h"
#include "UniqueHandle.h"
#include "UniqueName.h"
#include "UpdateSession.h"
#include "WholeFile.h"
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using boardsim::BoardConfig;
using boardsim::BoardEvent;
using boardsim::BoardEventKind;
using boardsim::SimulatedBoard;
using flashwelltest::FlashwellDriver;
using flashwelltest::WaitUntil;

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr uint32_t kMaxPayload = 16384;
constexpr int IDC_UPDATE = 1001, IDC_SELECT_IMAGE = 1003;
constexpr DWORD kUpdateWaitMs = 120000;

enum Layer { kRaw, kRawProcess, kWirrow, kFront, kSession, kView, kConsole, kProgram, kLayers };
const char *const kLayerNames[kLayers] = {"raw", "rawproc", "Wirrow", "front", "session", "view", "console", "program"};
const char *const kLayerWhat[kLayers] = {"packets by hand on the device path",
                                         "the same, another process",
                                         "Wirrow.dll's exports",
                                         "Communicator.dll's exports",
                                         "update session, silent view",
                                         "update session, the dialog's view",
                                         "ImageTool.exe update, another process",
                                         "Flashwell.exe, click to message box"};

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

uint32_t PacketsFor(size_t payload) {
    const size_t chunk = kMaxPayload - 16;
    return static_cast<uint32_t>((payload + chunk - 1) / chunk);
}

// One image: its payload, the .img file around it and a folder with the shipped programs.
struct Workspace {
    TempFolder folder{"update-bench-"};
    std::vector<uint8_t> payload;
    std::string image;

    std::string payloadPath;

    bool Make(size_t bytes) {
        for (const char *name : {"Flashwell.exe", "Communicator.dll", "Hivekey.dll", "Wirrow.dll"})
            if (!folder.CopyIn(ProgramFolder(), name)) return false;
        payload = PatternPayload(bytes, static_cast<uint32_t>(bytes));
        payloadPath = folder.Write("payload.bin", payload);
        image = folder.File("firmware.img");
        return !payloadPath.empty() &&
               RunImageTool("make --model KV-220 --version 3.1.4 \"" + payloadPath + "\" \"" + image + "\"");
    }

    // The tool's report goes to files of the folder, not among the figures.
    bool RunImageTool(const std::string &arguments, DWORD timeoutMs = 30000) const {
        return Run("ImageTool.exe", arguments, timeoutMs);
    }
    // A program of the build folder, run in this workspace; true when it exits with 0.
    bool Run(const std::string &program, const std::string &arguments, DWORD timeoutMs) const {
        ToolRun run;
        return run.Start(ProgramFolder() + "\\" + program, arguments, folder.Path()) && run.Finish(timeoutMs) == 0;
    }
};

std::unique_ptr<SimulatedBoard> StartBoard() {
    BoardConfig config;
    config.instance = UniqueName("bench");
    config.maxPayload = kMaxPayload;
    auto board = std::make_unique<SimulatedBoard>(config);
    if (board->Start() != 0) return nullptr;
    return board;
}

// The raw loop: open, connect, every packet and its reply by hand, close. False on any failure.
bool RawLoop(const std::string &path, const std::vector<uint8_t> &payload) {
    rawhost::Host host;
    rawhost::Header reply;
    if (host.Open(path) || host.Connect(&reply)) return false;
    const bool le = (reply.bytes[7] & 0x10) != 0;
    const size_t chunk = kMaxPayload - 16;
    uint32_t sum = 0;
    for (size_t offset = 0; offset < payload.size();) {
        const size_t n = std::min(chunk, payload.size() - offset);
        const std::vector<uint8_t> piece(payload.begin() + offset, payload.begin() + offset + n);
        for (uint8_t byte : piece) sum += byte;
        offset += n;
        uint16_t status = 0xFFFF;
        if (host.UpdateExchange(rawhost::UpdatePacket(piece, offset == payload.size(), sum, le), le, &status) ||
            status)
            return false;
    }
    return true;
}

double RawUpdate(const std::vector<uint8_t> &payload, SimulatedBoard &board) {
    const Clock::time_point start = Clock::now();
    return RawLoop(board.InterfacePath(), payload) ? SecondsSince(start) : -1;
}

// The update loop on a Comm API table, as a host program would write it.
double CommUpdate(const CommFunctions &comm, const std::vector<uint8_t> &payload, SimulatedBoard &board) {
    const Clock::time_point start = Clock::now();
    HCOMM handle = nullptr;
    if (comm.open(board.InterfacePath().c_str(), 0, &handle, nullptr, 26214) != 0) return -1;
    const uint8_t subchannel = 1;
    double seconds = -1;
    uint32_t maxData = 0, hostOrder = 1;
    if (comm.connect(handle, 66, &subchannel, nullptr, nullptr) == 0 &&
        comm.getOption(handle, COMM_OPT_MAX_PAYLOAD, &maxData) == 0 && maxData > 16) {
        comm.getOption(handle, COMM_OPT_HOST_ORDER, &hostOrder);
        const bool le = hostOrder != 0;
        const size_t chunk = maxData - 16;
        std::vector<uint8_t> packet(maxData);
        uint32_t sum = 0;
        bool ok = true;
        for (size_t offset = 0; ok && offset < payload.size();) {
            const size_t n = std::min(chunk, payload.size() - offset);
            std::memcpy(packet.data() + 16, payload.data() + offset, n);
            for (size_t i = 0; i < n; ++i) sum += payload[offset + i];
            offset += n;
            const bool last = offset == payload.size();
            boardsim::UpdateHeader header;
            header.length = static_cast<uint32_t>(n);
            header.lastFlag = last ? boardsim::kUpdateLastFlag : 0;
            header.checksum = last ? sum : 0;
            const auto bytes = boardsim::EncodeUpdateHeader(header, le);
            std::memcpy(packet.data(), bytes.data(), bytes.size());
            uint8_t reply[16];
            uint32_t replyLength = sizeof(reply);
            uint8_t replyChannel = 0, replySubchannel = 0;
            ok = comm.sendData(handle, packet.data(), static_cast<uint32_t>(16 + n), 66, 1) == 0 &&
                 comm.receiveData(handle, reply, &replyLength, &replyChannel, &replySubchannel) == 0 &&
                 replyLength == 16 && boardsim::DecodeUpdateHeader(reply, le).status == 0;
        }
        if (ok) seconds = SecondsSince(start);
    }
    comm.disconnect(handle);
    comm.close(handle);
    return seconds;
}

class SilentView : public UpdateView {
public:
    explicit SilentView(std::string image) : image_(std::move(image)) {}
    std::string ImagePath() override { return image_; }
    void EnableButtons(bool) override {}
    void ShowStatus(const std::string &) override {}
    void SetProgress(unsigned) override {}
    void ShowMessage(const std::string &) override {}

private:
    std::string image_;
};

// The dialog's own view, its message box left out (the program figure has it).
class DialogViewWithoutBox : public DialogUpdateView {
public:
    using DialogUpdateView::DialogUpdateView;
    void ShowMessage(const std::string &) override {}
};

// A window with the controls a session drives, on a thread of its own with a
// message loop, as Flashwell's dialog has them.
class ControlsWindow {
public:
    ControlsWindow() {
        ready_ = MakeEvent(true, false);
        thread_ = std::thread([this] { Run(); });
        ::WaitForSingleObject(ready_.Get(), 10000);
    }
    ~ControlsWindow() {
        if (window_) ::PostMessageA(window_, WM_CLOSE, 0, 0);
        if (thread_.joinable()) thread_.join();
    }
    bool Ok() const { return window_ != nullptr; }
    const SessionControls &Controls() const { return controls_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
        if (message == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcA(window, message, first, second);
    }

    void Run() {
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&classes);
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.lpszClassName = "UpdateBenchControls";
        ::RegisterClassA(&windowClass);
        HWND window = ::CreateWindowExA(0, "UpdateBenchControls", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                        600, 300, nullptr, nullptr, nullptr, nullptr);
        if (window) {
            auto child = [&](const char *cls, int y) {
                return ::CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE, 10, y, 500, 20, window, nullptr, nullptr,
                                         nullptr);
            };
            controls_.status = child("STATIC", 10);
            controls_.progress = child(PROGRESS_CLASSA, 40);
            controls_.selectImage = child("BUTTON", 70);
            controls_.update = child("BUTTON", 100);
            ::SendMessageA(controls_.progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        }
        window_ = window;
        ::SetEvent(ready_.Get());
        if (!window) return;
        MSG message;
        while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }

    UniqueHandle ready_;
    std::thread thread_;
    HWND window_ = nullptr;
    SessionControls controls_;
};

double SessionUpdate(const CommFunctions &comm, UpdateView &view) {
    const Clock::time_point start = Clock::now();
    const UpdateResult result = RunUpdateSession(view, comm);
    return result.outcome == UpdateOutcome::Succeeded ? SecondsSince(start) : -1;
}

double ProgramUpdate(FlashwellDriver &app, SimulatedBoard &board) {
    const Clock::time_point start = Clock::now();
    app.Click(IDC_UPDATE);
    // Looking for the box asks the window manager about every top-level window, which would slow
    // the program measured: it is looked for only once the board has written its flash, just
    // before its last reply, and then every millisecond.
    if (!board.WaitFlashWrites(1, kUpdateWaitMs)) return -1;
    const bool shown = WaitUntil(
        [&] {
            if (app.MessageBoxShown()) return true;
            ::Sleep(1);
            return false;
        },
        kUpdateWaitMs);
    const double seconds = SecondsSince(start);
    std::string text;
    if (!shown || !app.AnswerMessageBox(text)) return -1;
    if (!WaitUntil([&] { return app.Enabled(IDC_UPDATE) && app.Enabled(IDC_SELECT_IMAGE); }, 10000)) return -1;
    return text == "Succeeded updating the firmware." ? seconds : -1;
}

// What every update pays once, step by step, on a fresh board: the search for the board, the
// raw loop's open and connect, then Wirrow's open (device, removal watch), connect (exchange and
// the three workers) and disconnect with close, twice: first right after a CommCleanup and
// CommStartup, as the first update of a process meets them (the NotifyWorker and the link workers'
// threads start), then again, as the next update of a series meets them. Before each disconnect the
// handle's window is waited for: an update's packets take longer than the window to be made.
enum Step {
    kSearch,
    kRawOpenConnect,
    kThreadStarts,
    kFirstOpen,
    kFirstConnect,
    kFirstClose,
    kOpen,
    kConnect,
    kClose,
    kSteps
};
const char *const kStepWhat[kSteps] = {"search for the board (SetupAPI)",
                                       "raw loop: open and connect",
                                       "four bare threads started (platform floor)",
                                       "Wirrow, first: CommOpen",
                                       "Wirrow, first: CommConnect",
                                       "Wirrow, first: CommDisconnect and CommClose",
                                       "Wirrow, next: CommOpen",
                                       "Wirrow, next: CommConnect",
                                       "Wirrow, next: CommDisconnect and CommClose"};

// Open, connect, disconnect and close, timed into seconds[open], [open + 1] and [open + 2].
bool TimedCycle(const CommFunctions &wirrow, SimulatedBoard &board, Step open, double (&seconds)[kSteps]) {
    HCOMM handle = nullptr;
    Clock::time_point start = Clock::now();
    if (wirrow.open(board.InterfacePath().c_str(), 0, &handle, nullptr, 26214) != 0) return false;
    seconds[open] = SecondsSince(start);
    start = Clock::now();
    const uint8_t subchannel = 1;
    const bool connected = wirrow.connect(handle, 66, &subchannel, nullptr, nullptr) == 0;
    seconds[open + 1] = SecondsSince(start);
    const bool watched = WaitLinkWindow(handle, 5000) != nullptr;
    start = Clock::now();
    wirrow.disconnect(handle);
    wirrow.close(handle);
    seconds[open + 2] = SecondsSince(start);
    return connected && watched && board.WaitListening(5000);
}

// The platform's own price of what Wirrow's first update starts: the NotifyWorker and three link
// workers. Seconds from the first CreateThread until the fourth thread's body runs; negative on failure.
struct ThreadStarts {
    std::atomic<int> begun{0};
    UniqueHandle allBegun = MakeEvent(true, false);
    UniqueHandle release = MakeEvent(true, false);
};

DWORD WINAPI StartedThread(LPVOID parameter) {
    auto *starts = static_cast<ThreadStarts *>(parameter);
    if (++starts->begun == 4) ::SetEvent(starts->allBegun.Get());
    ::WaitForSingleObject(starts->release.Get(), 10000);
    return 0;
}

double FourThreadStarts() {
    ThreadStarts starts;
    const Clock::time_point begin = Clock::now();
    std::vector<UniqueHandle> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back(::CreateThread(nullptr, 0, &StartedThread, &starts, 0, nullptr));
    const bool begunAll = ::WaitForSingleObject(starts.allBegun.Get(), 5000) == WAIT_OBJECT_0;
    const double seconds = SecondsSince(begin);
    ::SetEvent(starts.release.Get());
    for (const UniqueHandle &thread : threads)
        if (thread) ::WaitForSingleObject(thread.Get(), 10000);
    return begunAll ? seconds : -1;
}

bool OnceCosts(const CommFunctions &wirrow, const Library &wirrowLibrary, SimulatedBoard &board,
               double (&seconds)[kSteps]) {
    Clock::time_point start = Clock::now();
    std::vector<std::string> paths;
    if (FindTargets(paths) == 0) return false;
    seconds[kSearch] = SecondsSince(start);
    {
        start = Clock::now();
        rawhost::Host host;
        rawhost::Header reply;
        if (host.Open(board.InterfacePath()) || host.Connect(&reply)) return false;
        seconds[kRawOpenConnect] = SecondsSince(start);
    }
    // The board takes the next host once the raw one has gone.
    if (!board.WaitListening(5000)) return false;
    if ((seconds[kThreadStarts] = FourThreadStarts()) < 0) return false;
    // No handle is open here (Communicator's included): the cleanup ends the library's threads.
    auto cleanup = wirrowLibrary.Symbol<PFN_CommCleanup>("CommCleanup");
    auto startup = wirrowLibrary.Symbol<PFN_CommStartup>("CommStartup");
    if (!cleanup || !startup || cleanup() != 0 || startup() != 0) return false;
    return TimedCycle(wirrow, board, kFirstOpen, seconds) && TimedCycle(wirrow, board, kOpen, seconds);
}

// What the board saw of an update: from the host's open of the device to the last update reply
// (seconds, negative when it saw no open or no reply), and per packet of the image, the medians of
// the two halves of its round: from the board's reply being answered to the host's next packet
// (the host's turn), and from that packet to the host's answer to its reply (the reply's round).
struct AtBoard {
    double seconds = -1;
    double turnMs = -1;
    double replyMs = -1;
};

AtBoard FiguresAtBoard(const SimulatedBoard &board) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const double ticksPerMs = double(frequency.QuadPart) / 1000;
    int64_t opened = -1, replied = -1, packet = -1;
    std::vector<double> turns, replies;
    for (const BoardEvent &event : board.Events()) {
        if (event.kind == BoardEventKind::ClientConnected && opened < 0) opened = event.time;
        if (event.kind == BoardEventKind::HostPacket) {
            if (replied >= 0) turns.push_back(double(event.time - replied) / ticksPerMs);
            packet = event.time;
        }
        if (event.kind == BoardEventKind::UpdateReply) {
            if (packet >= 0) replies.push_back(double(event.time - packet) / ticksPerMs);
            replied = event.time;
        }
    }
    AtBoard figures;
    if (opened < 0 || replied < opened) return figures;
    figures.seconds = double(replied - opened) / double(frequency.QuadPart);
    figures.turnMs = Median(turns);
    figures.replyMs = Median(replies);
    return figures;
}

struct SizeFigures {
    size_t bytes = 0;
    uint32_t packets = 0;
    std::vector<double> seconds[kLayers];
    std::vector<double> atBoard[kLayers];
    std::vector<double> turnMs[kLayers];
    std::vector<double> replyMs[kLayers];
    int failures[kLayers] = {};
};

}  // namespace

int main(int argc, char **argv) {
    // The raw loop as another process runs it: update_bench.exe --raw-host PATH PAYLOAD-FILE.
    if (argc == 4 && std::strcmp(argv[1], "--raw-host") == 0) {
        const std::string payload = ReadWholeFile(argv[3]);
        return !payload.empty() && RawLoop(argv[2], std::vector<uint8_t>(payload.begin(), payload.end())) ? 0 : 1;
    }
    int rounds = 5;
    bool chosen[kLayers];
    std::fill(std::begin(chosen), std::end(chosen), true);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::max(1, std::atoi(argv[i] + 9));
        if (std::strncmp(argv[i], "--layers=", 9) == 0) {
            // The raw loop, in this process and in another, is the ratios' baseline: it always runs.
            const std::string names = std::string(",") + (argv[i] + 9) + ",";
            for (int layer = kRawProcess + 1; layer < kLayers; ++layer)
                chosen[layer] = names.find(std::string(",") + kLayerNames[layer] + ",") != std::string::npos;
        }
    }

    Library wirrowLibrary(::LoadLibraryA("Wirrow.dll"));
    Library communicatorLibrary(::LoadLibraryA("Communicator.dll"));
    CommFunctions wirrow{}, front{};
    if (!wirrowLibrary || !communicatorLibrary || !LoadCommFunctions(wirrowLibrary, wirrow) ||
        !LoadCommFunctions(communicatorLibrary, front)) {
        std::printf("cannot load Wirrow.dll and Communicator.dll beside the benchmark\n");
        return 1;
    }
    // Wirrow stays started for the whole run: Communicator uses the same loaded library.
    auto startup = wirrowLibrary.Symbol<PFN_CommStartup>("CommStartup");
    if (!startup || startup() != 0) return 1;
    ControlsWindow controls;
    auto sessionLink = std::make_shared<DialogSessionLink>();
    if (!controls.Ok()) return 1;
    sessionLink->Attach(controls.Controls());

    SizeFigures sizes[2];
    const size_t imageBytes[2] = {1 * kMiB, 8 * kMiB};
    for (int s = 0; s < 2; ++s) {
        SizeFigures &figures = sizes[s];
        figures.bytes = imageBytes[s];
        figures.packets = PacketsFor(imageBytes[s]);
        Workspace workspace;
        if (!workspace.Make(imageBytes[s])) {
            std::printf("cannot make the %zu MiB image and its folder\n", imageBytes[s] / kMiB);
            return 1;
        }
        FlashwellDriver app;
        const bool programReady = chosen[kProgram] && app.Start(workspace.folder.Path()) &&
                                  app.ChooseImage(workspace.image) &&
                                  WaitUntil([&] { return app.Enabled(IDC_UPDATE); }, 10000);
        for (int round = 0; round < rounds; ++round) {
            for (int layer = 0; layer < kLayers; ++layer) {
                if (!chosen[layer]) continue;
                if (layer == kProgram && !programReady) {
                    ++figures.failures[layer];
                    continue;
                }
                std::unique_ptr<SimulatedBoard> board = StartBoard();
                double seconds = -1;
                if (board) {
                    switch (layer) {
                    case kRaw: seconds = RawUpdate(workspace.payload, *board); break;
                    case kRawProcess: {
                        // Includes starting the process: the board's own figure leaves that out.
                        const Clock::time_point start = Clock::now();
                        if (workspace.Run("update_bench.exe",
                                          "--raw-host \"" + board->InterfacePath() + "\" \"" + workspace.payloadPath + "\"",
                                          kUpdateWaitMs))
                            seconds = SecondsSince(start);
                        break;
                    }
                    case kWirrow: seconds = CommUpdate(wirrow, workspace.payload, *board); break;
                    case kFront: seconds = CommUpdate(front, workspace.payload, *board); break;
                    case kSession: {
                        SilentView view(workspace.image);
                        seconds = SessionUpdate(front, view);
                        break;
                    }
                    case kView: {
                        const unsigned session = sessionLink->BeginSession();
                        DialogViewWithoutBox view(sessionLink, session, workspace.image, "bench");
                        seconds = SessionUpdate(front, view);
                        break;
                    }
                    case kConsole: {
                        // Includes starting the process: the cost per packet leaves that out.
                        const Clock::time_point start = Clock::now();
                        if (workspace.RunImageTool("update \"" + workspace.image + "\" --path \"" +
                                                       board->InterfacePath() + "\" --quiet",
                                                   kUpdateWaitMs))
                            seconds = SecondsSince(start);
                        break;
                    }
                    case kProgram: seconds = ProgramUpdate(app, *board); break;
                    }
                    // Every figure counts only when the board holds the image byte for byte.
                    if (seconds >= 0 && !WaitUntil([&] { return board->FlashImage() == workspace.payload; }, 5000))
                        seconds = -1;
                }
                const AtBoard atBoard = seconds < 0 ? AtBoard{} : FiguresAtBoard(*board);
                if (seconds < 0 || atBoard.seconds < 0) {
                    ++figures.failures[layer];
                } else {
                    figures.seconds[layer].push_back(seconds);
                    figures.atBoard[layer].push_back(atBoard.seconds);
                    figures.turnMs[layer].push_back(atBoard.turnMs);
                    figures.replyMs[layer].push_back(atBoard.replyMs);
                }
            }
        }
    }
    sessionLink->Detach();

    std::vector<double> once[kSteps];
    int onceFailures = 0;
    for (int round = 0; round < rounds; ++round) {
        std::unique_ptr<SimulatedBoard> board = StartBoard();
        double seconds[kSteps] = {};
        if (!board || !OnceCosts(wirrow, wirrowLibrary, *board, seconds)) {
            ++onceFailures;
            continue;
        }
        for (int step = 0; step < kSteps; ++step) once[step].push_back(seconds[step]);
    }

    std::printf("Whole update, packets of %u bytes (16-byte update header and chunk), a 16-byte reply to each;\n"
                "medians of %d rounds, each layer on a fresh simulated board:\n\n",
                kMaxPayload, rounds);
    double median[2][kLayers];
    for (int s = 0; s < 2; ++s)
        for (int layer = 0; layer < kLayers; ++layer) median[s][layer] = Median(sizes[s].seconds[layer]);
    std::printf("  %-8s %-38s", "layer", "what runs");
    for (const SizeFigures &figures : sizes)
        std::printf("  %2zu MiB (%3u pk)  ratio", figures.bytes / kMiB, figures.packets);
    std::printf("   ms/packet  +layer\n");
    const double extraPackets = double(sizes[1].packets) - double(sizes[0].packets);
    double below = 0;
    for (int layer = 0; layer < kLayers; ++layer) {
        if (!chosen[layer]) continue;
        std::printf("  %-8s %-38s", kLayerNames[layer], kLayerWhat[layer]);
        for (int s = 0; s < 2; ++s)
            std::printf("  %10.3f s  %6.2f", median[s][layer], median[s][layer] / median[s][kRaw]);
        const double perPacket = (median[1][layer] - median[0][layer]) / extraPackets * 1000;
        std::printf("   %8.3f  %+7.3f", perPacket, layer == kRaw ? 0.0 : perPacket - below);
        below = perPacket;
        int failed = sizes[0].failures[layer] + sizes[1].failures[layer];
        if (failed) std::printf("   [%d runs failed]", failed);
        std::printf("\n");
    }
    std::printf("\n  ratio: time of the layer over the raw loop's time in the same run; ms/packet: the\n"
                "  difference of the two sizes over the difference of their packet counts; +layer: what\n"
                "  the layer adds per packet to the one above it in the table.\n");
    std::printf("\nAt the board: from the host's open of the device to the last update reply, as the board\n"
                "sees it, and per packet of the larger image the host's turn (from its answer to the\n"
                "board's reply to its next packet) and the reply's round (from that packet to the host's\n"
                "answer to the reply); medians of the same runs:\n\n");
    std::printf("  %-8s", "layer");
    for (const SizeFigures &figures : sizes) std::printf("  %2zu MiB at board  ratio  /rawproc", figures.bytes / kMiB);
    std::printf("   turn ms  reply ms\n");
    double boardMedian[2][kLayers];
    for (int s = 0; s < 2; ++s)
        for (int layer = 0; layer < kLayers; ++layer) boardMedian[s][layer] = Median(sizes[s].atBoard[layer]);
    for (int layer = 0; layer < kLayers; ++layer) {
        if (!chosen[layer]) continue;
        std::printf("  %-8s", kLayerNames[layer]);
        for (int s = 0; s < 2; ++s)
            std::printf("  %13.3f s  %6.2f  %8.2f", boardMedian[s][layer], boardMedian[s][layer] / boardMedian[s][kRaw],
                        boardMedian[s][layer] / boardMedian[s][kRawProcess]);
        std::printf("  %8.3f  %8.3f\n", Median(sizes[1].turnMs[layer]), Median(sizes[1].replyMs[layer]));
    }
    std::printf("\nWhat every update pays once (medians of %d rounds, fresh board each):\n\n", rounds);
    double stepMs[kSteps];
    for (int step = 0; step < kSteps; ++step) {
        stepMs[step] = Median(once[step]) * 1000;
        std::printf("  %-46s %8.1f ms\n", kStepWhat[step], stepMs[step]);
    }
    std::printf("  %-46s %8.1f ms\n", "search, next open, connect, disconnect, close",
                stepMs[kSearch] + stepMs[kOpen] + stepMs[kConnect] + stepMs[kClose]);
    std::printf("  %-46s %8.1f ms\n", "search, first open, connect, disconnect, close",
                stepMs[kSearch] + stepMs[kFirstOpen] + stepMs[kFirstConnect] + stepMs[kFirstClose]);
    if (onceFailures) std::printf("  [%d rounds failed]\n", onceFailures);
    return 0;
}
