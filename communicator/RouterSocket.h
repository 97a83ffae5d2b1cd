// Socket steps shared by the router exchanges and discovery.
#pragma once
#include "RouterCodec.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// Sends the whole datagram: 0, or the sockets' error (never 0 on failure).
DWORD SendDatagram(SOCKET socket, const router::Request &request, const sockaddr_in &destination);

// Reads and drops every datagram (and every pending error report) already queued
// on the socket, so that a late reply to an earlier exchange is not taken for
// the reply to the next one. Bounded: it never waits.
void DropQueuedDatagrams(SOCKET socket);

// The first IPv4 address that a host name resolves to; false when it resolves to none.
bool FirstIpv4Address(const char *name, in_addr *address);

// An IPv4 socket address from a dotted IPv4 text (never resolved as a name) and
// the low 16 bits of a port. False when the text is not a dotted IPv4 address.
bool DottedDestination(const char *host, std::uint32_t port, sockaddr_in *destination);
