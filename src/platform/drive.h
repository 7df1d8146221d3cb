// Finding the receiver's USB drive among the mounted filesystems, for a run
// whose command line gives no drive path: the receiver's drive is the one
// whose top directory holds both command files.
#pragma once

#include <cstddef>

// Where the kernel lists the mounts that this process sees.
constexpr const char PLAT_MOUNTINFO_PATH[] = "/proc/self/mountinfo";

// Decodes a path as the kernel writes it in a mount table: blank, tab,
// newline and backslash stand there as a backslash and three octal digits
// ("\040"). A backslash that does not begin such an escape stays as it is,
// and so does an escape that would give a zero byte or does not fit a byte.
// Writes at most `out_size` bytes, terminator included; returns false (with
// `out` empty) when the decoded path does not fit.
bool plat_decode_mount_path(const char *escaped, size_t escaped_len, char *out, size_t out_size);

// Reads one line of a mount table in the mountinfo layout ("id parent
// major:minor root mount-point options [optional...] - type source
// super-options") and, when the mount is a local block device (its source
// begins with "/dev/" and its type is one that the kernel serves itself from
// such a device, see drive.cpp), puts its decoded mount point into `dir`.
// Returns false for other mounts and for lines that are not in that layout.
bool plat_mountinfo_local_mount(const char *line, char *dir, size_t dir_size);

// How long the whole search may take, in milliseconds.
constexpr unsigned PLAT_DRIVE_SEARCH_LIMIT_MS = 2000;

// What a search saw besides the drive it found.
struct plat_drive_search {
    unsigned limit_ms = PLAT_DRIVE_SEARCH_LIMIT_MS; // how long the search may take
    bool timed_out = false; // stopped at the limit: a mount did not answer in time
    // The first mount that held both command files but was passed over
    // because its top directory is not trusted (see below); empty for none.
    char untrusted[256] = "";
};

// Looks through the mount table at `mountinfo_path` for the first local
// block-device mount whose top directory is trusted and holds both
// "command.in" and "command.out" as regular files (not links), and puts its
// mount point followed by "/" into `dir`. A top directory is trusted when it
// belongs to the user running the program or to root and nobody else may
// write it: a drive that someone else can put files on could otherwise make
// the run talk to a fake receiver.
// `dir_size` is also the size of the buffers that the command file names are
// formed in: a drive whose "command.out" name would not fit is passed over.
// The search never takes longer than its limit, even when looking at a mount
// never returns. Returns false, with `dir` empty, when there is no such
// drive, the table cannot be read or the limit was reached; `search` (when
// given) sets the limit and tells what was passed over.
bool plat_find_receiver_drive(const char *mountinfo_path, char *dir, size_t dir_size,
                              plat_drive_search *search = nullptr);
