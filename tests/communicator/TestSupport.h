// Support for the tests of Communicator: the recording transports' shared log, and
// Communicator.dll loaded by path with its exports.
#pragma once
#include "CommApi.h"
#include "HandleCount.h"
#include "RecordingLog.h"
#include "TempFolder.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// Copies a file of the build (a path relative to the build's bin folder, which holds
// Communicator.dll and testtransports\) into folder.
void CopyBuildFile(const char *relativePath, const std::string &folder);

// A fresh shared RecordingLog, named in the environment for the transports that
// are loaded while it lives.
class RecordingLogView {
public:
    RecordingLogView();
    RecordingLogView(const RecordingLogView &) = delete;
    RecordingLogView &operator=(const RecordingLogView &) = delete;
    ~RecordingLogView();

    recording::Behaviour &Behaviour(recording::Kind kind) { return log_->behaviour[kind]; }
    std::vector<recording::Entry> Entries() const;
    // Entries of one call (of any kind when kind is kKindCount).
    std::vector<recording::Entry> Calls(recording::Call call, recording::Kind kind = recording::kKindCount) const;
    std::size_t Count(recording::Call call, recording::Kind kind = recording::kKindCount) const {
        return Calls(call, kind).size();
    }

private:
    UniqueHandle mapping_;
    recording::Log *log_ = nullptr;
};

// Communicator.dll loaded from a path, with its eight exports.
struct CommunicatorLibrary {
    CommunicatorLibrary() = default;
    CommunicatorLibrary(const CommunicatorLibrary &) = delete;
    CommunicatorLibrary &operator=(const CommunicatorLibrary &) = delete;
    ~CommunicatorLibrary() { Unload(); }

    // False when the library or one of its exports cannot be found.
    bool Load(const std::string &path);
    void Unload();
    bool Loaded() const { return module != nullptr; }

    HMODULE module = nullptr;
    PFN_CommOpen open = nullptr;
    PFN_CommClose close = nullptr;
    PFN_CommConnect connect = nullptr;
    PFN_CommDisconnect disconnect = nullptr;
    PFN_CommGetOption getOption = nullptr;
    PFN_CommSetOption setOption = nullptr;
    PFN_CommSendData sendData = nullptr;
    PFN_CommReceiveData receiveData = nullptr;
};

// Device addresses of the three kinds.
extern const char kUsbPath[];
extern const char kOtherUsbPath[];
extern const char kSerialPort[];
extern const char kRouterHost[];
constexpr uint32_t kRouterPort = 26214;

uint64_t Bits(const void *pointer);
