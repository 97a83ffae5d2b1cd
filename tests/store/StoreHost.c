/* A host program of its own, linked against Communicator's import library, that
   works on the shared store through the exports: the second process of the
   store's round trips. One operation per run:
     StoreHost add-device NAME ADDRESS PORT FEATURES | remove-device ADDRESS PORT
             | list-devices | add-router HOST PORT | remove-router HOST | list-routers
   Prints each listed record as "device NAME|ADDRESS|PORT|FEATURES" or
   "router NAME|ADDRESS|PORT", then "result N COUNT". Exit code 0 when the
   operation ran (whatever its result), 2 for a command it does not know. */
#include "CommApi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define STORE_HOST_CAPACITY 64u

static void Fill(char *field, const char *text) {
    strncpy(field, text, COMM_TEXT_FIELD_SIZE - 1);
    field[COMM_TEXT_FIELD_SIZE - 1] = '\0';
}

int main(int argc, char **argv) {
    static DeviceRecord devices[STORE_HOST_CAPACITY];
    static RouterRecord routers[STORE_HOST_CAPACITY];
    DeviceRecord device;
    uint32_t count = STORE_HOST_CAPACITY;
    uint32_t i;
    CommResult result;
    const char *command = argc > 1 ? argv[1] : "";

    memset(&device, 0, sizeof(device));
    if (strcmp(command, "add-device") == 0 && argc == 6) {
        Fill(device.displayName, argv[2]);
        Fill(device.address, argv[3]);
        device.port = (uint16_t)strtoul(argv[4], NULL, 10);
        device.features = (uint32_t)strtoul(argv[5], NULL, 10);
        result = CommAddDevice(&device, NULL, 0);
        count = 0;
    } else if (strcmp(command, "remove-device") == 0 && argc == 4) {
        Fill(device.address, argv[2]);
        device.port = (uint16_t)strtoul(argv[3], NULL, 10);
        result = CommRemoveDevice(&device, NULL, 0);
        count = 0;
    } else if (strcmp(command, "list-devices") == 0) {
        result = CommGetDevices(devices, &count, NULL, 0);
        for (i = 0; result == COMM_SUCCESS && i < count; ++i)
            printf("device %s|%s|%u|%lu\n", devices[i].displayName, devices[i].address, devices[i].port,
                   (unsigned long)devices[i].features);
    } else if (strcmp(command, "add-router") == 0 && argc == 4) {
        result = CommAddRouter(argv[2], (uint32_t)strtoul(argv[3], NULL, 10));
        count = 0;
    } else if (strcmp(command, "remove-router") == 0 && argc == 3) {
        result = CommRemoveRouter(argv[2], 0);
        count = 0;
    } else if (strcmp(command, "list-routers") == 0) {
        result = CommGetRouters(routers, &count);
        for (i = 0; result == COMM_SUCCESS && i < count; ++i)
            printf("router %s|%s|%u\n", routers[i].name, routers[i].address, routers[i].port);
    } else {
        fprintf(stderr, "usage: StoreHost add-device|remove-device|list-devices|add-router|remove-router|list-routers\n");
        return 2;
    }
    printf("result %lu %lu\n", (unsigned long)result, (unsigned long)count);
    fflush(stdout);
    return 0;
}
