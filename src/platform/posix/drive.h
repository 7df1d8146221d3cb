// SPDX-License-Identifier: MIT
// The Linux side of the receiver drive search (drive.h): reading the
// kernel's mount table, and a search through a table of the caller's
// choosing for the tests.
#pragma once

#include <cstddef>

#include "platform/drive.h"

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
// such a device, see posix/drive.cpp), puts its decoded mount point into `dir`.
// Returns false for other mounts and for lines that are not in that layout.
bool plat_mountinfo_local_mount(const char *line, char *dir, size_t dir_size);

// plat_find_receiver_drive(), through the mount table at `mountinfo_path`
// instead of the process's own.
bool plat_find_receiver_drive_in(const char *mountinfo_path, char *dir, size_t dir_size,
                                 plat_drive_search *search = nullptr);
