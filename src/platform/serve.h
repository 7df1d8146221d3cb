// Server sockets for kestreld: listening on an IPv4 address, taking
// connections, moving bytes without ever blocking, waiting on many sockets
// at once, and the stop request (SIGTERM, SIGINT and SIGHUP on POSIX; on
// Windows Ctrl-C, Ctrl-Break, the console window closed, a log-off or a
// shutdown). Nothing here blocks except plat_serve_wait, and that only
// until its time-out, a socket event or a stop request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

// Whether an IPv4 address (network byte order) is a loopback address
// (127.0.0.0/8).
bool plat_ipv4_is_loopback(uint32_t addr_be);

// Opens a non-blocking listening socket on addr_be:port. False with the
// system's code in plat_last_error() when the address cannot be used (in
// use, not on this machine, ...).
bool plat_listen(plat_tcp *s, uint32_t addr_be, uint16_t port);
// Why plat_listen failed with `code`, in words for the user: "the port is
// in use by another program", "the address is not one of this machine's",
// or else the system's own text.
const char *plat_listen_error_text(long code);

// The port a listening socket is bound to (0 when it cannot be read).
uint16_t plat_local_port(plat_tcp *s);

// Takes one waiting connection as a non-blocking socket. 1: taken; 0:
// none waiting; -1: an error (the listener stays usable).
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
