// SPDX-License-Identifier: MIT
// Fuzz target: restoring user memory from a backup file with arbitrary
// contents (restore_user_memory_from_file), against a receiver that answers
// every report.
//
// Input: byte 0 chooses the receiver (fake_hidapi.h; its low two bits pick
// the identity and so the report size), the rest is the file.
//
// What must hold, besides no crash, no memory error and no undefined
// behaviour: every store goes to a word of the cells 0 to 99, the two words
// of a cell are stored together (word 2n, then 2n+1), and no more than 100
// cells are stored.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "commands.h"
#include "fake_hidapi.h"
#include "fake_platform.h"
#include "fake_receiver.h"
#include "fe_interface.h"
#include "run_state.h"

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "restore_fuzz: %s\n", what);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::receiver_reset();
    fuzz::reset_connection_state();
    fuzz::hid_configure(data[0] & 0x03); // one receiver that opens and answers
    fuzz::drive_configure(0);
    char msg[128] = {0};
    if (!HID_Device_Init_HID(msg))
        fail("the receiver did not open");

    // The file lives in memory; its /proc name opens it like any file.
    int fd = memfd_create("backup", MFD_CLOEXEC);
    if (fd < 0)
        fail("memfd_create");
    for (size_t done = 1; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            fail("cannot write the backup file");
        done += static_cast<size_t>(n);
    }
    std::string name = "/proc/self/fd/" + std::to_string(fd);
    restore_user_memory_from_file(name.c_str());
    close(fd);
    HID_Close();

    int cells = 0;
    int pending_word = -1; // the second word of the cell being stored
    for (const auto &r : fuzz::receiver_requests()) {
        if (r.size() < 3 || r[0] != 0x02 || r[1] != 0x63)
            fail("a report other than a user memory store was sent");
        int word = r[2];
        if (word >= 200)
            fail("a word outside the cells 0 to 99 was stored");
        if (pending_word < 0) {
            if (word % 2 != 0)
                fail("a cell's second word was stored without its first");
            pending_word = word + 1;
            cells++;
        } else {
            if (word != pending_word)
                fail("a cell's first word was not followed by its second");
            pending_word = -1;
        }
    }
    if (pending_word >= 0)
        fail("a cell was stored half");
    if (cells > 100)
        fail("more than 100 cells were stored");
    return 0;
}
