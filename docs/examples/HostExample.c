/*
 * A minimal host program: talks to one board through Communicator.dll.
 *   HostExample.exe "\\?\usb#vid_1234&pid_5678#...#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}"
 * Opens the board, connects channel 65 / sub-channel 1, sends one message,
 * waits for the board's answer and closes everything again.
 * Build in the package folder:
 *   MinGW: gcc examples/HostExample.c -Iinclude -Llib -lCommunicator -o HostExample.exe
 *   MSVC:  cl examples\HostExample.c /Iinclude lib\Communicator.lib
 */
#include "CommApi.h"
#include <stdio.h>
#include <string.h>

#define EXAMPLE_CHANNEL 65u /* 'A' */

int main(int argc, char **argv) {
    HCOMM handle = 0;
    uint8_t subchannel = 1;
    uint32_t maxPayload = 0;
    char reply[256];
    uint32_t replyLength = sizeof(reply);
    uint8_t replyChannel = 0, replySubchannel = 0;
    const char message[] = "hello, board";
    CommResult result;

    if (argc != 2) {
        fprintf(stderr, "usage: HostExample.exe DEVICE-PATH\n");
        return 2;
    }
    /* No router host: the transport is chosen from the path (USB here). */
    result = CommOpen(argv[1], 0, &handle, NULL, 0);
    if (result != COMM_SUCCESS) {
        fprintf(stderr, "CommOpen failed: %lu\n", (unsigned long)result);
        return 1;
    }
    result = CommConnect(handle, EXAMPLE_CHANNEL, &subchannel, NULL, NULL);
    if (result == COMM_SUCCESS) {
        CommGetOption(handle, COMM_OPT_MAX_PAYLOAD, &maxPayload);
        printf("connected; largest payload %lu bytes\n", (unsigned long)maxPayload);
        result = CommSendData(handle, message, (uint32_t)strlen(message), EXAMPLE_CHANNEL, subchannel);
        /* CommReceiveData waits until a message arrives or the link fails. */
        if (result == COMM_SUCCESS)
            result = CommReceiveData(handle, reply, &replyLength, &replyChannel, &replySubchannel);
        if (result == COMM_SUCCESS)
            printf("reply: %.*s (%lu bytes, channel %u/%u)\n", (int)replyLength, reply,
                   (unsigned long)replyLength, replyChannel, replySubchannel);
        else
            fprintf(stderr, "exchange failed: %lu\n", (unsigned long)result);
        CommDisconnect(handle);
    } else {
        fprintf(stderr, "CommConnect failed: %lu\n", (unsigned long)result);
    }
    /* Always close what CommOpen opened, also after a failure. */
    CommClose(handle);
    return result == COMM_SUCCESS ? 0 : 1;
}
