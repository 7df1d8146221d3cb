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
// begins with "/dev/"), puts its decoded mount point into `dir`. Returns
// false for other mounts and for lines that are not in that layout.
bool plat_mountinfo_local_mount(const char *line, char *dir, size_t dir_size);

// Looks through the mount table at `mountinfo_path` for the first local
// block-device mount whose top directory holds both "command.in" and
// "command.out", and puts its mount point followed by "/" into `dir`.
// `dir_size` is also the size of the buffers that the command file names are
// formed in: a drive whose "command.out" name would not fit is passed over.
// Returns false, with `dir` empty, when there is no such drive or the table
// cannot be read.
bool plat_find_receiver_drive(const char *mountinfo_path, char *dir, size_t dir_size);
