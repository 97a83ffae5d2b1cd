/* A C host program linked against Communicator's import library: every export
   resolves, and CommOpen gives the codes the guide explains for each address when
   only the shipped transport, Wirrow.dll, lies beside Communicator.dll: 126 for the
   serial and network transports that come from outside, 2 for a USB board that is
   not there, 0x80004003 for no address at all; the caller's handle stays untouched.
   Exit code 0 on success. */
#include "CommApi.h"

#include <stdio.h>

struct OpenCase {
    const char *address;
    const char *routerHost;
    uint32_t routerPort;
    CommResult expected;
    const char *why;
};

static const struct OpenCase openCases[] = {
    {"COM99", NULL, 26214, COMM_ERROR_MOD_NOT_FOUND, "a serial port needs Serrow.dll"},
    {"COM3", "192.168.1.20", 26214, COMM_ERROR_MOD_NOT_FOUND, "a board behind a router needs Netrow.dll"},
    {"", NULL, 0, COMM_ERROR_MOD_NOT_FOUND, "an empty address is a network address: Netrow.dll"},
    {"C:\\no\\such\\file", NULL, 0, COMM_ERROR_MOD_NOT_FOUND, "a file path is a network address: Netrow.dll"},
    {"\\\\?\\usb#vid_1234&pid_5678#absent#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}", NULL, 0,
     COMM_ERROR_FILE_NOT_FOUND, "a USB board that is not plugged in"},
    {NULL, NULL, 26214, COMM_E_POINTER, "no address"},
};

int main(void) {
    HCOMM sentinel = (HCOMM)0x5A5A;
    HCOMM handle = sentinel;
    uint32_t value = 0;
    uint32_t length = sizeof(value);
    int failures = 0;
    size_t i;
    for (i = 0; i < sizeof(openCases) / sizeof(openCases[0]); ++i) {
        CommResult result = CommOpen(openCases[i].address, 0, &handle, openCases[i].routerHost,
                                     openCases[i].routerPort);
        if (result != openCases[i].expected) {
            printf("CommOpen (%s) gave %lu, expected %lu\n", openCases[i].why, (unsigned long)result,
                   (unsigned long)openCases[i].expected);
            ++failures;
        }
        if (handle != sentinel) {
            printf("CommOpen (%s) wrote the handle although it failed\n", openCases[i].why);
            ++failures;
        }
    }
    /* A null handle is refused by every call that takes one. */
    if (CommClose(NULL) != COMM_ERROR_INVALID_HANDLE) ++failures;
    if (CommConnect(NULL, COMM_UPDATER_CHANNEL, NULL, NULL, NULL) != COMM_ERROR_INVALID_HANDLE) ++failures;
    if (CommDisconnect(NULL) != COMM_ERROR_INVALID_HANDLE) ++failures;
    if (CommGetOption(NULL, COMM_OPT_MAX_PAYLOAD, &value) != COMM_ERROR_INVALID_HANDLE) ++failures;
    if (CommSetOption(NULL, COMM_OPT_RING_SLOTS, &value) != COMM_ERROR_INVALID_HANDLE) ++failures;
    if (CommSendData(NULL, &value, sizeof(value), COMM_UPDATER_CHANNEL, COMM_UPDATER_SUBCHANNEL) !=
        COMM_ERROR_INVALID_HANDLE)
        ++failures;
    if (CommReceiveData(NULL, &value, &length, NULL, NULL) != COMM_ERROR_INVALID_HANDLE) ++failures;
    /* The router calls resolve too; these fail before anything is sent. */
    if (CommGetConnections(NULL, NULL, NULL, 0) != COMM_E_POINTER) ++failures;
    if (CommCloseConnection(1, 2, "router.example", 26214) != COMM_ERROR_INVALID_ADDRESS) ++failures;
    /* The store's calls resolve; these refuse unusable input without touching the store. */
    if (CommGetRouters(NULL, NULL) != COMM_E_POINTER) ++failures;
    if (CommGetDevices(NULL, NULL, NULL, 0) != COMM_E_POINTER) ++failures;
    if (CommAddDevice(NULL, NULL, 0) != COMM_E_POINTER) ++failures;
    if (CommRemoveDevice(NULL, NULL, 0) != COMM_E_POINTER) ++failures;
    if (CommAddRouter(NULL, COMM_ROUTER_PORT) != COMM_E_POINTER) ++failures;
    /* The routers' port that host programs and Communicator share. */
    if (COMM_ROUTER_PORT != 26214u) ++failures;
    if (CommRemoveRouter("", 0) != COMM_ERROR_INVALID_PARAMETER) ++failures;
    /* The selection dialog resolves; an unusable record is refused before any window opens. */
    if (CommSelectDevice(NULL, NULL) != COMM_E_POINTER) ++failures;
    if (failures == 0) printf("C host program: all checks passed\n");
    return failures;
}
