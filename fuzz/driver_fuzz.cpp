// SPDX-License-Identifier: MIT
// Fuzz target: the whole command-line driver, in process, on an arbitrary
// argument vector, against a receiver whose answers come from the input.
//
// Input: byte 0 configures the HID receivers (fake_hidapi.h), byte 1 the
// drive files (fake_platform.h), byte 2 the TCP link (fake_net.h), which
// connects to nothing real whatever -T says; then the arguments,
// each ended by a zero byte, the list ended by an empty one; the rest
// scripts the receiver's answers (fake_receiver.h).
//
// The driver is compiled into this target with its entry point renamed. The
// driver ends every run by returning from main; should a process exit ever
// come back into it, it is wrapped (the target links with --wrap=exit) and
// returns here instead of ending the process.
//
// What must hold for every input, besides no crash, no memory error and no
// undefined behaviour:
// - the run ends with one of the driver's statuses (0, 1, 255, 254);
// - the utility waited no longer than its bounds allow: one answer wait per
//   report or message it tried to send (1 s on HID and the drive, 3 s on the
//   link), and the link's connect bound;
// - a run that returns normally leaves no HID device open;
// - user memory is written only to the cells 0 to 99;
// - a backup run either leaves the old backup byte for byte, or replaces it
//   with a complete one: the six header lines and the cells 0 to 99 in order.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_hidapi.h"
#include "fake_net.h"
#include "fake_platform.h"
#include "fake_receiver.h"
#include "run_state.h"

#define main kestrel_main
#include "main.cpp"
#undef main

namespace {

jmp_buf run_exit;
bool in_run = false;
int exit_status = 0;

const char kOldBackup[] = "#  an older backup\r\n0 7000000 1 0 \r\n";

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "driver_fuzz: %s\n", what);
    abort();
}

// A backup is whole when it holds the six header lines and one data line
// for each of the cells 0 to 99, in order, every line ended by CR LF.
bool whole_backup(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (lines.size() != 106)
        return false;
    for (size_t i = 0; i < 6; i++)
        if (lines[i].empty() || lines[i][0] != '#')
            return false;
    for (int cell = 0; cell < 100; cell++) {
        const std::string &line = lines[6 + static_cast<size_t>(cell)];
        std::string prefix = std::to_string(cell) + " ";
        if (line.compare(0, prefix.size(), prefix) != 0)
            return false;
    }
    return true;
}

} // namespace

extern "C" [[noreturn]] void __real_exit(int status);

// Every exit of the process goes through here. During a run it ends the
// run instead, the way main's return would.
extern "C" [[noreturn]] void __wrap_exit(int status) {
    if (in_run) {
        exit_status = status;
        longjmp(run_exit, 1);
    }
    __real_exit(status);
}

// One run of the driver: the status that main returned, or the status that
// the run exited with (`ended_by_exit` set).
int run_driver(int argc, char **argv, bool *ended_by_exit) {
    in_run = true;
    if (setjmp(run_exit) != 0) {
        in_run = false;
        *ended_by_exit = true;
        return exit_status;
    }
    int status = kestrel_main(argc, argv);
    in_run = false;
    return status;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t hid_config = data[0], drive_config = data[1];
    size_t pos = 3;

    std::vector<std::string> args = {"kestrel"};
    while (pos < size && args.size() < 32) {
        const uint8_t *end = static_cast<const uint8_t *>(memchr(data + pos, 0, size - pos));
        size_t length = end == nullptr ? size - pos : static_cast<size_t>(end - (data + pos));
        if (length == 0) {
            pos++;
            break;
        }
        args.emplace_back(reinterpret_cast<const char *>(data + pos), length);
        pos += length + 1;
    }
    pos = pos < size ? pos : size;

    // The backup file names of -wrf and -wwf name a file in the scratch
    // directory: an old backup to be kept or replaced whole, or a file
    // holding the argument's text to be restored.
    const std::string backup = fuzz::scratch_dir() + "/backup.txt";
    bool backup_run = false;
    if (args.size() > 2 && args[1].size() > 3 && args[1][0] == '-' &&
        (args[1][1] == 'W' || args[1][1] == 'w') && args[1][3] == 'f') {
        if (args[1][2] == 'r') {
            write_file(backup, kOldBackup);
            backup_run = true;
        } else {
            write_file(backup, args[2]);
        }
        args[2] = backup;
    }

    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    fuzz::receiver_reset();
    fuzz::hid_configure(hid_config);
    fuzz::drive_configure(drive_config);
    fuzz::link_configure(data[2]);
    fuzz::reset_connection_state();
    fuzz::script_begin(data + pos, size - pos);

    bool ended_by_exit = false;
    int status = run_driver(static_cast<int>(argv.size() - 1), argv.data(), &ended_by_exit);
    fflush(stdout);

    if (status != 0 && status != 1 && status != 255 && status != 254)
        fail("the run ended with a status the driver does not have");
    if (!ended_by_exit && fuzz::hid_open_devices() != 0)
        fail("the run left a HID device open");
    const auto &requests = fuzz::receiver_requests();
    if (fuzz::slept_ms() > fuzz::allowed_wait_ms() + 10)
        fail("the run waited longer than its answer waits allow");
    for (const auto &r : requests)
        if (r.size() >= 3 && r[0] == 0x02 && r[1] == 0x63 && r[2] >= 200)
            fail("user memory was written outside the cells 0 to 99");
    if (backup_run) {
        std::string now = read_file(backup);
        if (now != kOldBackup && !whole_backup(now))
            fail("the old backup was replaced by an incomplete one");
    }
    return 0;
}
