/*
 * Comm API: the functions, option identifiers and result codes shared by
 * Flashwell, Communicator and every transport library (Wirrow and others).
 * Usable from C and C++. All functions use the cdecl convention, so a caller
 * may pass more arguments than a transport reads.
 */
#ifndef COMM_API_H
#define COMM_API_H

#include <stdint.h>

#include "CommRecords.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define COMM_CALL __cdecl
#else
#define COMM_CALL
#endif

/* Opaque handle: a pointer-sized value delivered by CommOpen. Never 0 or all ones. */
typedef void *HCOMM;

/* Every function returns one 32-bit result: 0 or one of the codes below. */
typedef uint32_t CommResult;

/* Option identifiers for CommGetOption / CommSetOption. 8, 9, 0 and > 16 are unknown. */
#define COMM_OPT_MAX_PAYLOAD      1u  /* 4 bytes, read: largest payload of one packet */
#define COMM_OPT_HEADER_SIZE      2u  /* 4 bytes, read: packet header size, always 16 */
#define COMM_OPT_MAX_PACKET       3u  /* 4 bytes, read: option 1 plus 16 */
#define COMM_OPT_RING_SLOTS       4u  /* 4 bytes, read/write: received packets held */
#define COMM_OPT_CHANNEL          5u  /* 1 byte,  read/write: the handle's own channel */
#define COMM_OPT_SUBCHANNEL       6u  /* 1 byte,  read/write: the handle's own sub-channel */
#define COMM_OPT_FILTER           7u  /* 4 bytes, read/write: receive filter on (1) / off (0) */
#define COMM_OPT_PACKET_TIMEOUT  10u  /* 4 bytes, read: payload wait after a header, ms */
#define COMM_OPT_REPLY_TIMEOUT   11u  /* 4 bytes, read: answer wait, ms */
#define COMM_OPT_ATTEMPTS        12u  /* 4 bytes, read: sends per packet */
#define COMM_OPT_NO_TIMEOUTS     13u  /* 4 bytes, read: 1 when the link waits without time-outs */
#define COMM_OPT_SPARE_A         14u  /* 4 bytes, read/write: stored only */
#define COMM_OPT_SPARE_B         15u  /* 4 bytes, read/write: stored only */
#define COMM_OPT_HOST_ORDER      16u  /* 4 bytes, read: 1 when the board's fields are little-endian */

/* Result codes (Windows system error codes, plus E_POINTER and the router receive failure). */
#define COMM_SUCCESS                    0u
#define COMM_ERROR_FILE_NOT_FOUND       2u
#define COMM_ERROR_INVALID_HANDLE       6u
#define COMM_ERROR_NOT_ENOUGH_MEMORY    8u
#define COMM_ERROR_INVALID_PARAMETER   87u
#define COMM_ERROR_MOD_NOT_FOUND      126u
#define COMM_ERROR_PROC_NOT_FOUND     127u
#define COMM_ERROR_ALREADY_EXISTS     183u
#define COMM_ERROR_MORE_DATA          234u
#define COMM_ERROR_WAIT_TIMEOUT       258u
#define COMM_ERROR_INVALID_ADDRESS    487u
#define COMM_ERROR_DEVICE_NOT_CONNECTED 1167u
#define COMM_ERROR_CANCELLED         1223u
#define COMM_ERROR_CONNECTION_ACTIVE 1230u
#define COMM_ERROR_TIMEOUT           1460u
#define COMM_E_POINTER         0x80004003u
#define COMM_ERROR_RECEIVE_NOT_POSTED 0xFFFFFFFFu /* a router receive that could not be posted */

/* Address bytes used by the firmware updater. */
#define COMM_UPDATER_CHANNEL     66u  /* 'B' */
#define COMM_UPDATER_SUBCHANNEL   1u

/* A transport library's start and end. Communicator calls them itself when it
   loads and unloads a transport, and does not export them: a host program never
   calls them, and a call would not link. They are declared only where
   COMM_TRANSPORT_LIBRARY is defined, as the transport libraries' own builds (and
   programs that load a transport library themselves) define it, so that a host
   program's compiler reports such a call as one to an undeclared function. */
#if defined(COMM_TRANSPORT_LIBRARY)
CommResult COMM_CALL CommStartup(void);
CommResult COMM_CALL CommCleanup(void);
#endif
CommResult COMM_CALL CommOpen(const char *address, uint32_t reserved, HCOMM *handle,
                              const char *routerHost, uint32_t routerPort);
CommResult COMM_CALL CommClose(HCOMM handle);
CommResult COMM_CALL CommConnect(HCOMM handle, uint32_t channel, const uint8_t *subchannel,
                                 const void *request, void *reply);
CommResult COMM_CALL CommDisconnect(HCOMM handle);
CommResult COMM_CALL CommGetOption(HCOMM handle, uint32_t option, void *value);
CommResult COMM_CALL CommSetOption(HCOMM handle, uint32_t option, const void *value);
CommResult COMM_CALL CommSendData(HCOMM handle, const void *data, uint32_t length,
                                  uint32_t channel, uint32_t subchannel);
