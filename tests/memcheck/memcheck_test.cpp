// SPDX-License-Identifier: MIT
// kestrel under valgrind's memcheck, on a sample of end-to-end runs that
// between them take every transport, the open failures, the information
// report, the user memory and backup file, the exits that end a run early,
// and a receiver that does not answer: no invalid read or write, no use of
// an undefined value, no leak (definite or possible). The HID stand-in is
// preloaded as in the end-to-end tests; valgrind keeps the preload.
#include "harness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace e2e;

namespace {

constexpr int kValgrindError = 99;

const char kValgrind[] = "/usr/bin/valgrind";

bool have_valgrind() {
    return access(kValgrind, X_OK) == 0;
}

// Runs kestrel with `args` under memcheck, with the environment `env`.
RunResult memcheck(const std::vector<std::string> &args,
                   const std::vector<std::pair<std::string, std::string>> &env = {}) {
    std::vector<std::string> argv = {"--quiet",
                                     "--error-exitcode=" + std::to_string(kValgrindError),
                                     "--leak-check=full",
                                     "--show-leak-kinds=definite,possible",
                                     "--errors-for-leak-kinds=definite,possible",
                                     "--track-origins=yes",
                                     kestrel_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    HidSim none;
    std::vector<std::pair<std::string, std::string>> all = env.empty() ? none.env() : env;
    return run_process(kValgrind, argv, {.env = all, .timeout_ms = 60000});
}

void expect_clean(const RunResult &r, int status, const std::string &out_start) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.find("=="), std::string::npos) << r.err; // valgrind's report lines
    EXPECT_EQ(r.out.rfind(banner() + out_start, 0), 0u) << r.out;
}

class Memcheck : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!have_valgrind())
            GTEST_SKIP() << "valgrind is not installed (scripts/deps installs it)";
    }
};

TEST_F(Memcheck, SettingsAndInformationOverHid) {
    HidSim sim;
    sim.add_device();
    RunResult r = memcheck({"-L", "-N0001", "-C1", "-F14100000", "-G14", "-I7", "-Gl7", "-E3",
                            "-Al1", "-A?", "-J?", "-Q2", "-V"},
                           sim.env());
    expect_clean(r, 0, "Trying to enumerate USB-HID devices ->Device Found");
}

TEST_F(Memcheck, DriveFilesAndAReceiverThatStopsAnswering) {
    MsdSim msd({.faults = {.silent_after = 2}});
    RunResult r = memcheck({"-P" + msd.drive(), "-F7000000", "-B1", "-J?"});
    expect_clean(r, 1, msd_open_text(msd.drive()));
    EXPECT_NE(r.out.find("USB IO timeout!"), std::string::npos);
}

TEST_F(Memcheck, TcpLink) {
    MsdSim sim({.tcp = true});
    RunResult r = memcheck({"-T127.0.0.1", "-P" + std::to_string(sim.tcp_port()), "-F7000000",
                            "-X1", "-SN96000", "-V"});
    expect_clean(r, 0, "SDR IP=127.0.0.1:");
}

TEST_F(Memcheck, BackupWrittenAndRestored) {
    ScratchDir dir;
    HidSim sim;
    sim.add_device();
    std::string file = dir.file("backup.txt");
    expect_clean(memcheck({"-wrf", file}, sim.env()), 0, hid_open_text());
    dir.write("restore.txt", dir.read("backup.txt") + "\r\n4 7000000\r\n#" + std::string(400, 'c') +
                                 "\r\n" + std::string(400, '7') + "\r\n");
    expect_clean(memcheck({"-wwf", dir.file("restore.txt")}, sim.env()), 0, hid_open_text());
    expect_clean(memcheck({"-ww10", "1900000 1 0"}, sim.env()), 0, hid_open_text());
}

TEST_F(Memcheck, RunsThatEndEarly) {
    HidSim sim;
    sim.add_device();
    expect_clean(memcheck({"-F7000000", "-R"}, sim.env()), 0, hid_open_text());
    expect_clean(memcheck({"-U2"}, sim.env()), 0, hid_open_text());
    expect_clean(memcheck({"-S48000"}, sim.env()), 0, hid_open_text());
}

TEST_F(Memcheck, NothingToOpenAndNothingToDo) {
    ScratchDir cwd;
    expect_clean(memcheck({"-P" + cwd.path() + "/", "-F7000000"}), 255,
                 no_receiver_text(cwd.path() + "/"));
    expect_clean(memcheck({}), 254, help_screen());
}

} // namespace
