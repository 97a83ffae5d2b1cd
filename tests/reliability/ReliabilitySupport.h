// What the reliability programs share: a simulated board run as its own process
// (SimBoard.exe beside the test, ended through a named event), so that the test
// process holds nothing but the host side and its resource counts are the host's
// own; and those counts: threads, handles (probed, since Wine's
// GetProcessHandleCount reports 0) and private bytes.
#pragma once
#include "ThreadCount.h"
#include "UniqueHandle.h"
#include "UniqueName.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

class BoardProcess {
public:
    BoardProcess() = default;
    ~BoardProcess() { Stop(); }
    BoardProcess(const BoardProcess &) = delete;
    BoardProcess &operator=(const BoardProcess &) = delete;

    // Starts SimBoard.exe with these options for a board of its own instance name.
    bool Start(const std::string &instance, const std::string &options);
    // Ends the program (its stop event), waiting at most 10 s; true when it ended with 0.
    bool Stop();
    const std::string &Path() const { return path_; }

private:
    UniqueHandle process_;
    UniqueHandle stop_;
    std::string path_;
};

struct ResourceCounts {
    DWORD threads = 0;
    DWORD handles = 0;
    uint64_t privateBytes = 0;
};
ResourceCounts CountResources();

// A message whose bytes tell its serial number and length, so any delivered copy can be checked alone.
std::vector<uint8_t> MessageBytes(uint32_t serial, uint32_t size);
// The serial of a delivered message, or 0 when its bytes are not exactly one that was made.
uint32_t CheckedSerial(const uint8_t *data, size_t size);
