/* A C host program linked against Communicator's import library: every export
   resolves, and a device whose transport library is nowhere to be found is
   reported, with the caller's handle untouched. Exit code 0 on success. */
#include "CommApi.h"

#include <stdio.h>

int main(void) {
    HCOMM sentinel = (HCOMM)0x5A5A;
    HCOMM handle = sentinel;
    uint32_t value = 0;
    uint32_t length = sizeof(value);
    CommResult result = CommOpen("COM99", 0, &handle, NULL, 26214);
    int failures = 0;
    if (result != COMM_ERROR_MOD_NOT_FOUND) {
        printf("CommOpen gave %lu, expected 126 (no serial transport installed)\n", (unsigned long)result);
        ++failures;
    }
    if (handle != sentinel) {
        printf("CommOpen wrote the handle although it failed\n");
        ++failures;
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
