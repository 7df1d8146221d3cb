// SPDX-License-Identifier: MIT
// Finding the receiver's drive in a mount table, with fake tables that point
// at scratch directories.
#include "platform/posix/drive.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DecodeCase {
    const char *escaped;
    const char *decoded;
};

TEST(MountPathDecoding, OctalEscapesBecomeTheirCharacters) {
    const DecodeCase cases[] = {
        {"/media/user/RX", "/media/user/RX"},
        {"/media/user/MY\\040RECEIVER", "/media/user/MY RECEIVER"},
        {"/mnt/a\\011b\\012c", "/mnt/a\tb\nc"},
        {"/mnt/back\\134slash", "/mnt/back\\slash"},
        {"/mnt/\\040\\040", "/mnt/  "},
        {"/mnt/x\\04", "/mnt/x\\04"},                             // cut short: stays as it is
        {"/mnt/x\\049", "/mnt/x\\049"},                           // 9 is no octal digit
        {"/mnt/x\\000y", "/mnt/x\\000y"},                         // would end the path early
        {"/mnt/x\\777y", "/mnt/x\\777y"},                         // does not fit a byte
        {"/mnt/\\303\\251t\\303\\251", "/mnt/\xc3\xa9t\xc3\xa9"}, // UTF-8 bytes
        {"\\", "\\"},
        {"", ""},
    };
    for (const DecodeCase &c : cases) {
        char out[64];
        ASSERT_TRUE(plat_decode_mount_path(c.escaped, strlen(c.escaped), out, sizeof out))
            << c.escaped;
        EXPECT_STREQ(out, c.decoded) << c.escaped;
    }
}

