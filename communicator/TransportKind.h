// Which kind of transport serves a device address, and which transport of the
// table a CommOpen uses. Pure text logic: no Windows calls, tested directly.
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

// The index of the transport that serves a device. With a router given, the
// first (the TCP transport); otherwise the last whose kind equals the address's
// kind exactly, searching from the last down to the second; the first when none
// does. kinds holds count zero-terminated kinds.
std::size_t ChooseTransport(const char *const *kinds, std::size_t count, const char *address, const char *routerHost,
                            uint32_t routerPort);
