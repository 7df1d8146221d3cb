// What a failure means in the user's terms, for the hints that follow a
// failed open: the kind of a system error code, and whether a path names a
// directory or a file.
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
};

plat_error_kind plat_error_kind_of(long code);

// True when `path` exists and is a directory (through links).
bool plat_is_directory(const char *path);
// True when `path` exists and is not a directory (through links).
bool plat_is_file(const char *path);
