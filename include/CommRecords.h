/*
 * The fixed-layout records that cross Communicator's boundary: host programs
 * allocate arrays of them and pass them to the exports, so their layout is the
 * contract. Packed, little-endian numbers, texts zero-terminated in 260-byte
 * fields (at most 259 characters). Usable from C and C++; the layout is checked
 * at compile time wherever this header is included.
 */
#ifndef COMM_RECORDS_H
#define COMM_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#define COMM_TEXT_FIELD_SIZE 260u /* a text field: at most 259 characters and the zero */

#pragma pack(push, 1)

/* A protocol router: found on the network, the local router service, or added by hand. */
typedef struct RouterRecord {
    char name[COMM_TEXT_FIELD_SIZE];    /* the router's own name, or the host it was added with */
    char address[COMM_TEXT_FIELD_SIZE]; /* host name or dotted IPv4 address */
    uint16_t port;                      /* UDP port of the router */
} RouterRecord;

/* A device (board): on a serial port, on USB, or behind a router. */
typedef struct DeviceRecord {
    char displayName[COMM_TEXT_FIELD_SIZE]; /* may be empty */
    char address[COMM_TEXT_FIELD_SIZE];     /* COM1, a USB device-interface path, or a host */
    uint16_t port;
    uint16_t extra;    /* a router's own value for the device, passed through; 0 locally */
    uint32_t features; /* stored and returned unchanged, never interpreted */
} DeviceRecord;

/* An open connection at a router or at the local router service (CommGetConnections). */
typedef struct ConnectionRecord {
    uint8_t id1; /* the two identifiers CommCloseConnection takes */
    uint8_t id2;
    uint16_t portA;
    char nameA[COMM_TEXT_FIELD_SIZE];
    char addressA[COMM_TEXT_FIELD_SIZE];
    char nameB[COMM_TEXT_FIELD_SIZE];
    char addressB[COMM_TEXT_FIELD_SIZE];
    uint16_t portB;
} ConnectionRecord;

/* The board and router a user picked in the board-selection dialog. The first
   three fields have the layout of a DeviceRecord's. */
typedef struct SelectionRecord {
    char displayName[COMM_TEXT_FIELD_SIZE];
    char address[COMM_TEXT_FIELD_SIZE];
    uint16_t port;
    char routerAddress[COMM_TEXT_FIELD_SIZE]; /* empty for a board of the local store */
    uint16_t routerPort;                      /* 0 for a board of the local store */
} SelectionRecord;

#pragma pack(pop)

/* Compile-time layout checks, in C89 and later as in C++. */
#if defined(__cplusplus)
#define COMM_RECORD_CHECK(name, condition) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define COMM_RECORD_CHECK(name, condition) _Static_assert(condition, #name)
#else
#define COMM_RECORD_CHECK(name, condition) typedef char comm_record_check_##name[(condition) ? 1 : -1]
#endif

COMM_RECORD_CHECK(router_size, sizeof(RouterRecord) == 522);
COMM_RECORD_CHECK(router_name, offsetof(RouterRecord, name) == 0);
COMM_RECORD_CHECK(router_address, offsetof(RouterRecord, address) == 260);
COMM_RECORD_CHECK(router_port, offsetof(RouterRecord, port) == 520);

COMM_RECORD_CHECK(device_size, sizeof(DeviceRecord) == 528);
COMM_RECORD_CHECK(device_display_name, offsetof(DeviceRecord, displayName) == 0);
COMM_RECORD_CHECK(device_address, offsetof(DeviceRecord, address) == 260);
COMM_RECORD_CHECK(device_port, offsetof(DeviceRecord, port) == 520);
COMM_RECORD_CHECK(device_extra, offsetof(DeviceRecord, extra) == 522);
COMM_RECORD_CHECK(device_features, offsetof(DeviceRecord, features) == 524);

COMM_RECORD_CHECK(connection_size, sizeof(ConnectionRecord) == 1046);
COMM_RECORD_CHECK(connection_id1, offsetof(ConnectionRecord, id1) == 0);
COMM_RECORD_CHECK(connection_id2, offsetof(ConnectionRecord, id2) == 1);
COMM_RECORD_CHECK(connection_port_a, offsetof(ConnectionRecord, portA) == 2);
COMM_RECORD_CHECK(connection_name_a, offsetof(ConnectionRecord, nameA) == 4);
COMM_RECORD_CHECK(connection_address_a, offsetof(ConnectionRecord, addressA) == 264);
COMM_RECORD_CHECK(connection_name_b, offsetof(ConnectionRecord, nameB) == 524);
COMM_RECORD_CHECK(connection_address_b, offsetof(ConnectionRecord, addressB) == 784);
COMM_RECORD_CHECK(connection_port_b, offsetof(ConnectionRecord, portB) == 1044);

COMM_RECORD_CHECK(selection_size, sizeof(SelectionRecord) == 784);
COMM_RECORD_CHECK(selection_display_name, offsetof(SelectionRecord, displayName) == 0);
COMM_RECORD_CHECK(selection_address, offsetof(SelectionRecord, address) == 260);
COMM_RECORD_CHECK(selection_port, offsetof(SelectionRecord, port) == 520);
COMM_RECORD_CHECK(selection_router_address, offsetof(SelectionRecord, routerAddress) == 522);
COMM_RECORD_CHECK(selection_router_port, offsetof(SelectionRecord, routerPort) == 782);

#undef COMM_RECORD_CHECK

#endif /* COMM_RECORDS_H */
