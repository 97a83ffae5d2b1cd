// SimBoard.exe: one simulated board as a process of its own, for demos and for
// end-to-end tests of other programs. See SimBoardUsage() for the command line.
#include "SimBoardOptions.h"
#include "SimulatedBoard.h"
#include "StdinLines.h"
#include "Thread.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <cstdio>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace boardsim;

namespace {

std::mutex outputMutex;

void PrintLine(const std::string &line) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

DWORD SaveImage(const std::string &path, const std::vector<std::uint8_t> &image) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!file) return ::GetLastError();
    DWORD written = 0;
    if (!image.empty() &&
        (!::WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr) ||
         written != image.size()))
        return ::GetLastError();
    return ::FlushFileBuffers(file.Get()) ? ERROR_SUCCESS : ::GetLastError();
}

bool ParseHex(const std::string &text, std::vector<std::uint8_t> *bytes) {
    if (text.size() % 2) return false;
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char *end = nullptr;
        unsigned long value = std::strtoul(pair, &end, 16);
        if (*end != '\0') return false;
        bytes->push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

std::string Result(const char *command, DWORD error) {
    return error ? std::string("error ") + command + " " + std::to_string(error) : std::string("ok ") + command;
}

// Runs one stdin command; false on "quit".
bool RunCommand(SimulatedBoard &board, const std::string &line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command.empty()) return true;
    if (command == "quit") return false;
    if (command == "unplug") {
        PrintLine(Result("unplug", board.Unplug()));
    } else if (command == "replug") {
        PrintLine(Result("replug", board.Replug()));
    } else if (command == "disconnect") {
        PrintLine(Result("disconnect", board.Disconnect()));
    } else if (command == "stall") {
        unsigned long ms = 0;
        words >> ms;
        board.StallReading(ms);
        PrintLine("ok stall");
    } else if (command == "resume") {
        board.ResumeReading();
        PrintLine("ok resume");
    } else if (command == "listening") {
        // Answers once a new open of the path will succeed (no host holds the board).
        PrintLine(board.WaitListening(10000) ? "ok listening" : "error listening 1460");
    } else if (command == "repeat") {
        PrintLine(Result("repeat", board.SendRepeatRequest()));
    } else if (command == "send") {
        unsigned channel = 256, subchannel = 256;
        std::string hex;
        std::vector<std::uint8_t> data;
        words >> channel >> subchannel >> hex;
        if (channel > 255 || subchannel > 255 || !ParseHex(hex, &data)) {
            PrintLine("error send 87");
        } else {
            std::uint32_t ticket = board.QueueMessage(static_cast<std::uint8_t>(channel),
                                                      static_cast<std::uint8_t>(subchannel), data);
            PrintLine("queued " + std::to_string(ticket));
        }
    } else {
        PrintLine("error " + command + " 1");
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    SimBoardOptions options;
    std::string error;
    if (!ParseSimBoardOptions(args, &options, &error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), SimBoardUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(SimBoardUsage(), stdout);
        return 0;
    }

    UniqueHandle stopEvent;
    if (!options.stopEventName.empty()) {
        stopEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, options.stopEventName.c_str()));
        if (!stopEvent) {
            std::fprintf(stderr, "error stop-event %lu\n", ::GetLastError());
            return 1;
        }
    }

    SimulatedBoard board(options.board);
    const std::string output = options.outputFile;
    board.SetFlashWrittenHandler([output](const std::vector<std::uint8_t> &image) {
        std::uint32_t sum = 0;
        for (std::uint8_t b : image) sum += b;
        DWORD saved = output.empty() ? ERROR_SUCCESS : SaveImage(output, image);
        char line[96];
        std::snprintf(line, sizeof(line), "flashed %zu 0x%08lX%s", image.size(), static_cast<unsigned long>(sum),
                      saved ? " save-failed" : "");
        PrintLine(line);
    });
    DWORD started = board.Start();
    if (started) {
        std::fprintf(stderr, "error start %lu\n", started);
        return 1;
    }
    StdinLines input;
    if (options.readStdin && !input.Start()) {
        std::fprintf(stderr, "error stdin %lu\n", ::GetLastError());
        return 1;
    }
    PrintLine("ready " + board.InterfacePath());

    bool running = true;
    while (running) {
        std::vector<HANDLE> waits;
        if (options.readStdin) waits = {input.Closed(), input.Available()};
        if (stopEvent) waits.push_back(stopEvent.Get());
        // Lines first: "quit" followed by the end of input must still be read.
        DWORD waited = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
        std::string line;
        while (running && options.readStdin && input.Next(&line)) running = RunCommand(board, line);
        if (!options.readStdin || waited != WAIT_OBJECT_0 + 1) running = false;
    }
    input.Stop();
    board.Stop();
    if (options.verbose)
        for (const BoardEvent &event : board.Events()) PrintLine("event " + DescribeEvent(event));
    return 0;
}
