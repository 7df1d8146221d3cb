// SPDX-License-Identifier: MIT
// What a failure means in the user's terms, for the messages and hints that
// follow it: a system error code in words and its kind, whether a path names
// a directory or a file, and what lets the user open a USB receiver.
#pragma once

enum plat_error_kind {
    PLAT_ERROR_OTHER,
    PLAT_ERROR_NOT_FOUND,   // no such file or directory
    PLAT_ERROR_DENIED,      // permission denied
    PLAT_ERROR_READ_ONLY,   // a read-only file system
    PLAT_ERROR_IN_USE,      // held by another process (a lock)
    PLAT_ERROR_REFUSED,     // a connection refused: nothing listens there
    PLAT_ERROR_TIMED_OUT,   // no answer in time
    PLAT_ERROR_UNREACHABLE, // no route to the network or the host
    PLAT_ERROR_PORT_IN_USE, // another socket is bound to the address and port
    PLAT_ERROR_NOT_LOCAL,   // an address that is not one of this machine's
};

plat_error_kind plat_error_kind_of(long code);

// The system's description of an error code (strerror's text on POSIX).
const char *plat_error_text(long code);

// What lets the user open a USB receiver that is attached but cannot be
// opened, as the end of a hint line ("to open it, ...").
const char *plat_usb_access_advice(void);

// True when `path` exists and is a directory (through links).
bool plat_is_directory(const char *path);
// True when `path` exists and is not a directory (through links).
bool plat_is_file(const char *path);
