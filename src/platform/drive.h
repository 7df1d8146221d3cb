// SPDX-License-Identifier: MIT
// Finding the receiver's USB drive among the mounted filesystems, for a run
// whose command line gives no drive path: the receiver's drive is the one
// whose top directory holds both command files.
#pragma once

#include <cstddef>

// How long the whole search may take, in milliseconds.
constexpr unsigned PLAT_DRIVE_SEARCH_LIMIT_MS = 2000;

// What the search makes of a drive that holds both command files.
enum plat_drive_verdict : unsigned char {
    PLAT_DRIVE_USED,               // the drive the search takes
    PLAT_DRIVE_NOT_FIRST,          // it could be used, but one before it is taken
    PLAT_DRIVE_OWNED_BY_OTHERS,    // its top directory belongs to another user
    PLAT_DRIVE_WRITABLE_BY_OTHERS, // its group or others may write its top directory
};

// Every drive a search looked at that holds both command files, in the
// order looked at, and what it made of each.
constexpr size_t PLAT_DRIVE_LISTING_SIZE = 8;
struct plat_drive_listed {
    char dir[512]; // named for the user only: a longer name is cut
    plat_drive_verdict verdict;
};
struct plat_drive_listing {
    size_t count = 0;  // the drives filled in
    bool more = false; // more drives held the files than there is room for
    plat_drive_listed drives[PLAT_DRIVE_LISTING_SIZE] = {};
};

// What a search saw besides the drive it found.
struct plat_drive_search {
    unsigned limit_ms = PLAT_DRIVE_SEARCH_LIMIT_MS; // how long the search may take
    bool timed_out = false; // stopped at the limit: a mount did not answer in time
    // The first mount that held both command files but was passed over
    // because its top directory is not trusted (see below); empty for none.
    char untrusted[256] = "";
    // When given, the search looks through every drive to the end (within
    // its limit), and lists there each one that holds the command files.
    plat_drive_listing *listing = nullptr;
};

// Looks through the system's drives for the first one whose top directory
// is trusted and holds both "command.in" and "command.out" as regular files
// (not links), and puts that directory, ending in its separator, into
// `dir`. On Linux the drives are the local block-device mounts of the
// process's mount table; a top directory is trusted when it belongs to the
// user running the program or to root and nobody else may write it: a drive
// that someone else can put files on could otherwise make the run talk to a
// fake receiver. On Windows they are the removable drives, and all of them
// are trusted (their file systems have no owners).
// `dir_size` is also the size of the buffers that the command file names are
// formed in: a drive whose "command.out" name would not fit is passed over.
// The search never takes longer than its limit, even when looking at a mount
// never returns. Returns false, with `dir` empty, when there is no such
// drive, the drives cannot be listed or the limit was reached; `search` (when
// given) sets the limit and tells what was passed over.
bool plat_find_receiver_drive(char *dir, size_t dir_size, plat_drive_search *search = nullptr);