CommResult COMM_CALL CommReceiveData(HCOMM handle, void *buffer, uint32_t *length,
                                     uint8_t *channel, uint8_t *subchannel);

/* The UDP port on which protocol routers and the router service on this
   computer listen (a value in Communicator's store may move the service). */
#define COMM_ROUTER_PORT 26214u

/* Communicator only: the open connections of a protocol router or of the
   router service on this computer, and closing one of them. host is a dotted
   IPv4 address (NULL: "127.0.0.1"), port's low 16 bits count (0: COMM_ROUTER_PORT).
   CommGetConnections: *count holds the capacity of records on entry and the
   number of connections on return; COMM_ERROR_MORE_DATA (count unchanged) when
   it is too small. */
CommResult COMM_CALL CommGetConnections(ConnectionRecord *records, uint32_t *count, const char *host,
                                        uint32_t port);
CommResult COMM_CALL CommCloseConnection(uint32_t id1, uint32_t id2, const char *host, uint32_t port);

/* Communicator only: the routers and devices this computer knows.
   Routers: CommAddRouter stores a router by hand under its host (a later add
   with the same host replaces it); CommRemoveRouter removes it (port unused);
   CommGetRouters lists the routers found on the network, then the stored ones.
   Devices: without a router (routerHost NULL or empty, or routerPort's low 16
   bits 0) the calls work on this computer's store: CommAddDevice gives
   COMM_ERROR_ALREADY_EXISTS when a device with the same address (ignoring case)
   and port is stored already, CommRemoveDevice COMM_ERROR_FILE_NOT_FOUND when
   none is. With a router they go to that router (routerHost a dotted IPv4
   address; CommGetDevices also looks a name up, COMM_ERROR_INVALID_ADDRESS when
   it does not resolve).
   The Get calls: *count holds the capacity of records on entry and the number
   available on return; COMM_ERROR_MORE_DATA, with no record written, when it is
   too small. */
CommResult COMM_CALL CommAddRouter(const char *host, uint32_t port);
CommResult COMM_CALL CommRemoveRouter(const char *host, uint32_t port);
CommResult COMM_CALL CommGetRouters(RouterRecord *records, uint32_t *count);
CommResult COMM_CALL CommAddDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort);
CommResult COMM_CALL CommRemoveDevice(const DeviceRecord *device, const char *routerHost, uint32_t routerPort);
CommResult COMM_CALL CommGetDevices(DeviceRecord *records, uint32_t *count, const char *routerHost,
                                    uint32_t routerPort);

/* Communicator only: the board-selection dialog "Connect to board", modal on
   the calling thread. The user picks a router and one of its boards (and may
   add routers by host name or address, or remove routers added by hand).
   parentWindow is the owner's HWND (NULL: this program's visible top-level
   window highest in the window order, or none). Returns 0 with *selection filled: the board's
   displayName (empty for a board without a name), address and port, and the
   routerAddress and routerPort to pass to CommOpen (empty and 0 for a board of
   this computer's store); COMM_ERROR_CANCELLED, with *selection untouched, when
   the user cancelled (COMM_ERROR_INVALID_PARAMETER for a parentWindow that is no
   window, COMM_ERROR_NOT_ENOUGH_MEMORY when the dialog could not be shown). The
   choice is remembered for the next call. */
CommResult COMM_CALL CommSelectDevice(SelectionRecord *selection, void *parentWindow);

/* Pointer types for binding the functions by name at run time (Communicator binds
   each transport's CommStartup and CommCleanup this way). */
typedef CommResult(COMM_CALL *PFN_CommStartup)(void);
typedef CommResult(COMM_CALL *PFN_CommCleanup)(void);
typedef CommResult(COMM_CALL *PFN_CommOpen)(const char *, uint32_t, HCOMM *, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommClose)(HCOMM);
typedef CommResult(COMM_CALL *PFN_CommConnect)(HCOMM, uint32_t, const uint8_t *, const void *, void *);
typedef CommResult(COMM_CALL *PFN_CommDisconnect)(HCOMM);
typedef CommResult(COMM_CALL *PFN_CommGetOption)(HCOMM, uint32_t, void *);
typedef CommResult(COMM_CALL *PFN_CommSetOption)(HCOMM, uint32_t, const void *);
typedef CommResult(COMM_CALL *PFN_CommSendData)(HCOMM, const void *, uint32_t, uint32_t, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommReceiveData)(HCOMM, void *, uint32_t *, uint8_t *, uint8_t *);
typedef CommResult(COMM_CALL *PFN_CommGetConnections)(ConnectionRecord *, uint32_t *, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommCloseConnection)(uint32_t, uint32_t, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommAddRouter)(const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommRemoveRouter)(const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommGetRouters)(RouterRecord *, uint32_t *);
typedef CommResult(COMM_CALL *PFN_CommAddDevice)(const DeviceRecord *, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommRemoveDevice)(const DeviceRecord *, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommGetDevices)(DeviceRecord *, uint32_t *, const char *, uint32_t);
typedef CommResult(COMM_CALL *PFN_CommSelectDevice)(SelectionRecord *, void *);

#ifdef __cplusplus
}
#endif

#endif /* COMM_API_H */
