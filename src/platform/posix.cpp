// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int open_sync(const char *path, bool direct) {
    int flags = O_RDWR | O_SYNC | O_CLOEXEC;
    if (direct)
        flags |= O_DIRECT;
    return open(path, flags); // no O_CREAT: the file must exist
}

} // namespace

bool plat_file_open_exclusive(const char *path, plat_file *f) {
    f->fd = -1;
    f->direct = false;
    int fd = open_sync(path, true);
    bool direct = fd >= 0;
    if (fd < 0 && errno == EINVAL) // the filesystem refuses direct I/O (tmpfs, some FUSE)
        fd = open_sync(path, false);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
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

bool plat_file_read_sector(plat_file *f, void *sector) {
    if (f->fd < 0)
        return false;
    if (!plat_sector_transfer_allowed(sector, PLAT_SECTOR_SIZE)) {
        errno = EINVAL;
        return false;
    }
    if (!f->direct)
        posix_fadvise(f->fd, 0, PLAT_SECTOR_SIZE, POSIX_FADV_DONTNEED);
    ssize_t n;
    do {
        n = pread(f->fd, sector, PLAT_SECTOR_SIZE, 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(PLAT_SECTOR_SIZE);
}

bool plat_file_write_sector(plat_file *f, const void *sector) {
    if (f->fd < 0)
        return false;
    if (!plat_sector_transfer_allowed(sector, PLAT_SECTOR_SIZE)) {
        errno = EINVAL;
        return false;
    }
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

int plat_socket_startup(void) {
    return 0;
}

void plat_socket_cleanup(void) {}
