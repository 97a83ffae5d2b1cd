/*
 * The routers and boards this computer knows, through Communicator.dll.
 *   StoreExample.exe
 * Adds a router by hand and registers a board on a serial port, lists every
 * router (those found on the network first) and the boards of this computer,
 * then removes what it added, leaving the store as it found it.
 * Build in the package folder:
 *   MinGW: gcc examples/StoreExample.c -Iinclude -Llib -lCommunicator -o StoreExample.exe
 *   MSVC:  cl examples\StoreExample.c /Iinclude lib\Communicator.lib
 */
#include "CommApi.h"
#include <stdio.h>
#include <string.h>

#define ROUTER_HOST "192.168.1.20" /* a router that discovery does not reach */
#define ROUTER_PORT 26214u
#define MAX_LISTED 32u

int main(void) {
    static RouterRecord routers[MAX_LISTED];
    static DeviceRecord boards[MAX_LISTED];
    DeviceRecord board;
    uint32_t count, i;
    CommResult result, added;
    int failed = 0;

    /* Kept in the registry for every host program of this user: add it once. */
    result = CommAddRouter(ROUTER_HOST, ROUTER_PORT);
    if (result != COMM_SUCCESS) {
        fprintf(stderr, "CommAddRouter failed: %lu\n", (unsigned long)result);
        return 1;
    }

    /* A board on serial port COM3 of this computer. (The address "COM" alone
       would also take the default serial settings of the store.) Registering
       needs no transport; opening it needs the serial transport Serrow.dll,
       which does not come with this package. */
    memset(&board, 0, sizeof(board));
    strcpy(board.displayName, "Bench board");
    strcpy(board.address, "COM3");
    board.port = 0;
    added = CommAddDevice(&board, NULL, 0); /* COMM_ERROR_ALREADY_EXISTS: registered already */
    if (added != COMM_SUCCESS && added != COMM_ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "CommAddDevice failed: %lu\n", (unsigned long)added);
        failed = 1;
    }

    /* count: the array's capacity in, the number of routers out. Each call
       looks for routers on the network first, which takes a second or more. */
    count = MAX_LISTED;
    result = CommGetRouters(routers, &count);
    if (result == COMM_SUCCESS) {
        for (i = 0; i < count; ++i)
            printf("router %s at %s:%u\n", routers[i].name, routers[i].address, routers[i].port);
    } else if (result == COMM_ERROR_MORE_DATA) {
        printf("%lu routers: more than %u\n", (unsigned long)count, MAX_LISTED);
    } else {
        failed = 1;
    }

    /* The boards of this computer; a router's host and port instead of NULL, 0
       would list the boards behind that router. */
    count = MAX_LISTED;
    result = CommGetDevices(boards, &count, NULL, 0);
    if (result == COMM_SUCCESS) {
        for (i = 0; i < count; ++i)
            printf("board \"%s\" on %s, port %u\n", boards[i].displayName, boards[i].address, boards[i].port);
    } else if (result != COMM_ERROR_MORE_DATA) {
        failed = 1;
    }

    /* Removed by address and port; the display name plays no part. */
    if (added == COMM_SUCCESS && CommRemoveDevice(&board, NULL, 0) != COMM_SUCCESS) failed = 1;
    if (CommRemoveRouter(ROUTER_HOST, 0) != COMM_SUCCESS) failed = 1;
    if (!failed) printf("done\n");
    return failed;
}
