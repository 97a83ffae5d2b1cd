// Which transport serves a device address, and which row of the transport table
// a CommOpen uses. Pure text logic: no Windows calls, tested directly.
#pragma once
#include <cstddef>
#include <cstdint>

// "COM" for a serial port (COM1, com12), "USB" for a USB device-interface path
// (\\?\usb#...), "TCP" for anything else (host names, IP addresses). The
// prefixes match regardless of letter case; a shorter address never matches.
const char *GetTransportKind(const char *address);

// Whether a router pair is given: a non-empty host and a port whose low 16 bits
// are not 0. Such a device is reached through a router, whatever its address.
bool HasRouter(const char *routerHost, uint32_t routerPort);

// The index of the table row that serves a device. With a router given, the
// first row (the TCP transport); otherwise the last row whose name equals the
// address's kind exactly, searching from the last row down to the second; the
// first row when none does. rowNames holds rowCount zero-terminated names.
std::size_t ChooseTransportRow(const char *const *rowNames, std::size_t rowCount, const char *address,
                               const char *routerHost, uint32_t routerPort);
