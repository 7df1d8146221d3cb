// SPDX-License-Identifier: MIT
// What each system's folder (posix/, win32/) gives the portable code of the
// platform layer: a few calls that do one thing each and never loop. The
// loops, the deadlines and the bookkeeping around them are written once, in
// the portable files beside this one. Only the platform layer includes this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/drive.h"
#include "platform/net.h"
#include "platform/platform.h"

// Conditions that the portable code reports with the system's own code.
enum plat_condition {
    PLAT_NO_ERROR,         // 0: an orderly end, nothing failed
    PLAT_INVALID_ARGUMENT, // a transfer the system would refuse
    PLAT_TIMED_OUT,        // a deadline passed
    PLAT_NOT_A_SOCKET,     // the socket is closed
};
// Makes the condition the last error code (plat_last_error()).
void plat_set_condition(plat_condition condition);

// --- The command files' first sector ---------------------------------------
// One transfer of sector 0 of an open file from or into a sector buffer
// whose alignment has been checked. True when all 512 bytes moved.
bool plat_sector_read(plat_file *f, void *sector);
bool plat_sector_write(plat_file *f, const void *sector);

// --- Sockets -----------------------------------------------------------------
// Every socket here is non-blocking (plat_tcp_create). None of these calls
// waits except plat_sock_wait, and that once, at most `timeout_ms`.

// Windows: creates a non-blocking stream socket for IPv6 or IPv4
// (plat_tcp_create: IPv4).
bool plat_sock_create(plat_tcp *s, bool ipv6);
// Waits until `s` can be written (`for_write`) or read; an error or a
// hang-up on the socket counts as ready (the next call reports it).
// 1: ready; 0: the time passed (possibly early); -1: an error.
int plat_sock_wait(const plat_tcp *s, bool for_write, uint64_t timeout_ms);
// Sends what the socket takes now; the process gets no signal when the
// peer has gone. The count sent, or -1 on an error.
long plat_sock_send(plat_tcp *s, const void *data, size_t size);
// Receives what is there now, at most `size` bytes. The count; 0 when the
// peer closed the connection; -1 on an error.
long plat_sock_recv(plat_tcp *s, void *data, size_t size);
// What the last failed call meant: nothing to do now (try after a wait),
// or a signal broke in (try again at once).
bool plat_sock_would_block(void);
bool plat_sock_interrupted(void);
// Starts connecting. 1: connected at once; 0: the connect goes on (wait
// until writable, then ask plat_sock_connect_result); -1: failed.
int plat_sock_connect_start(plat_tcp *s, uint32_t addr_be, uint16_t port);
// How a connect that went on ended: true when connected, false with the
// system's code as the last error.
bool plat_sock_connect_result(plat_tcp *s);

// --- The receiver's drive ----------------------------------------------------
// What one look through the drives found.
struct plat_drive_found {
    bool found = false;
    bool timed_out = false;
    char dir[4096] = "";
    char untrusted[sizeof plat_drive_search::untrusted] = "";
    bool list_all = false;      // asked for: go on after the drive found, and list
    plat_drive_listing listing; // every drive holding the files, when list_all
};
// Puts `dir` into the listing with `verdict` (or notes that there is no room).
void plat_drive_list_add(plat_drive_found *found, const char *dir, plat_drive_verdict verdict);
// One look through the drives, until `deadline_ms` at the most: `where`
// says where to look (null: where this system keeps its drives), `dir_size`
// is the size of the caller's buffers for the command file names.
using plat_drive_look = void (*)(const void *where, size_t dir_size, uint64_t deadline_ms,
                                 plat_drive_found *found);
// This system's look (drive.h's search uses it).
void plat_drive_look_system(const void *where, size_t dir_size, uint64_t deadline_ms,
                            plat_drive_found *found);
// A search with `look`: the limit, the result and what was passed over, as
// drive.h's search describes them.
bool plat_drive_search_run(plat_drive_look look, const void *where, char *dir, size_t dir_size,
                           plat_drive_search *search);
