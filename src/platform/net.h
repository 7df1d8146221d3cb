// SPDX-License-Identifier: MIT
// TCP client sockets for the link to a networked receiver. Every wait here
// has a deadline, nothing here raises a signal, and a closed socket is
// marked as such, so that no call can reach a descriptor that belongs to
// something else. Failures leave their reason in plat_last_error().
#pragma once

#include <cstddef>
#include <cstdint>

struct plat_tcp {
#ifdef _WIN32
    uintptr_t handle = ~static_cast<uintptr_t>(0); // a SOCKET; INVALID_SOCKET when closed
#else
    int fd = -1; // -1: no socket, or closed
#endif
};

// Reads IPv4 address text in the classic forms that the socket library
// accepts ("a.b.c.d", also "a.b.c", "a.b" and "a", each part decimal, octal
// or hexadecimal). Returns true with the address in network byte order.
bool plat_ipv4_parse(const char *text, uint32_t *addr_be);

// Creates a stream socket. False when the system refuses one.
bool plat_tcp_create(plat_tcp *s);
bool plat_tcp_is_open(const plat_tcp *s);
// Reads or sets the keep-alive option. False when the system refuses.
bool plat_tcp_get_keepalive(plat_tcp *s, int *value);
bool plat_tcp_set_keepalive(plat_tcp *s, int value);

// Connects to addr_be:port (the port as a plain number), giving up after
// timeout_ms. A connect that runs out of time fails with the system's
// time-out code.
bool plat_tcp_connect(plat_tcp *s, uint32_t addr_be, uint16_t port, unsigned timeout_ms);

// Sends all `size` bytes, waiting at most until `deadline_ms` (a
// plat_monotonic_ms() value). A peer that has gone away fails the send with
// the system's code; the process gets no signal. A closed socket fails at
// once, with the "bad descriptor" code ("not a socket" on Windows).
bool plat_tcp_send_all(plat_tcp *s, const void *data, size_t size, uint64_t deadline_ms);

// Waits until something can be read, at most until `deadline_ms`, then
// receives what is there, up to `size` bytes. Returns the count; 0 when the
// peer closed the connection (the last error code is then 0); -1 on an error
// or when the deadline passed (the time-out code).
long plat_tcp_recv_some(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms);

// Receives exactly `size` bytes, however the peer splits them, waiting at
// most until `deadline_ms`. Returns `size`; 0 when the peer closed the
// connection first (the last error code is then 0); -1 on an error or when
// the deadline passed (the time-out code).
long plat_tcp_recv_exact(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms);

// Drops the bytes already waiting on the socket (at most 64 KiB), without
// waiting for more.
// Returns the number of bytes dropped.
size_t plat_tcp_discard_pending(plat_tcp *s);

void plat_tcp_close(plat_tcp *s);
