// SPDX-License-Identifier: MIT
// Without -P, kestrel finds the receiver's drive among the mounts. Each run
// gets a private mount namespace whose /proc holds a made-up mount table, so
// the drive can be "mounted" anywhere without a real block device. Needs the
// right to make mount namespaces (root); skipped without it.
#include "harness.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace e2e;

namespace {

bool can_make_mount_namespaces() {
    RunResult r = run_process("/usr/bin/unshare", {"-m", "--propagation", "private", "/bin/sh",
                                                   "-c", "mount -t tmpfs none /proc"});
    return r.status == 0;
}

// Runs kestrel with `args` while /proc/self/mountinfo reads `mountinfo`.
RunResult run_with_mount_table(const ScratchDir &dir, const std::string &mountinfo,
                               const std::vector<std::string> &args,
                               const HidSim &nothing = HidSim()) { // no USB receiver attached
    dir.write("mountinfo", mountinfo);
    // The rest of /proc/self and /proc/<pid> stays the real one (a sanitizer
    // runtime reads them): the real proc is mounted aside and linked.
    // exec keeps the shell's process id, so the links are kestrel's own.
    std::string script = "mount -t proc proc \"$2\" && mount -t tmpfs none /proc && "
                         "mkdir /proc/self && for f in \"$2\"/$$/*; do ln -s \"$f\" /proc/self/; "
                         "done && ln -s \"$2/$$\" /proc/$$ && rm /proc/self/mountinfo && "
                         "cp \"$1\" /proc/self/mountinfo && shift 2 && exec env \"$@\"";
    std::vector<std::string> argv = {"-m",
                                     "--propagation",
                                     "private",
                                     "/bin/sh",
                                     "-c",
                                     script,
                                     "sh",
                                     dir.file("mountinfo"),
                                     dir.subdir("realproc")};
    for (const auto &[name, value] : nothing.env())
        argv.push_back(name + "=" + value);
    argv.push_back(kestrel_binary());
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process("/usr/bin/unshare", argv);
}

std::string mount_line(const std::string &escaped_mount_point, const std::string &source) {
    return "97 29 8:33 / " + escaped_mount_point + " rw,nosuid,nodev,relatime shared:52 - vfat " +
           source + " rw,uid=1000,gid=1000,fmask=0022,dmask=0022\n";
}

TEST(DriveFinder, UsesTheMountedDriveWhenNoPathIsGiven) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim msd;
    ScratchDir dir;
    // The drive as the desktop would mount it, under a name with a blank.
    std::string mount_point = dir.file("TALMIR RX");
    ASSERT_EQ(symlink(msd.drive().c_str(), mount_point.c_str()), 0);
    std::string escaped = dir.file("TALMIR\\040RX");
    std::string table = "22 1 0:21 / /proc rw - proc proc rw\n" +
                        mount_line(dir.file("elsewhere"), "/dev/sdb1") +
                        mount_line(escaped, "/dev/sdc1");

    RunResult r = run_with_mount_table(dir, table, {"-F7000000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string open = msd_open_text(mount_point + "/");
    open.replace(open.find("The TALMIR path is: "), 20,
                 "The TALMIR path was not defined, use default: ");
    EXPECT_EQ(r.out.rfind(banner() + open + "RX Frequency 7000000 (Hz) for the channel 0\r\n", 0),
              0u)
        << r.out;
    EXPECT_EQ(msd.requests(), std::vector<std::string>{"03 C0 CF 6A 00 00 00"});
}

TEST(DriveFinder, FallsBackToTheDefaultWithoutADrive) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim msd;
    ScratchDir dir;
    // The receiver's files are there, but not on a local drive.
    std::string table = mount_line(msd.drive(), "server:/export");
    table.replace(table.find(" - vfat "), 8, " - nfs4 ");

    RunResult r = run_with_mount_table(dir, table, {"-F7000000"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text());
    EXPECT_TRUE(msd.requests().empty());
}

TEST(DriveFinder, AGivenPathWins) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim mounted;
    MsdSim given;
    ScratchDir dir;
    std::string table = mount_line(mounted.drive(), "/dev/sdb1");

    RunResult r = run_with_mount_table(dir, table, {"-P" + given.drive(), "-F7000000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(banner() + msd_open_text(given.drive()), 0), 0u) << r.out;
    EXPECT_TRUE(mounted.requests().empty());
    EXPECT_EQ(given.requests(), std::vector<std::string>{"03 C0 CF 6A 00 00 00"});
}

TEST(DriveFinder, ADriveOthersCanWriteIsNotUsed) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim msd;
    ScratchDir dir;
    ASSERT_EQ(chmod(msd.drive().c_str(), 01777), 0);
    RunResult r = run_with_mount_table(dir, mount_line(msd.drive(), "/dev/sdb1"), {"-F7000000"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text());
    EXPECT_EQ(r.err.rfind("The drive at " + msd.drive() +
                              " holds the command files but is not used: its top directory must "
                              "belong to you or to root and be writable by nobody else (give it "
                              "with -P to use it anyway)\n",
                          0),
              0u)
        << r.err;
    EXPECT_TRUE(msd.requests().empty());
}

// --list: the four identities, then each drive holding the files and what
// the search makes of it; nothing is opened or sent.
TEST(DriveFinder, ListShowsEveryReceiverAndDriveWithoutOpening) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim used, later, shared;
    ScratchDir dir;
    ASSERT_EQ(chmod(shared.drive().c_str(), 0777), 0);
    HidSim sim;
    for (uint16_t pid : {uint16_t{0x0002}, uint16_t{0x0006}, uint16_t{0x0001}})
        sim.add_device({.pid = pid, .serial = "S\x1b" + std::to_string(pid)});
    sim.add_device({.vid = 0x0483, .pid = 0x5932, .serial = std::nullopt});
    const std::string table = mount_line(shared.drive(), "/dev/sdb1") +
                              mount_line(used.drive(), "/dev/sdc1") +
                              mount_line(later.drive(), "/dev/sdd1");
    auto receiver = [](const std::string &id, const std::string &serial, int n) {
        return "Receiver " + id + "\n  serial_number: " + serial +
               "\n  product: TALMIR SDR\n  path: sim-hid-" + std::to_string(n) + "\n";
    };
    RunResult r = run_with_mount_table(dir, table, {"--list", "-F7000000"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, receiver("0483:5932", "", 4) + receiver("255d:0002", "S\\x1b2", 1) +
                         receiver("255d:0001", "S\\x1b1", 3) + receiver("255d:0006", "S\\x1b6", 2) +
                         "Drive " + shared.drive() +
                         ": not used: others may write its top directory (give it with -P to "
                         "use it)\nDrive " +
                         used.drive() + ": used when no -P is given\nDrive " + later.drive() +
                         ": not used: a drive listed before it is used\n");
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_TRUE(used.requests().empty());

    r = run_with_mount_table(dir, "", {"--list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "No receiver is attached and no mounted drive holds command.in and "
                     "command.out\n");
}

} // namespace
