// Loads Communicator.dll from the path given, opens a USB and a serial handle and
// ends the process without closing them or releasing the library. Exit code 0
// when both opens succeeded.
#include "CommApi.h"

#include <windows.h>

int main(int argc, char **argv) {
    if (argc < 2) return 1;
    HMODULE communicator = LoadLibraryExA(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);  // Hivekey.dll beside it
    if (!communicator) return 2;
    auto open = reinterpret_cast<PFN_CommOpen>(reinterpret_cast<void *>(GetProcAddress(communicator, "CommOpen")));
    if (!open) return 3;
    HCOMM usb = nullptr;
    HCOMM serial = nullptr;
    if (open("\\\\?\\usb#vid_1234&pid_5678#exit#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}", 0, &usb, nullptr, 26214) != 0)
        return 4;
    if (open("COM1", 0, &serial, nullptr, 26214) != 0) return 5;
    ExitProcess(0);
}
