// SPDX-License-Identifier: MIT
#include "fake_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fake_receiver.h"
#include "fe_interface.h"
#include "platform/platform.h"

namespace fuzz {

namespace {

constexpr int ANSWER_FD = 1000;  // command.in
constexpr int REQUEST_FD = 1001; // command.out

uint8_t drive = 0;
uint64_t clock_ms = 0;
uint64_t run_start_ms = 0;
long last_error = 0;

bool ends_with(const char *s, const char *tail) {
    size_t n = strlen(s), t = strlen(tail);
    return n >= t && strcmp(s + n - t, tail) == 0;
}

} // namespace

void drive_configure(uint8_t config) {
    drive = config;
    run_start_ms = clock_ms;
}

uint64_t slept_ms() {
    return clock_ms - run_start_ms;
}

void wait_until(uint64_t deadline_ms) {
    if (deadline_ms > clock_ms)
        clock_ms = deadline_ms;
}

void set_last_error(long code) {
    last_error = code;
}

} // namespace fuzz

using namespace fuzz;

bool plat_file_open_exclusive(const char *path, plat_file *f, bool *refused) {
    if (refused != nullptr)
        *refused = false;
    f->fd = -1;
    f->direct = false;
    int fd = -1;
    if (ends_with(path, "command.in") && !(drive & 0x01))
        fd = ANSWER_FD;
    else if (ends_with(path, "command.out") && !(drive & 0x02))
        fd = REQUEST_FD;
    if (fd < 0) {
        last_error = ENOENT;
        return false;
    }
    f->fd = fd;
    f->direct = true;
    return true;
}

void plat_file_close(plat_file *f) {
    f->fd = -1;
    f->direct = false;
}

bool plat_file_valid(const plat_file *f) {
    return f->fd >= 0;
}

bool plat_file_gone(const plat_file *f) {
    return f->fd < 0;
}

bool plat_file_read_sector(plat_file *f, void *sector) {
    if (f->fd < 0 || (drive & 0x04)) {
        last_error = EIO;
        return false;
    }
    memset(sector, 0, PLAT_SECTOR_SIZE);
    if (f->fd != ANSWER_FD)
        return true;
    size_t n = 0;
    switch (receiver_answer(static_cast<uint8_t *>(sector), 7, &n)) {
    case Delivery::answer:
    case Delivery::nothing:
        return true;
    case Delivery::error:
        last_error = EIO;
        return false;
    }
    return true;
}

bool plat_file_write_sector(plat_file *f, const void *sector) {
    if (f->fd < 0) {
        last_error = EBADF;
        return false;
    }
    if (f->fd == REQUEST_FD) {
        // The answer file is polled every millisecond for a read time-out.
        note_send_attempt(HID_READ_TIMEOUT_MS + 1);
        if (drive & 0x10) {
            last_error = EIO;
            return false;
        }
        receiver_take(static_cast<const uint8_t *>(sector), 7);
        return true;
    }
    if (drive & 0x08) {
        last_error = EIO;
        return false;
    }
    return true;
}

void *plat_sector_alloc(void) {
    if (drive & 0x20)
        return nullptr;
    void *p = nullptr;
    if (posix_memalign(&p, PLAT_SECTOR_SIZE, PLAT_SECTOR_SIZE) != 0)
        return nullptr;
    return p;
}

void plat_sector_free(void *sector) {
    free(sector);
}

bool plat_ensure_std_descriptors(void) {
    return true; // the fuzzing process keeps its own
}

void plat_sleep_ms(unsigned ms) {
    clock_ms += ms;
}

uint64_t plat_monotonic_ms(void) {
    return clock_ms;
}

long plat_last_error(void) {
    return last_error;
}
