// The board side of the update protocol, played by a test: a simulated USB
// interface of the board class whose path opens this object's named pipe, where
// the "updateboard" test transport (loaded by Communicator as Wirrow.dll) relays
// the Comm API calls. Each step waits a bounded time for the next call.
#pragma once
#include "BoardInterface.h"
#include "UniqueHandle.h"
#include "updateboard/UpdateBoardWire.h"
#include <cstdint>
#include <string>
#include <vector>

namespace flashwelltest {

struct BoardRequest {
    uint8_t kind = 0;
    std::vector<uint8_t> payload;
};

class UpdateBoardPipe {
public:
    // `instance` names the simulated interface ("sim0" ...).
    explicit UpdateBoardPipe(const std::string &instance);
    ~UpdateBoardPipe();
    UpdateBoardPipe(const UpdateBoardPipe &) = delete;
    UpdateBoardPipe &operator=(const UpdateBoardPipe &) = delete;

    // Registered, present and linked to the pipe.
    bool Ready() const { return ready_; }
    std::string Path() const;

    // Waits for a transport to open the path, then for its first record.
    bool AwaitRequest(BoardRequest &request, DWORD timeoutMs = 10000);
    bool Answer(uint32_t result, const std::vector<uint8_t> &extra = {});
    // Waits until the transport has closed the path; the pipe then takes the next opener.
    bool AwaitClosed(DWORD timeoutMs = 10000);

private:
    bool AwaitClient(DWORD timeoutMs);
    bool ReadExactly(void *data, DWORD length, DWORD timeoutMs);

    std::string instance_;
    std::string pipeName_;
    UniqueHandle pipe_;
    UniqueHandle ioEvent_;
    boardsim::DeviceLink link_;
    bool connected_ = false;
    bool ready_ = false;
};

}  // namespace flashwelltest
