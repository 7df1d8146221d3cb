// SPDX-License-Identifier: MIT
// Finding the receiver's USB drive among the mounted filesystems.
//
// The receiver shows up as a small removable drive whose top directory holds
// the two command files. On Linux the desktop mounts it somewhere under
// /media or /run/media; the mount table of /proc tells where. Only mounts of
// local block devices are looked at, and only drives that nobody but their
// owner (the user running kestrel, or root) can put files on are used.
//
// The search must not hang the run: looking into a filesystem whose server
// (a network host, a FUSE process) stalls can block for as long as the
// stall lasts, in a call that no signal interrupts. The search therefore
// runs in a child process, and the run waits for its answer no longer than
// the search's limit; a child that is still stuck then is killed and left
// behind.
#include "platform/posix/drive.h"

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/system.h"

namespace {

// Longest mount table line looked at. Lines of real removable drives are far
// shorter; longer ones (overlay mounts list their layers) are passed over.
constexpr size_t LINE_SIZE = 8192;

// The next blank-separated field of a mount table line: its start and
// length. Returns false at the end of the line.
bool next_field(const char **cursor, const char **field, size_t *len) {
    const char *p = *cursor;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '\0' || *p == '\n')
        return false;
    const char *start = p;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n')
        p++;
    *field = start;
    *len = static_cast<size_t>(p - start);
    *cursor = p;
    return true;
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// Filesystem types that are looked into. Each is served by the kernel itself
// from a local block device, so looking at it waits at most for that device.
// Any other type is passed over even when its source names a device: a FUSE
// filesystem (fuseblk, fuse.*, as NTFS and exFAT sticks are often mounted)
// is served by a process that may never answer and may give itself any
// source name, and a network filesystem waits for its server. A list of what
// is safe rather than of what is not, since no list could know every FUSE or
// network type.
constexpr const char *LOCAL_TYPES[] = {
    "vfat",  "msdos", "exfat", "ntfs3",   "ntfs", "ext2", "ext3",    "ext4",
    "btrfs", "xfs",   "f2fs",  "iso9660", "udf",  "hfs",  "hfsplus",
};

bool is_local_type(const char *type, size_t len) {
    for (const char *t : LOCAL_TYPES)
        if (strlen(t) == len && strncmp(type, t, len) == 0)
            return true;
    return false;
}

// A regular file, not a link to one.
bool is_regular_file(const char *path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The top directory of a drive belongs to the user running kestrel or to
// root, and nobody else may write it. Group write counts as others: the
// group may hold other users (and an access list that lets anyone else
// write shows in the group bits too). A sticky world-writable directory
// counts as others too: anyone may still create the two files in it.
// Returns PLAT_DRIVE_USED for a trusted directory, otherwise why it is not.
plat_drive_verdict trust_of_directory(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode))
        return PLAT_DRIVE_OWNED_BY_OTHERS;
    if (st.st_uid != geteuid() && st.st_uid != 0)
        return PLAT_DRIVE_OWNED_BY_OTHERS;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 ? PLAT_DRIVE_USED
                                                   : PLAT_DRIVE_WRITABLE_BY_OTHERS;
}

// True when `dir` (ending in "/") holds the file `name`, and the joined name
// fits a buffer of `size` bytes.
bool holds_file(const char *dir, const char *name, size_t size) {
    char path[LINE_SIZE];
    if (size > sizeof path)
        size = sizeof path;
    int n = snprintf(path, size, "%s%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= size)
        return false;
    return is_regular_file(path);
}

} // namespace

bool plat_decode_mount_path(const char *escaped, size_t escaped_len, char *out, size_t out_size) {
    if (out_size == 0)
        return false;
    size_t n = 0;
    for (size_t i = 0; i < escaped_len; i++) {
        char c = escaped[i];
        if (c == '\\' && i + 3 < escaped_len && is_octal(escaped[i + 1]) &&
            is_octal(escaped[i + 2]) && is_octal(escaped[i + 3])) {
            int value =
                (escaped[i + 1] - '0') * 64 + (escaped[i + 2] - '0') * 8 + (escaped[i + 3] - '0');
            if (value != 0 && value <= 255) {
                c = static_cast<char>(value);
                i += 3;
            }
        }
        if (n + 1 >= out_size) {
            out[0] = '\0';
            return false;
        }
        out[n++] = c;
    }
    out[n] = '\0';
    return true;
}

bool plat_mountinfo_local_mount(const char *line, char *dir, size_t dir_size) {
    if (dir_size > 0)
        dir[0] = '\0';
    const char *cursor = line;
    const char *field = nullptr;
    size_t len = 0;
    const char *mount_point = nullptr;
    size_t mount_point_len = 0;
    // id, parent, major:minor, root, mount point, mount options
    for (int i = 1; i <= 6; i++) {
        if (!next_field(&cursor, &field, &len))
            return false;
        if (i == 5) {
            mount_point = field;
            mount_point_len = len;
        }
    }
    // Optional fields ("shared:1", "master:2", ...) up to the lone "-".
    for (;;) {
        if (!next_field(&cursor, &field, &len))
            return false;
        if (len == 1 && field[0] == '-')
            break;
    }
    if (!next_field(&cursor, &field, &len) || !is_local_type(field, len)) // filesystem type
        return false;
    if (!next_field(&cursor, &field, &len)) // source
        return false;
    if (len <= 5 || strncmp(field, "/dev/", 5) != 0)
        return false;
    return plat_decode_mount_path(mount_point, mount_point_len, dir, dir_size);
}

