// Loads Communicator.dll from the path given, opens and connects the board path
// given, starts a receive that waits on another thread, and ends the process with
// everything still open. Exit code 0 when the open and the connect succeeded.
#include "CommApi.h"
#include <windows.h>

namespace {

PFN_CommReceiveData receiveData = nullptr;

DWORD WINAPI WaitForAMessage(void *handle) {
    unsigned char buffer[64];
    uint32_t length = sizeof(buffer);
    receiveData(static_cast<HCOMM>(handle), buffer, &length, nullptr, nullptr);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 1;
    HMODULE communicator = LoadLibraryExA(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);  // Hivekey.dll beside it
    if (!communicator) return 2;
    auto open = reinterpret_cast<PFN_CommOpen>(reinterpret_cast<void *>(GetProcAddress(communicator, "CommOpen")));
    auto connect =
        reinterpret_cast<PFN_CommConnect>(reinterpret_cast<void *>(GetProcAddress(communicator, "CommConnect")));
    receiveData = reinterpret_cast<PFN_CommReceiveData>(
        reinterpret_cast<void *>(GetProcAddress(communicator, "CommReceiveData")));
    if (!open || !connect || !receiveData) return 3;
    HCOMM handle = nullptr;
    if (open(argv[2], 0, &handle, nullptr, 26214) != 0) return 4;
    const uint8_t subchannel = 1;
    if (connect(handle, 'B', &subchannel, nullptr, nullptr) != 0) return 5;
    HANDLE waiter = CreateThread(nullptr, 0, &WaitForAMessage, handle, 0, nullptr);
    if (!waiter) return 6;
    ExitProcess(0);
}
