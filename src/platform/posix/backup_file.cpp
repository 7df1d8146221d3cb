// SPDX-License-Identifier: MIT
// POSIX implementation of the backup files.
#include "platform/backup_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signals that end a run and after which no temporary file may stay.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

// The temporary file that the signal handler removes, while `armed`.
volatile sig_atomic_t armed = 0;
char armed_path[PLAT_BACKUP_PATH_SIZE];
bool handlers_installed = false;

// Removes the temporary file, then lets the signal end the run as it would
// have. Only async-signal-safe calls.
void on_ending_signal(int sig) {
    if (armed)
        unlink(armed_path);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Installs the handler for each ending signal that the run does not ignore
// (a signal ignored by whoever started the run stays ignored).
void install_handlers() {
    if (handlers_installed)
        return;
    handlers_installed = true;
    for (int sig : ENDING_SIGNALS) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = on_ending_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
        sigaction(sig, &sa, nullptr);
    }
}

void arm(const char *path) {
    armed = 0;
    snprintf(armed_path, sizeof armed_path, "%s", path);
    install_handlers();
    armed = 1;
}

// Holds the ending signals back (`hold`) or lets them through again.
void hold_ending_signals(bool hold, sigset_t *saved) {
    if (!hold) {
        sigprocmask(SIG_SETMASK, saved, nullptr);
        return;
    }
    sigset_t set;
    sigemptyset(&set);
    for (int sig : ENDING_SIGNALS)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, saved);
}

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

// Follows the symbolic links of `path` in place, to the name of the file
// they lead to (which need not exist). Returns 0 or the error code.
long follow_links(char *path, size_t size) {
    for (int hops = 0; hops < 40; hops++) {
        struct stat lst;
        if (lstat(path, &lst) != 0 || !S_ISLNK(lst.st_mode))
            return 0;
        char link[PLAT_BACKUP_PATH_SIZE];
        ssize_t n = readlink(path, link, sizeof link - 1);
        if (n < 0)
            return error_or(EIO);
        link[n] = '\0';
        // A relative link is relative to the directory that holds it.
        char next[PLAT_BACKUP_PATH_SIZE];
        int length = snprintf(next, sizeof next, "%.*s%s",
                              link[0] == '/' ? 0 : directory_length(path), path, link);
        if (length < 0 || static_cast<size_t>(length) >= size)
            return ENAMETOOLONG;
        memcpy(path, next, static_cast<size_t>(length) + 1);
    }
    return ELOOP;
}

} // namespace

long plat_backup_inspect(const char *name, plat_backup_target *target) {
    *target = plat_backup_target{};
    if (strlen(name) >= sizeof target->path)
        return ENAMETOOLONG;
    snprintf(target->path, sizeof target->path, "%s", name);
    struct stat st;
    if (stat(name, &st) == 0) {
        target->exists = true;
        target->regular = S_ISREG(st.st_mode);
        target->permissions = static_cast<uint32_t>(st.st_mode & 0777);
        target->owner = static_cast<uint32_t>(st.st_uid);
        target->group = static_cast<uint32_t>(st.st_gid);
        // An old backup that cannot be written stays as it is, as it would
        // if it were opened for writing.
        int probe = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            return error_or(EACCES);
        close(probe);
        if (!target->regular)
            return 0; // written straight, through whatever links lead to it
    } else if (errno == ELOOP) {
        return ELOOP;
    }
    // Through symbolic links (dangling ones too) the backup is the file
    // they lead to.
    return follow_links(target->path, sizeof target->path);
}

long plat_backup_create_temp(const plat_backup_target *target, plat_backup_file *file) {
    *file = plat_backup_file{};
    int n = snprintf(file->temp, sizeof file->temp, "%.*s.kestrel-backup-XXXXXX",
                     directory_length(target->path), target->path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof file->temp) {
        file->temp[0] = '\0';
        return ENAMETOOLONG;
    }
    // No signal may end the run between the file's creation and the arming
    // of its removal.
    sigset_t saved;
    hold_ending_signals(true, &saved);
    int fd = mkostemp(file->temp, O_CLOEXEC);
    long err = error_or(EIO);
    if (fd >= 0)
        arm(file->temp);
    hold_ending_signals(false, &saved);
    if (fd < 0) {
        file->temp[0] = '\0';
        return err;
    }
    file->handle = fd;
    mode_t permissions;
    if (target->exists) {
        // The owner first: a change of owner clears permission bits.
        struct stat st;
        if (fstat(fd, &st) != 0 || ((st.st_uid != target->owner || st.st_gid != target->group) &&
                                    fchown(fd, static_cast<uid_t>(target->owner),
                                           static_cast<gid_t>(target->group)) != 0)) {
            err = error_or(EPERM);
            plat_backup_discard(file);
            return err;
        }
        permissions = static_cast<mode_t>(target->permissions & 0777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        permissions = 0666 & ~mask;
    }
    fchmod(fd, permissions);
    return 0;
}

long plat_backup_open_in_place(const plat_backup_target *target, plat_backup_file *file) {
    *file = plat_backup_file{};
    int fd = open(target->path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return error_or(EIO);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return EINVAL;
    }
    file->handle = fd;
    return 0;
}

long plat_backup_overwrite(plat_backup_file *file, const void *data, size_t size) {
    int fd = fd_of(file);
    sigset_t saved;
    hold_ending_signals(true, &saved);
    long err = 0;
    struct stat st;
    if (fstat(fd, &st) != 0)
        err = error_or(EIO);
    // Room for the new text before any byte changes: the blocks are taken
    // without changing the file's size (where the file system cannot do
    // that, the write goes ahead without), and a file-size limit is honoured
    // before it would cut the write short.
    struct rlimit limit;
    if (err == 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > limit.rlim_cur)
        err = EFBIG;
    if (err == 0 && static_cast<off_t>(size) > st.st_size &&
        fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        err = error_or(EIO);
    if (err == 0 && lseek(fd, 0, SEEK_SET) != 0)
        err = error_or(EIO);
    if (err == 0)
        err = plat_backup_write(file, data, size);
    if (err == 0 && ftruncate(fd, static_cast<off_t>(size)) != 0)
        err = error_or(EIO);
    if (err == 0)
        err = plat_backup_sync(file);
    hold_ending_signals(false, &saved);
    return err;
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
    armed = 0;
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
    armed = 0;
    file->temp[0] = '\0';
}

FILE *plat_backup_open_source(const char *name, plat_backup_source *source) {
    *source = plat_backup_source{};
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        source->error = error_or(EIO);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        source->error = error_or(EIO);
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        source->not_regular = true;
        close(fd);
        return nullptr;
    }
    source->size = static_cast<uint64_t>(st.st_size);
    int flags = fcntl(fd, F_GETFL);
    FILE *file = nullptr;
    if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = fdopen(fd, "r");
    if (file == nullptr) {
        source->error = error_or(EIO);
        close(fd);
    }
    return file;
}
