/*
 * A minimal host program: talks to one board through Communicator.dll.
 *   HostExample.exe "\\?\usb#vid_1234&pid_5678#...#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}"
 * (FindBoards.exe prints the paths of the boards plugged in.)
 * Opens the board, connects channel 65 / sub-channel 1, sends one message and
 * waits up to 5 seconds for an answer, then closes everything again. Ends with 0
 * when the board answered, 3 when it did not answer in time, 1 on a failure.
 * Build in the package folder:
 *   MinGW: gcc examples/HostExample.c -Iinclude -Llib -lCommunicator -o HostExample.exe
 *   MSVC:  cl examples\HostExample.c /Iinclude lib\Communicator.lib
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "CommApi.h"

#define EXAMPLE_CHANNEL 65u /* 'A' */
#define ANSWER_WAIT_MS 5000u

/* CommReceiveData has no time-out of its own: it waits until a message comes or
   the link stops. A second thread stops the link when the wait is over, and the
   waiting receive then returns COMM_ERROR_DEVICE_NOT_CONNECTED (1167). */
typedef struct {
    HCOMM handle;
    HANDLE received; /* set once the receive has returned */
    int disconnected;
} ReceiveWatch;

static DWORD WINAPI DisconnectWhenSilent(LPVOID context) {
    ReceiveWatch *watch = (ReceiveWatch *)context;
    if (WaitForSingleObject(watch->received, ANSWER_WAIT_MS) == WAIT_TIMEOUT) {
        watch->disconnected = 1;
        CommDisconnect(watch->handle);
    }
    return 0;
}

/* Waits for the next message of this handle, at most ANSWER_WAIT_MS. */
static CommResult ReceiveWithin(HCOMM handle, char *buffer, uint32_t *length, uint8_t *channel,
                                uint8_t *subchannel, int *timedOut) {
    ReceiveWatch watch;
    HANDLE watcher;
    CommResult result;

    watch.handle = handle;
    watch.disconnected = 0;
    watch.received = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (watch.received == NULL) return GetLastError();
    watcher = CreateThread(NULL, 0, DisconnectWhenSilent, &watch, 0, NULL);
    if (watcher == NULL) {
        result = GetLastError();
        CloseHandle(watch.received);
        return result;
    }
    result = CommReceiveData(handle, buffer, length, channel, subchannel);
    SetEvent(watch.received);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    CloseHandle(watch.received);
    *timedOut = watch.disconnected && result == COMM_ERROR_DEVICE_NOT_CONNECTED;
    return result;
}

int main(int argc, char **argv) {
    HCOMM handle = 0;
    uint8_t subchannel = 1;
    uint32_t maxPayload = 0;
    char reply[256];
    uint32_t replyLength = sizeof(reply);
    uint8_t replyChannel = 0, replySubchannel = 0;
    const char message[] = "hello, board";
    int timedOut = 0;
    CommResult result;

    if (argc != 2) {
        fprintf(stderr, "usage: HostExample.exe DEVICE-PATH\n");
        return 2;
    }
    /* No router host: the transport is chosen from the path (USB here). */
    result = CommOpen(argv[1], 0, &handle, NULL, 0);
    if (result == COMM_ERROR_MOD_NOT_FOUND) {
        fprintf(stderr, "The USB transport Wirrow.dll is missing: keep it beside Communicator.dll.\n");
        return 1;
    }
    if (result != COMM_SUCCESS) {
        fprintf(stderr, "CommOpen failed: %lu\n", (unsigned long)result);
        return 1;
    }
    result = CommConnect(handle, EXAMPLE_CHANNEL, &subchannel, NULL, NULL);
    if (result == COMM_SUCCESS) {
        CommGetOption(handle, COMM_OPT_MAX_PAYLOAD, &maxPayload);
        printf("connected; largest payload %lu bytes\n", (unsigned long)maxPayload);
        result = CommSendData(handle, message, (uint32_t)strlen(message), EXAMPLE_CHANNEL, subchannel);
        if (result == COMM_SUCCESS)
            result = ReceiveWithin(handle, reply, &replyLength, &replyChannel, &replySubchannel, &timedOut);
        if (result == COMM_SUCCESS)
            printf("reply: %.*s (%lu bytes, channel %u/%u)\n", (int)replyLength, reply,
                   (unsigned long)replyLength, replyChannel, replySubchannel);
        else if (timedOut)
            printf("no answer within %u seconds\n", ANSWER_WAIT_MS / 1000u);
        else
            fprintf(stderr, "exchange failed: %lu\n", (unsigned long)result);
        CommDisconnect(handle); /* also after the watch's: it only clears the channel then */
    } else {
        fprintf(stderr, "CommConnect failed: %lu\n", (unsigned long)result);
    }
    /* Always close what CommOpen opened, also after a failure. */
    CommClose(handle);
    if (result == COMM_SUCCESS) return 0;
    return timedOut ? 3 : 1;
}