TEST(MountPathDecoding, StopsAtTheGivenLengthAndTheBuffer) {
    char out[8];
    ASSERT_TRUE(plat_decode_mount_path("/ab\\040cd", 4, out, sizeof out)); // "/ab\" only
    EXPECT_STREQ(out, "/ab\\");
    ASSERT_TRUE(plat_decode_mount_path("/abcdef", 7, out, sizeof out)); // exactly fits
    EXPECT_STREQ(out, "/abcdef");
    EXPECT_FALSE(plat_decode_mount_path("/abcdefg", 8, out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(plat_decode_mount_path("/a", 2, out, 0));
}

struct LineCase {
    const char *line;
    bool local;
    const char *mount_point;
};

TEST(MountTableLines, OnlyLocalBlockDevicesCount) {
    const LineCase cases[] = {
        {"36 35 8:17 / /media/u/RX rw,nosuid - vfat /dev/sdb1 rw,uid=1000\n", true, "/media/u/RX"},
        {"36 35 8:17 / /media/u/MY\\040RX rw shared:7 master:3 - vfat /dev/sdb1 rw\n", true,
         "/media/u/MY RX"},
        {"36 35 8:17 / /run/media/u/RX rw - fuseblk /dev/sdc rw,user_id=0\n", false, ""},
        {"36 35 8:17 / /run/media/u/RX rw - fuse.exfat /dev/sdc1 rw\n", false, ""},
        {"36 35 8:17 / /mnt/n rw - nfs4 /dev/sdc1 rw\n", false, ""}, // source can be anything
        {"36 35 8:17 / /media/u/X rw - exfat /dev/sdc1 rw\n", true, "/media/u/X"},
        {"24 1 0:22 / /proc rw - proc proc rw\n", false, ""},
        {"50 1 0:45 / /srv/share rw - nfs4 server:/export rw\n", false, ""},
        {"51 1 0:46 / /srv/smb rw - cifs //server/share rw\n", false, ""},
        {"52 1 0:47 / /tmp rw - tmpfs tmpfs rw\n", false, ""},
        {"53 1 0:48 / /weird rw - vfat /dev/ rw\n", false, ""},         // no device name
        {"36 35 8:17 / /media/u/RX rw vfat /dev/sdb1 rw\n", false, ""}, // no "-"
        {"36 35 8:17 / /media/u/RX\n", false, ""},
        {"", false, ""},
        {"36 35 8:17 / / rw - ext4 /dev/sda1 rw", true, "/"}, // no line end
    };
    for (const LineCase &c : cases) {
        char dir[256] = "untouched";
        EXPECT_EQ(plat_mountinfo_local_mount(c.line, dir, sizeof dir), c.local) << c.line;
        EXPECT_STREQ(dir, c.mount_point) << c.line;
    }
}

// A scratch directory with mount points made in it and a fake mount table.
class ReceiverDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrel-drive-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        table = root + "/mountinfo";
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + root + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    // A mount point directory holding the named files.
    std::string mount_point(const std::string &name, bool in, bool out) {
        std::string dir = root + "/" + name;
        EXPECT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
        if (in)
            std::ofstream(dir + "/command.in") << std::string(512, '\0');
        if (out)
            std::ofstream(dir + "/command.out") << std::string(512, '\0');
        return dir;
    }
    void write_table(const std::string &text) { std::ofstream(table) << text; }
    static std::string line(const std::string &escaped_mount_point, const std::string &source) {
        return "40 30 8:17 / " + escaped_mount_point + " rw,nosuid,nodev shared:1 - vfat " +
               source + " rw,uid=1000\n";
    }
    std::string find() {
        char dir[256] = "untouched";
        bool found = plat_find_receiver_drive_in(table.c_str(), dir, sizeof dir, &search);
        EXPECT_EQ(found, dir[0] != '\0');
        return dir;
    }

    plat_drive_search search;

    std::string root;
    std::string table;
};

TEST_F(ReceiverDrive, TakesTheFirstMountHoldingBothCommandFiles) {
    std::string only_in = mount_point("only_in", true, false);
    std::string only_out = mount_point("only_out", false, true);
    std::string network = mount_point("network", true, true);
    std::string first = mount_point("first", true, true);
    std::string second = mount_point("second", true, true);
    write_table("1 0 0:1 / / rw - overlay overlay rw,lowerdir=/a:/b\n" +
                line(only_in, "/dev/sdb1") + line(only_out, "/dev/sdc1") +
                line(network, "server:/export") + line(first, "/dev/sdd1") +
                line(second, "/dev/sde1"));
    EXPECT_EQ(find(), first + "/");
}

TEST_F(ReceiverDrive, DecodesEscapedMountPoints) {
    std::string dir = mount_point("MY RECEIVER", true, true);
    write_table(line(root + "/MY\\040RECEIVER", "/dev/sdb1"));
    EXPECT_EQ(find(), dir + "/");
}

TEST_F(ReceiverDrive, DirectoriesNamedLikeTheFilesDoNotCount) {
    std::string dir = root + "/dirs";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/command.in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/command.out").c_str(), 0755), 0);
    write_table(line(dir, "/dev/sdb1"));
    EXPECT_EQ(find(), "");
}

TEST_F(ReceiverDrive, NothingFoundLeavesTheDefault) {
    write_table("");
    EXPECT_EQ(find(), "");
    table = root + "/no-such-table";
    EXPECT_EQ(find(), "");
}

TEST_F(ReceiverDrive, OverlongLinesArePassedOverWithoutLosingTheNext) {
    std::string dir = mount_point("after", true, true);
    std::string huge =
        "2 1 0:2 / /x rw - overlay overlay rw,lowerdir=" + std::string(20000, 'a') + "\n";
    write_table(huge + line(dir, "/dev/sdb1"));
    EXPECT_EQ(find(), dir + "/");
}

TEST_F(ReceiverDrive, ADriveWhoseFileNamesWouldNotFitIsPassedOver) {
    // The command file names are formed in 256-byte buffers: a mount point
    // whose "command.out" name does not fit cannot be used.
    std::string deep = root;
    while (deep.size() < 250) {
        deep += "/dddddddddddddddddddd";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    std::ofstream(deep + "/command.in") << "x";
    std::ofstream(deep + "/command.out") << "x";
    std::string fits = mount_point("fits", true, true);
    write_table(line(deep, "/dev/sdb1") + line(fits, "/dev/sdc1"));
    EXPECT_EQ(find(), fits + "/");
}

TEST_F(ReceiverDrive, OnlyDrivesThatNobodyElseCanWriteAreUsed) {
    struct {
        const char *name;
        mode_t mode;
        uid_t owner;
        bool used;
    } cases[] = {
        {"own", 0700, 0, true},    {"world", 0777, 0, false},         {"sticky", 01777, 0, false},
        {"group", 0775, 0, false}, {"other_user", 0755, 1234, false},
    };
    for (const auto &c : cases) {
        if (c.owner != 0 && geteuid() != 0)
            continue; // only root can give a directory away
        std::string dir = mount_point(c.name, true, true);
        ASSERT_EQ(chmod(dir.c_str(), c.mode), 0);
        ASSERT_EQ(chown(dir.c_str(), c.owner == 0 ? geteuid() : c.owner, -1), 0);
        write_table(line(dir, "/dev/sdb1"));
        EXPECT_EQ(find(), c.used ? dir + "/" : "") << c.name;
        EXPECT_STREQ(search.untrusted, c.used ? "" : (dir + "/").c_str()) << c.name;
    }
    // A trusted drive further down the table is still found.
    std::string shared = root + "/world", own = root + "/own";
    write_table(line(shared, "/dev/sdb1") + line(own, "/dev/sdc1"));
    EXPECT_EQ(find(), own + "/");
}

TEST_F(ReceiverDrive, CommandFilesThatAreLinksDoNotCount) {
    std::string dir = mount_point("links", true, false);
    ASSERT_EQ(symlink((dir + "/command.in").c_str(), (dir + "/command.out").c_str()), 0);
    write_table(line(dir, "/dev/sdb1"));
    EXPECT_EQ(find(), "");
}

TEST_F(ReceiverDrive, ASearchThatHangsIsCutAtItsLimit) {
    // Opening a FIFO for reading waits for a writer that never comes, as a
    // look into a stalled filesystem would.
    table = root + "/fifo";
    ASSERT_EQ(mkfifo(table.c_str(), 0600), 0);
    search.limit_ms = 200;
    uint64_t start = plat_monotonic_ms();
    EXPECT_EQ(find(), "");
    EXPECT_LT(plat_monotonic_ms() - start, 1500u);
    EXPECT_TRUE(search.timed_out);
}

} // namespace
