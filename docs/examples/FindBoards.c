/*
 * Finding boards: prints the device path of every board plugged in on USB, one a
 * line, in the order in which Flashwell and ImageTool take them. Each path is an
 * address for CommOpen, for example for the host example:
 *   FindBoards.exe
 *   HostExample.exe "\\?\usb#vid_1234&pid_5678#...#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}"
 * Windows' device setup lists the boards under their USB interface class,
 * BoardInterfaceGuid; no Communicator call is needed.
 * Build in the package folder:
 *   MinGW: gcc examples/FindBoards.c -Iinclude -lsetupapi -o FindBoards.exe
 *   MSVC:  cl examples\FindBoards.c /Iinclude setupapi.lib
 */
#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>

#include "BoardInterfaceGuid.h"

int main(void) {
    HDEVINFO present;
    SP_DEVICE_INTERFACE_DATA board;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A *detail;
    DWORD index, needed;
    unsigned long listed = 0;

    /* Every device interface of the devices plugged in now; the boards' are picked below. */
    present = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE);
    if (present == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "SetupDiGetClassDevs failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    for (index = 0;; ++index) {
        board.cbSize = sizeof(board);
        /* Ends with ERROR_NO_MORE_ITEMS after the last board. */
        if (!SetupDiEnumDeviceInterfaces(present, NULL, &BoardInterfaceGuid, index, &board)) break;
        /* The first call only tells the size of the path's record. */
        needed = 0;
        SetupDiGetDeviceInterfaceDetailA(present, &board, NULL, 0, &needed, NULL);
        if (needed < sizeof(*detail)) continue;
        detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_A *)malloc(needed);
        if (detail == NULL) break;
        detail->cbSize = sizeof(*detail); /* the record's fixed part, not needed */
        if (SetupDiGetDeviceInterfaceDetailA(present, &board, detail, needed, NULL, NULL)) {
            printf("%s\n", detail->DevicePath);
            ++listed;
        }
        free(detail);
    }
    SetupDiDestroyDeviceInfoList(present);
    if (listed == 0) {
        fprintf(stderr, "No board found: plug one in and wait until Windows has set it up.\n");
        return 3;
    }
    return 0;
}
