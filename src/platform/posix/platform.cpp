// SPDX-License-Identifier: MIT
// POSIX implementation of the platform layer (platform.h, and the sector
// transfers of system.h).
#include "platform/system.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int open_sync(const char *path, bool direct) {
    // O_NONBLOCK: should the name have been swapped for a FIFO or a device
    // since it was looked at, the open itself must not wait; it is cleared
    // again once the file is known to be a regular one.
    int flags = O_RDWR | O_SYNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    if (direct)
        flags |= O_DIRECT;
    return open(path, flags); // no O_CREAT: the file must exist
}

// The error code that stands for a refused file of this kind.
int not_regular_error(mode_t mode) {
    if (S_ISLNK(mode))
        return ELOOP; // what an open that does not follow links says
    if (S_ISDIR(mode))
        return EISDIR;
    return EINVAL;
}

} // namespace

bool plat_file_open_exclusive(const char *path, plat_file *f, bool *refused) {
    f->fd = -1;
    f->direct = false;
    bool not_regular = false;
    if (refused == nullptr)
        refused = &not_regular;
    *refused = false;
    // Look before opening, so that a device or a FIFO is not even opened
    // (opening some devices does something by itself).
    struct stat st;
    if (lstat(path, &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = not_regular_error(st.st_mode);
        *refused = true;
        return false;
    }
    int fd = open_sync(path, true);
    bool direct = fd >= 0;
    if (fd < 0 && errno == EINVAL) // the filesystem refuses direct I/O (tmpfs, some FUSE)
        fd = open_sync(path, false);
    if (fd < 0) {
        *refused = errno == ELOOP; // it has become a link since
        return false;
    }
    // The name may have been replaced since it was looked at: what counts is
    // what was opened.
    int saved = 0;
    int flags = 0;
    if (fstat(fd, &st) != 0) {
        saved = errno;
    } else if (!S_ISREG(st.st_mode)) {
        saved = not_regular_error(st.st_mode);
        *refused = true;
    } else if ((flags = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
               flock(fd, LOCK_EX | LOCK_NB) != 0) {
        saved = errno;
    }
    if (saved != 0) {
        close(fd);
        errno = saved;
        return false;
    }
    f->fd = fd;
    f->direct = direct;
    return true;
}

void plat_file_close(plat_file *f) {
    if (f->fd >= 0)
        close(f->fd); // closing releases the lock too
    f->fd = -1;
    f->direct = false;
}

bool plat_file_valid(const plat_file *f) {
    return f->fd >= 0;
}

bool plat_file_gone(const plat_file *f) {
    struct stat st;
    return f->fd < 0 || fstat(f->fd, &st) != 0 || st.st_nlink == 0;
}

bool plat_sector_read(plat_file *f, void *sector) {
    if (!f->direct)
        posix_fadvise(f->fd, 0, PLAT_SECTOR_SIZE, POSIX_FADV_DONTNEED);
    ssize_t n;
    do {
        n = pread(f->fd, sector, PLAT_SECTOR_SIZE, 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(PLAT_SECTOR_SIZE);
}

bool plat_sector_write(plat_file *f, const void *sector) {
    ssize_t n;
    do {
        n = pwrite(f->fd, sector, PLAT_SECTOR_SIZE, 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(PLAT_SECTOR_SIZE);
}

void *plat_sector_alloc(void) {
    void *p = nullptr;
    if (posix_memalign(&p, PLAT_SECTOR_SIZE, PLAT_SECTOR_SIZE) != 0)
        return nullptr;
    return p;
}

void plat_sector_free(void *sector) {
    free(sector);
}

bool plat_ensure_std_descriptors(void) {
    // In order: a descriptor opened here takes the lowest free number, which
    // is the one that is closed once those below it are open.
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0)
            return false;
        if (opened != fd) { // cannot happen, but never leave it elsewhere
            close(opened);
            return false;
        }
    }
    return true;
}

void plat_sleep_ms(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint64_t plat_monotonic_ms(void) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

long plat_last_error(void) {
    return errno;
}