namespace {

// What one search found; sent whole from the searching child to the run.
using search_result = plat_drive_found;

// The search itself, checking the deadline between mounts.
void search_table(const char *mountinfo_path, size_t dir_size, uint64_t deadline,
                  search_result *r) {
    FILE *table = fopen(mountinfo_path, "re");
    if (table == nullptr)
        return;
    char line[LINE_SIZE];
    char mount_point[LINE_SIZE];
    bool skipping = false; // in the middle of a line too long to look at
    while ((!r->found || r->list_all) && fgets(line, sizeof line, table) != nullptr) {
        if (plat_monotonic_ms() >= deadline) {
            r->timed_out = true;
            break;
        }
        size_t len = strlen(line);
        bool ends = len > 0 && line[len - 1] == '\n';
        if (skipping) {
            skipping = !ends;
            continue;
        }
        if (!ends && !feof(table)) {
            skipping = true;
            continue;
        }
        if (!plat_mountinfo_local_mount(line, mount_point, sizeof mount_point - 1))
            continue;
        size_t mp_len = strlen(mount_point);
        if (mp_len == 0 || mount_point[mp_len - 1] != '/') {
            mount_point[mp_len] = '/';
            mount_point[mp_len + 1] = '\0';
        }
        if (!holds_file(mount_point, "command.in", dir_size) ||
            !holds_file(mount_point, "command.out", dir_size))
            continue;
        const plat_drive_verdict trust = trust_of_directory(mount_point);
        if (trust != PLAT_DRIVE_USED) {
            // Named in a message only: a name cut to the buffer is enough there.
            if (r->untrusted[0] == '\0' &&
                snprintf(r->untrusted, sizeof r->untrusted, "%s", mount_point) < 0)
                r->untrusted[0] = '\0';
            plat_drive_list_add(r, mount_point, trust);
            continue;
        }
        if (r->found) { // listing only: a drive before this one is taken
            plat_drive_list_add(r, mount_point, PLAT_DRIVE_NOT_FIRST);
            continue;
        }
        // A mount point too long for the result is passed over, never cut.
        int n = snprintf(r->dir, sizeof r->dir, "%s", mount_point);
        if (n < 0 || static_cast<size_t>(n) >= sizeof r->dir) {
            r->dir[0] = '\0';
            continue;
        }
        r->found = true;
        plat_drive_list_add(r, mount_point, PLAT_DRIVE_USED);
    }
    fclose(table);
}

// Runs the search in a child process and waits for its result until the
// deadline. Returns false when no child could be started, or when it ended
// without its answer (killed, or it crashed): the run then searches itself,
// rather than saying that a drive did not answer.
bool search_in_child(const char *mountinfo_path, size_t dir_size, uint64_t deadline,
                     search_result *r) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        search_table(mountinfo_path, dir_size, deadline, r);
        const char *p = reinterpret_cast<const char *>(r);
        size_t left = sizeof *r;
        while (left > 0) {
            ssize_t n = write(fds[1], p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0); // not exit(): the run's unwritten output must not be written twice
    }
    close(fds[1]);
    search_result got{};
    size_t have = 0;
    bool ended = false; // the child closed its end before the whole answer
    char *into = reinterpret_cast<char *>(&got);
    while (have < sizeof got) {
        uint64_t now = plat_monotonic_ms();
        if (now >= deadline)
            break;
        pollfd pfd{fds[0], POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        ssize_t n = read(fds[0], into + have, sizeof got - have);
        if (n < 0 && errno == EINTR)
            continue;
        ended = n == 0;
        if (n <= 0)
            break;
        have += static_cast<size_t>(n);
    }
    close(fds[0]);
    if (have == sizeof got) {
        *r = got;
        waitpid(pid, nullptr, 0); // it has written all and is ending
        return true;
    }
    // Stuck, or ended without its answer. A child stuck in the kernel ends
    // only when its call returns; it is not waited for.
    kill(pid, SIGKILL);
    for (int i = 0; i < 20 && waitpid(pid, nullptr, WNOHANG) == 0; i++)
        plat_sleep_ms(1);
    if (ended)
        return false;
    r->timed_out = true;
    return true;
}

} // namespace

void plat_drive_look_system(const void *where, size_t dir_size, uint64_t deadline_ms,
                            plat_drive_found *found) {
    const char *table = where != nullptr ? static_cast<const char *>(where) : PLAT_MOUNTINFO_PATH;
    if (!search_in_child(table, dir_size, deadline_ms, found))
        search_table(table, dir_size, deadline_ms, found); // the deadline between mounts only
}

bool plat_find_receiver_drive_in(const char *mountinfo_path, char *dir, size_t dir_size,
                                 plat_drive_search *search) {
    return plat_drive_search_run(plat_drive_look_system, mountinfo_path, dir, dir_size, search);
}
