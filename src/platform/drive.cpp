// Finding the receiver's USB drive among the mounted filesystems.
//
// The receiver shows up as a small removable drive whose top directory holds
// the two command files. On Linux the desktop mounts it somewhere under
// /media or /run/media; the mount table of /proc tells where. Only mounts of
// local block devices are looked at: looking into a network filesystem whose
// server has gone away can block for as long as the server stays away.
#include "platform/drive.h"

#include <cstdio>
#include <cstring>

#include <sys/stat.h>

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

bool is_regular_file(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
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
    if (!next_field(&cursor, &field, &len)) // filesystem type
        return false;
    if (!next_field(&cursor, &field, &len)) // source
        return false;
    if (len <= 5 || strncmp(field, "/dev/", 5) != 0)
        return false;
    return plat_decode_mount_path(mount_point, mount_point_len, dir, dir_size);
}

bool plat_find_receiver_drive(const char *mountinfo_path, char *dir, size_t dir_size) {
    if (dir_size == 0)
        return false;
    dir[0] = '\0';
    FILE *table = fopen(mountinfo_path, "re");
    if (table == nullptr)
        return false;
    char line[LINE_SIZE];
    char mount_point[LINE_SIZE];
    bool found = false;
    bool skipping = false; // in the middle of a line too long to look at
    while (!found && fgets(line, sizeof line, table) != nullptr) {
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
        snprintf(dir, dir_size, "%s", mount_point);
        found = true;
    }
    fclose(table);
    return found;
}
