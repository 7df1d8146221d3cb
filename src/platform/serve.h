// SPDX-License-Identifier: MIT
// Server sockets for kestreld: listening on an IPv4 or IPv6 address, taking
// connections, moving bytes without ever blocking, waiting on many sockets
// at once, and the stop request (SIGTERM, SIGINT and SIGHUP on POSIX; on
// Windows Ctrl-C, Ctrl-Break, the console window closed, a log-off or a
// shutdown). Nothing here blocks except plat_serve_wait, and that only
// until its time-out, a socket event or a stop request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

// An IPv4 or an IPv6 address, its bytes in network order (IPv4: the first
// four).
struct plat_ip {
    bool v6 = false;
    uint8_t bytes[16] = {};
};

// Reads an IPv6 address in its standard text forms ("::1", "fd00::2:1",
// "::ffff:192.0.2.1") and nothing else: no brackets, no zone ("%eth0"), no
// space.
bool plat_ipv6_parse(const char *text, uint8_t bytes[16]);
// The address as text: a dotted quad, or IPv6 in its shortest form without
// brackets. Always terminated; "?" when it does not fit.
void plat_ip_text(const plat_ip *a, char *out, size_t size);
// Whether the address is this machine's loopback: 127.0.0.0/8, ::1, or
// 127.0.0.0/8 written as IPv6 (::ffff:127.0.0.1).
bool plat_ip_is_loopback(const plat_ip *a);
// Whether `a` lies in the network `net`/`bits`: of the same family, with
// the same first `bits` bits (bits past the address's length count as all).
bool plat_ip_in_network(const plat_ip *a, const plat_ip *net, unsigned bits);

// Opens a non-blocking listening socket on addr:port; an IPv6 one takes
// IPv6 clients only. False with the system's code in plat_last_error() when
// the address cannot be used (in use, not on this machine, ...).
bool plat_listen_on(plat_tcp *s, const plat_ip *addr, uint16_t port);
// The same on the IPv4 address addr_be (network byte order).
bool plat_listen(plat_tcp *s, uint32_t addr_be, uint16_t port);
// Why plat_listen failed with `code`, in words for the user: "the port is
// in use by another program", "the address is not one of this machine's",
// or else the system's own text.
const char *plat_listen_error_text(long code);

// The port a listening socket is bound to (0 when it cannot be read).
uint16_t plat_local_port(plat_tcp *s);

// Takes one waiting connection as a non-blocking socket, and the client's
// address into `peer` (when not null). 1: taken; 0: none waiting; -1: an
// error (the listener stays usable).
int plat_accept_from(plat_tcp *listener, plat_tcp *client, plat_ip *peer);
int plat_accept(plat_tcp *listener, plat_tcp *client);

// Receives what is there, at most `size` bytes, without waiting. Returns
// the count; 0 when the peer closed; -1 when nothing is there yet; -2 on an
// error.
long plat_recv_now(plat_tcp *s, void *data, size_t size);

// Sends as much of `size` bytes as the socket takes now. Returns the count
// sent (possibly 0), or -1 on an error (a peer that has gone away included;
// the process gets no signal).
long plat_send_now(plat_tcp *s, const void *data, size_t size);

// One socket to wait on, and what became of it.
struct plat_wait_item {
    plat_tcp *sock = nullptr;
    bool want_read = false;
    bool want_write = false;
    bool readable = false; // also set when the peer closed or the socket failed
    bool writable = false;
};

// From now on SIGTERM, SIGINT and SIGHUP only ask the server to stop: they
// are held back everywhere except inside plat_serve_wait, which they end at
// once. SIGPIPE, SIGUSR1 and SIGALRM are ignored. On Windows the console's
// events do the same (Ctrl-C, Ctrl-Break; the window closed, a log-off, a
// shutdown hold the process until it has ended by itself, with status 0).
// False when the stop request cannot be set up.
bool plat_stop_signals_install(void);
// Whether a stop was asked for, also by a signal still held back.
bool plat_stop_requested(void);

// Waits until one of the items is ready, a stop is requested, or
// `timeout_ms` passes (-1: no time-out). Returns the number of ready items,
// 0 on a time-out or a stop request, -1 on an error.
int plat_serve_wait(plat_wait_item *items, size_t count, int timeout_ms);
