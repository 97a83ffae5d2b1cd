#include "ReliabilitySupport.h"
#include "BoardInterface.h"
#include "HandleCount.h"
#include "PrivateBytes.h"
#include "ProgramFolder.h"
#include <cstring>

bool BoardProcess::Start(const std::string &instance, const std::string &options) {
    const std::string stopName = UniqueName("simboard-stop-");
    stop_.Reset(::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!stop_) return false;
    const std::string exe = ProgramFolder() + "\\SimBoard.exe";
    std::string command = "\"" + exe + "\" --instance " + instance + " --no-stdin --stop-event " + stopName + " " + options;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    process_.Reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    path_ = boardsim::BoardInterfacePath(instance);
    return true;
}

bool BoardProcess::Stop() {
    if (!process_) return true;
    ::SetEvent(stop_.Get());
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process_.Get(), 10000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process_.Get(), &code);
    else ::TerminateProcess(process_.Get(), 99);
    process_.Reset();
    stop_.Reset();
    return code == 0;
}

ResourceCounts CountResources() {
    ResourceCounts counts;
    counts.threads = ProcessThreadCount();
    counts.handles = CountProcessHandles();
    counts.privateBytes = CommittedPrivateBytes();
    return counts;
}

std::vector<uint8_t> MessageBytes(uint32_t serial, uint32_t size) {
    std::vector<uint8_t> bytes(size < 8 ? 8 : size);
    std::memcpy(bytes.data(), &serial, 4);
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    std::memcpy(bytes.data() + 4, &length, 4);
    uint32_t state = serial * 2654435761u + 1;
    for (size_t i = 8; i < bytes.size(); ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

uint32_t CheckedSerial(const uint8_t *data, size_t size) {
    if (size < 8) return 0;
    uint32_t serial = 0, length = 0;
    std::memcpy(&serial, data, 4);
    std::memcpy(&length, data + 4, 4);
    if (length != size || serial == 0) return 0;
    const std::vector<uint8_t> expected = MessageBytes(serial, length);
    return std::memcmp(expected.data(), data, size) == 0 ? serial : 0;
}
