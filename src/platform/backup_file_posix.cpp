// POSIX implementation of the backup files.
#include "platform/backup_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long error_or(long fallback) {
    return errno != 0 ? errno : fallback;
}

// Length of the directory part of `path`, its final "/" included; 0 for a
// name in the current directory.
int directory_length(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<int>(slash - path + 1);
}

int fd_of(const plat_backup_file *file) {
    return static_cast<int>(file->handle);
}

} // namespace

long plat_backup_inspect(const char *name, plat_backup_target *target) {
    *target = plat_backup_target{};
    if (strlen(name) >= sizeof target->path)
        return ENAMETOOLONG;
    snprintf(target->path, sizeof target->path, "%s", name);
    struct stat st;
    if (stat(name, &st) != 0)
        return 0; // nothing there yet
    target->exists = true;
    target->regular = S_ISREG(st.st_mode);
    target->permissions = static_cast<uint32_t>(st.st_mode & 07777);
    target->owner = static_cast<uint32_t>(st.st_uid);
    target->group = static_cast<uint32_t>(st.st_gid);
    // An old backup that cannot be written stays as it is, as it would if
    // it were opened for writing.
    int probe = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0)
        return error_or(EACCES);
    close(probe);
    // Through a symbolic link the backup is the file it points to.
    struct stat lst;
    char resolved[PATH_MAX];
    if (target->regular && lstat(name, &lst) == 0 && S_ISLNK(lst.st_mode) &&
        realpath(name, resolved) != nullptr && strlen(resolved) < sizeof target->path)
        snprintf(target->path, sizeof target->path, "%s", resolved);
    return 0;
}

long plat_backup_create_temp(const plat_backup_target *target, plat_backup_file *file) {
    *file = plat_backup_file{};
    int n = snprintf(file->temp, sizeof file->temp, "%.*s.kestrel-backup-XXXXXX",
                     directory_length(target->path), target->path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof file->temp) {
        file->temp[0] = '\0';
        return ENAMETOOLONG;
    }
    int fd = mkostemp(file->temp, O_CLOEXEC);
    if (fd < 0) {
        long err = error_or(EIO);
        file->temp[0] = '\0';
        return err;
    }
    file->handle = fd;
    mode_t permissions;
    if (target->exists) {
        permissions = static_cast<mode_t>(target->permissions);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        permissions = 0666 & ~mask;
    }
    fchmod(fd, permissions);
    return 0;
}

long plat_backup_open_direct(const char *name, plat_backup_file *file) {
    *file = plat_backup_file{};
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return error_or(EIO);
    file->handle = fd;
    return 0;
}

long plat_backup_write(plat_backup_file *file, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd_of(file), p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return n == 0 ? EIO : error_or(EIO);
        }
    }
    return 0;
}

long plat_backup_sync(plat_backup_file *file) {
    return fsync(fd_of(file)) == 0 ? 0 : error_or(EIO);
}

long plat_backup_close(plat_backup_file *file) {
    int fd = fd_of(file);
    file->handle = -1;
    if (fd < 0)
        return 0;
    return close(fd) == 0 ? 0 : error_or(EIO);
}

long plat_backup_replace(plat_backup_file *file, const char *target_path) {
    if (rename(file->temp, target_path) != 0)
        return error_or(EIO);
    file->temp[0] = '\0';
    // Make the rename itself durable.
    char dir[PLAT_BACKUP_PATH_SIZE];
    int length = directory_length(target_path);
    snprintf(dir, sizeof dir, "%.*s", length == 0 ? 1 : length, length == 0 ? "." : target_path);
    int dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        fsync(dir_fd);
        close(dir_fd);
    }
    return 0;
}

void plat_backup_discard(plat_backup_file *file) {
    plat_backup_close(file);
    if (file->temp[0] != '\0')
        unlink(file->temp);
    file->temp[0] = '\0';
}

FILE *plat_backup_open_source(const char *name, long *error) {
    FILE *file = fopen(name, "re");
    *error = file == nullptr ? error_or(EIO) : 0;
    return file;
}

const char *plat_error_text(long code) {
    return strerror(static_cast<int>(code));
}
