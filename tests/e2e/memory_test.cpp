// SPDX-License-Identifier: MIT
// The -W mode end to end: reading and storing single cells, the backup file
// written and restored over USB HID and the drive files, and a good backup
// that survives a receiver falling silent and a failed write.
#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {
namespace {

const char kHeader[] = "#  QUARRO SDR backup file\r\n"
                       "#  modulation codes are next:\r\n"
                       "#  AM=0, LSB=1, USB=2, CWL=3, CWU=4, NFM=5, WFM=6, \r\n"
                       "#  BPSK=9, QPSK=10, RTTY=11, SAM=12, SAMU=13, SAML=14 \r\n"
                       "#  numbers in lines below are organized in the next order:\r\n"
                       "#<cell> <frequency> <modulation> <travsverter>:\r\n";

struct Cell {
    uint32_t freq;
    uint32_t mode;
    uint32_t trvtr;
};

// Distinct contents for all 100 cells, the extremes included: all bits set
// is a value a cell may hold, and frequencies from 2^31 on are written as
// negative numbers.
Cell cell_content(int n) {
    switch (n) {
    case 0:
        return {0, 0, 0};
    case 1:
        return {0xFFFFFFFFu, 0xFFFF, 0xFFFF};
    case 2:
        return {0x80000000u, 14, 1};
    default:
        return {static_cast<uint32_t>(1000000 + 12345 * n), static_cast<uint32_t>(n % 15),
                static_cast<uint32_t>(n % 4)};
    }
}

std::map<std::string, std::string> memory_state() {
    std::map<std::string, std::string> state;
    for (int n = 0; n < 100; n++) {
        Cell c = cell_content(n);
        state["mem." + std::to_string(2 * n)] = std::to_string(c.freq);
        state["mem." + std::to_string(2 * n + 1)] = std::to_string(c.trvtr << 16 | c.mode);
    }
    return state;
}

std::string expected_backup() {
    std::string text = kHeader;
    for (int n = 0; n < 100; n++) {
        Cell c = cell_content(n);
        text += std::to_string(n) + " " + std::to_string(static_cast<int32_t>(c.freq)) + " " +
                std::to_string(c.mode) + " " + std::to_string(c.trvtr) + " \r\n";
    }
    return text;
}

// "UM" lines as a backup run prints them, one per cell.
std::string expected_cell_lines() {
    std::string text;
    for (int n = 0; n < 100; n++) {
        Cell c = cell_content(n);
        text += "UM " + std::to_string(n) + " " + std::to_string(c.freq) + " " +
                std::to_string(c.mode) + " " + std::to_string(c.trvtr) + "\n\r";
    }
    return text;
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    return names;
}

std::string hex_bytes(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string store_report(int word, uint32_t value) {
    return hex_bytes({0x02, 0x63, static_cast<uint8_t>(word), static_cast<uint8_t>(value),
                      static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                      static_cast<uint8_t>(value >> 24)});
}

std::string query_report(int word) {
    return hex_bytes({0x02, 0x64, static_cast<uint8_t>(word), 0, 0, 0, 0});
}

// ---------------------------------------------------------------------------
// Single cells
// ---------------------------------------------------------------------------

TEST(UserMemoryCommand, ReadsOneCell) {
    HidSim sim;
    sim.add_device({.state = {{"mem.6", "14100000"}, {"mem.7", std::to_string(1 << 16 | 2)}}});
    for (const char *option : {"-wr3", "-Wr3"}) {
        sim.clear_requests();
        RunResult r = run_kestrel({option, "-F7000000"}, sim);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "kestrel: -F7000000 was not executed: a -W command runs alone; give "
                         "-F7000000 in a kestrel command of its own\n");
        EXPECT_EQ(r.out, banner() + hid_open_text() +
                             "UM 3 14100000 2 1\n\rFrequency: 14100000 , Mode: 2 , TRVTR: 1\r\n")
            << option;
        EXPECT_EQ(sim.requests(), (std::vector<std::string>{query_report(6), query_report(7)}));
    }
}

struct StoreCase {
    std::vector<std::string> args;
    std::string printed;                         // after the open
    std::string err;                             // part of standard error, "" for none
    std::vector<std::pair<int, uint32_t>> words; // words stored, in order
    bool warned_only = false;                    // err is a warning: the run does not fail
};

TEST(UserMemoryCommand, StoresOneCellOrRefusesWhatWouldLandElsewhere) {
    const char *saved = "UM: cell= 10, freq=1900000 , mode=1, tvtr=0\n\r";
    const StoreCase cases[] = {
        {{"-ww10", "1900000 1 0"},
         std::string("addr: 10, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n") + saved,
         "",
         {{20, 1900000}, {21, 1}}},
        {{"-ww10", "1900000", "1", "0"},
         "",
         "kestrel: -ww10 1900000 1 0: only \"1900000\" was read, so nothing was stored; quote the "
         "three numbers: kestrel -ww10 \"1900000 1 0\"\n",
         {}},
        {{"-ww10", "1900000 1 0 5"}, "", "the values are not three numbers", {}},
        {{"-ww99", "7000000 2 3"},
         "addr: 99, Frequency: 7000000 , Mode: 2 , TRVTR: 3\r\n"
         "UM: cell= 99, freq=7000000 , mode=2, tvtr=3\n\r",
         "",
         {{198, 7000000}, {199, 3 << 16 | 2}}},
        {{"-ww10"},
         "addr: 10, Frequency: 0 , Mode: 0 , TRVTR: 0\r\nUM: cell= 10, freq=0 , mode=0, tvtr=0\n\r",
         "kestrel: -ww10 has no values, so cell 10 is cleared to zeros (frequency 0, mode 0, "
         "transverter 0); to store values, quote them: kestrel -ww10 \"1900000 1 0\"\n",
         {{20, 0}, {21, 0}},
         true},
        {{"-ww10", "-5 1 0"},
         "addr: 10, Frequency: -5 , Mode: 1 , TRVTR: 0\r\n",
         "cell 10 not stored",
         {}},
        // Word numbers travel in one byte: 128 would land on cell 0.
        {{"-ww128", "1900000 1 0"},
         "addr: 128, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n",
         "cell 128 not stored",
         {}},
        {{"-ww100", "1900000 1 0"},
         "addr: 100, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n",
         "cell 100 not stored",
         {}},
        {{"-ww-1", "1900000 1 0"},
         "addr: -1, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n",
         "cell -1 not stored",
         {}},
        // 4294967306 is 10 in its low 32 bits.
        {{"-ww4294967306", "1900000 1 0"},
         "addr: 2147483647, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n",
         "not stored",
         {}},
        {{"-ww10", "4296867296 1 0"},
         "addr: 10, Frequency: 2147483647 , Mode: 1 , TRVTR: 0\r\n",
         "cell 10 not stored",
         {}},
        // A mode beyond 16 bits would spill into the transverter index.
        {{"-ww10", "1900000 65537 0"},
         "addr: 10, Frequency: 1900000 , Mode: 65537 , TRVTR: 0\r\n",
         "mode 65537",
         {}},
        {{"-ww10", "1900000 -1 0"},
         "addr: 10, Frequency: 1900000 , Mode: -1 , TRVTR: 0\r\n",
         "mode -1",
         {}},
        {{"-WR10"}, "", "kestrel: -WR10 did nothing", {}},
        {{"-wr128"}, "", "cell 128 not read", {}},
        {{"-wr100"}, "", "cell 100 not read", {}},
    };
    HidSim sim;
    sim.add_device();
    for (const StoreCase &c : cases) {
        sim.clear_requests();
        RunResult r = run_kestrel(c.args, sim);
        std::string name = c.args[0];
        EXPECT_EQ(r.status, c.err.empty() || c.warned_only ? 0 : 1) << name;
        EXPECT_EQ(r.out, banner() + hid_open_text() + c.printed) << name;
        if (c.err.empty())
            EXPECT_EQ(r.err, "") << name;
        else
            EXPECT_NE(r.err.find(c.err), std::string::npos) << name << ": " << r.err;
        std::vector<std::string> expected;
        for (auto [word, value] : c.words)
            expected.push_back(store_report(word, value));
        EXPECT_EQ(sim.requests(), expected) << name;
    }
}

// A 5-byte report carries only the low 16 bits of a word: a cell whose words
// do not fit is refused instead of stored as other values.
TEST(UserMemoryCommand, FiveByteReceiverStoresOnlyCellsWhoseWordsFit) {
    HidSim sim;
    sim.add_device({.vid = 0x0483, .pid = 0x5932});
    RunResult r = run_kestrel({"-ww10", "1900000 1 0"}, sim);
    EXPECT_EQ(r.out,
              banner() + hid_open_text() + "addr: 10, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n");
    EXPECT_NE(r.err.find("cell 10 not stored: the frequency does not fit"), std::string::npos)
        << r.err;
    EXPECT_TRUE(sim.requests().empty());

    r = run_kestrel({"-ww11", "50000 2 1"}, sim);
    EXPECT_NE(r.err.find("cell 11 not stored: the mode with the transverter index"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(sim.requests().empty());

    r = run_kestrel({"-ww12", "50000 2 0"}, sim);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sim.requests(), (std::vector<std::string>{"02 63 18 50 C3", "02 63 19 02 00"}));
    EXPECT_EQ(sim.state("mem.24"), "50000");
    EXPECT_EQ(sim.state("mem.25"), "2");
}

// ---------------------------------------------------------------------------
// Backup file
// ---------------------------------------------------------------------------

TEST(BackupFile, WrittenAndRestoredOverHidRoundTripsEveryCell) {
    ScratchDir dir;
    HidSim sim;
    sim.add_device({.state = memory_state()});
    std::string file = dir.file("backup.txt");
    RunResult r = run_kestrel({"-wrf", file}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + hid_open_text() + expected_cell_lines() +
                         "write to backup file: " + file + "\r\n");
    EXPECT_EQ(dir.read("backup.txt"), expected_backup());
    // The firmware version read before the first cell and after the last
    // tells answers that are out of step.
    const std::string check = hex_bytes({0x02, 0x09, 0, 0, 0, 0, 0});
    std::vector<std::string> queries = {check};
    for (int w = 0; w < 200; w++)
        queries.push_back(query_report(w));
    queries.push_back(check);
    EXPECT_EQ(sim.requests(), queries);

    for (int w = 0; w < 256; w++)
        sim.set_state("mem." + std::to_string(w), "0");
    sim.clear_requests();
    r = run_kestrel({"-wwf", file}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string restored;
    std::vector<std::string> stores;
    for (int n = 0; n < 100; n++) {
        Cell c = cell_content(n);
        std::string f = std::to_string(static_cast<int32_t>(c.freq));
        std::string m = std::to_string(c.mode), t = std::to_string(c.trvtr);
        restored += std::to_string(n) + " " + f + " " + m + " " + t + " \n\r";
        restored += "UM: cell= " + std::to_string(n) + ", freq=" + f + " , mode=" + m +
                    ", tvtr=" + t + "\n\r";
        stores.push_back(store_report(2 * n, c.freq));
        stores.push_back(store_report(2 * n + 1, c.trvtr << 16 | c.mode));
    }
    EXPECT_EQ(r.out,
              banner() + hid_open_text() + restored + "restore from backup file: " + file + "\r\n");
    EXPECT_EQ(sim.requests(), stores);
    std::map<std::string, std::string> expected = memory_state();
    for (int w = 200; w < 256; w++)
        expected["mem." + std::to_string(w)] = "0";
    for (const auto &[key, value] : expected)
        EXPECT_EQ(sim.state(key), value) << key;
}

TEST(BackupFile, WrittenAndRestoredOverTheDriveFiles) {
    ScratchDir dir;
    std::string file = dir.file("backup.txt");
    {
        // An answer an earlier run left in command.in is cleared at the open.
        MsdSim msd({.state = memory_state()});
        std::string stale(512, '\0');
        stale.replace(0, 7, "\x06\x64\x01\x02\x03\x04\x00", 7);
        msd.dir().write("drive/command.in", stale);
        RunResult r = run_kestrel({"-wrf", file, "-P" + msd.drive()});
        EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + expected_cell_lines() +
                             "write to backup file: " + file + "\r\n");
        EXPECT_EQ(dir.read("backup.txt"), expected_backup());
    }
    MsdSim blank;
    RunResult r = run_kestrel({"-wwf", file, "-P" + blank.drive()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const auto &[key, value] : memory_state())
        EXPECT_EQ(blank.state(key), value) << key;
}

// The receiver answers its first 197 queries (the firmware version and 196
// words) and then falls silent: cell 98 gets no answer, the backup stops
// there, and the old backup must stay as it was.
TEST(BackupFile, ReceiverFallingSilentLeavesTheOldBackupIntact) {
    ScratchDir dir;
    const std::string old = std::string(kHeader) + "0 7000000 1 0 \r\n";
    dir.write("backup.txt", old);
    HidSim sim;
    sim.add_device({.faults = {.silent_after = 197}, .state = memory_state()});
    std::string file = dir.file("backup.txt");
    RunResult r = run_kestrel({"-wrf", file}, sim);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("backup.txt"), old);
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"backup.txt"});
    EXPECT_EQ(r.out.find("write to backup file"), std::string::npos);
    EXPECT_NE(r.out.find("UM 98 "), std::string::npos);
    EXPECT_EQ(r.out.find("UM 99 "), std::string::npos);
    EXPECT_NE(
        r.err.find("User memory cell 98 got no answer to its query: the backup stops there\n"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(sim.requests().size(), 198u);
    EXPECT_LT(r.elapsed_ms, 3000);
}

// Answers that are not the receiver's answers to the queries (another report
// code, a stray code-28 answer ahead of each one, or an answer to an earlier
// run's query ahead of the first) are no cell contents: the old backup must
// stay as it was.
TEST(BackupFile, AnswersOfAnotherKindLeaveTheOldBackupIntact) {
    const Faults cases[] = {{.answer_code = 5}, {.extra_28 = true}, {.stale_answer = 4242}};
    for (const Faults &faults : cases) {
        ScratchDir dir;
        const std::string old = std::string(kHeader) + "0 7000000 1 0 \r\n";
        dir.write("backup.txt", old);
        HidSim sim;
        sim.add_device({.faults = faults, .state = memory_state()});
        RunResult r = run_kestrel({"-wrf", dir.file("backup.txt")}, sim);
        EXPECT_EQ(dir.read("backup.txt"), old);
        EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"backup.txt"});
        EXPECT_EQ(r.out.find("write to backup file"), std::string::npos);
        EXPECT_NE(r.err.find("The receiver's answers are out of step with the queries"),
                  std::string::npos)
            << r.err;
    }
}

// The file may not grow beyond 1024 bytes (and the signal for that is
// ignored, so the write fails): the old backup must stay as it was. The
// drive files keep kestrel's own writes small.
TEST(BackupFile, FailedWriteLeavesTheOldBackupIntact) {
    ScratchDir dir;
    const std::string old = std::string(kHeader) + "0 7000000 1 0 \r\n";
    dir.write("backup.txt", old);
    MsdSim msd({.state = memory_state()});
    std::string file = dir.file("backup.txt");
    RunResult r = run_process("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 1 && exec \"$0\" \"$@\"",
                                          kestrel_binary(), "-wrf", file, "-P" + msd.drive()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(dir.read("backup.txt"), old);
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"backup.txt"});
    EXPECT_EQ(r.out.find("write to backup file"), std::string::npos);
    EXPECT_NE(r.err.find("Cannot write output file: File too large\n"), std::string::npos) << r.err;
}

// How a new backup takes the old one's place: the old permissions without
// set-ID and sticky bits; the old owner and group (a root run on a user's
// file); through a symbolic link into the file it leads to, the link kept;
// in place, once complete, where the directory cannot take a new file.
struct ReplaceCase {
    const char *name;
    mode_t mode;     // of the old backup; 0: there is none
    bool link;       // the name given is "link.txt", a link to "backup.txt"
    bool user_owned; // the old backup belongs to uid and gid 65534 (root runs only)
    bool locked_dir; // the run cannot create files in the directory
    bool silent;     // no cell is answered: the old backup stays
    mode_t new_mode; // 0: not checked
};

TEST(BackupFile, ReplacementKeepsWhatTheOldFileWas) {
    const bool root = getuid() == 0;
    const ReplaceCase cases[] = {
        {"Permissions", 0640, false, false, false, false, 0640},
        {"SetIdAndStickyBitsDropped", 07755, false, false, false, false, 0755},
        {"OwnerAndGroupKept", 0604, false, true, false, false, 0604},
        {"ThroughALink", 0600, true, false, false, false, 0600},
        {"ThroughADanglingLink", 0, true, false, false, false, 0},
        {"InPlace", 0660, false, false, true, false, 0660},
        {"InPlaceButIncomplete", 0660, false, false, true, true, 0660},
    };
    for (const ReplaceCase &c : cases) {
        if (c.user_owned && !root)
            continue;
        ScratchDir dir;
        const std::string old = "old\r\n";
        const std::string file = dir.file("backup.txt");
        if (c.mode != 0)
            dir.write("backup.txt", old);
        ASSERT_TRUE(c.mode == 0 || chmod(file.c_str(), c.mode) == 0);
        ASSERT_TRUE(!c.user_owned || chown(file.c_str(), 65534, 65534) == 0);
        ASSERT_TRUE(!c.link || symlink("backup.txt", dir.file("link.txt").c_str()) == 0);
        struct stat before {};
        stat(file.c_str(), &before);
        ASSERT_TRUE(!c.locked_dir || chmod(dir.path().c_str(), 0555) == 0);
        HidSim sim;
        sim.add_device({.faults = {.answer_code = c.silent ? 9 : -1}, .state = memory_state()});
        std::vector<std::string> args = {kestrel_binary(), "-wrf",
                                         dir.file(c.link ? "link.txt" : "backup.txt")};
        // Root writes anywhere: the locked directory needs a run without
        // that power.
        if (c.locked_dir && root)
            args.insert(args.begin(), {"--bounding-set=-dac_override,-dac_read_search", "--"});
        RunResult r = run_process(
            c.locked_dir && root ? "/usr/bin/setpriv" : args[0],
            std::vector<std::string>(args.begin() + (c.locked_dir && root ? 0 : 1), args.end()),
            {.env = sim.env()});
        chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(dir.read("backup.txt"), c.silent ? old : expected_backup()) << c.name << r.err;
        struct stat st {
        }, lst{};
        ASSERT_EQ(stat(file.c_str(), &st), 0) << c.name;
        EXPECT_TRUE(c.new_mode == 0 || (st.st_mode & 07777) == c.new_mode) << c.name;
        EXPECT_TRUE(!c.user_owned || (st.st_uid == 65534 && st.st_gid == 65534)) << c.name;
        EXPECT_TRUE(!c.locked_dir || st.st_ino == before.st_ino) << c.name;
        EXPECT_TRUE(!c.link ||
                    (lstat(dir.file("link.txt").c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)))
            << c.name;
        EXPECT_EQ(files_in(dir.path()).size(), c.link ? 2u : 1u) << c.name;
        EXPECT_TRUE(!c.silent || r.err.find("No backup written: " + file +
                                            " is left as it was\n") != std::string::npos)
            << c.name << r.err;
    }
}

// A name that leads to no regular file (here through the links of
// /dev/stdout to a pipe) is written straight.
TEST(BackupFile, NonRegularTargetIsWrittenStraight) {
    HidSim sim;
    sim.add_device({.state = memory_state()});
    RunResult r = run_kestrel({"-wrf", "/dev/stdout"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(expected_backup()), std::string::npos) << r.out;
}

// A run ended by a signal in the middle of a backup leaves no temporary
// file, and the old backup as it was. SIGXFSZ comes from a file-size limit
// on the final write.
TEST(BackupFile, RunEndedBySignalLeavesNoTemporaryFile) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        ScratchDir dir;
        const std::string old = std::string(kHeader) + "0 7000000 1 0 \r\n";
        dir.write("backup.txt", old);
        MsdSim msd({.faults = {.delay_ms = sig == SIGXFSZ ? 0 : 20}, .state = memory_state()});
        const std::string pid_file = msd.dir().file("pid");
        auto run = std::async(std::launch::async, [&] {
            return run_process("/bin/sh",
                               {"-c", "echo $$ >\"$0\"; ulimit -f \"$1\"; shift; exec \"$@\"",
                                pid_file, sig == SIGXFSZ ? "1" : "unlimited", kestrel_binary(),
                                "-wrf", dir.file("backup.txt"), "-P" + msd.drive()});
        });
        if (sig != SIGXFSZ) {
            for (int i = 0; i < 5000 && files_in(dir.path()).size() < 2; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_EQ(files_in(dir.path()).size(), 2u) << sig;
            kill(std::stoi(msd.dir().read("pid")), sig);
        }
        RunResult r = run.get();
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_EQ(dir.read("backup.txt"), old) << sig;
        EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"backup.txt"}) << sig;
    }
}

struct FileNameCase {
    std::vector<std::string> args;
    std::string printed;
    std::string err;
};

TEST(BackupFile, FileNamesThatCannotBeUsed) {
    ScratchDir dir;
    const std::string long_name(300, 'n');
    const FileNameCase cases[] = {
        {{"-wrf"},
         "write to backup file: \r\n",
         "kestrel: -wrf has no file name: nothing was written"},
        {{"-wwf"},
         "restore from backup file: \r\n",
         "kestrel: -wwf has no file name: nothing was restored"},
        {{"-wrf", dir.file("missing/backup.txt")},
         "",
         "Cannot open output file\n\r: No such file or directory\n"},
        {{"-wwf", dir.file("missing.txt")},
         "",
         "Cannot open input file\n\r: No such file or directory\n"},
        {{"-wrf", dir.path()}, "", "Cannot open output file\n\r: Is a directory\n"},
        // Only a regular file of a bounded size is restored from; a FIFO
        // without a writer is not waited for.
        {{"-wwf", "/dev/zero"}, "", "Backup file /dev/zero not read: it is not a regular file\n"},
        {{"-wwf", dir.file("fifo")}, "", "fifo not read: it is not a regular file\n"},
        {{"-wwf", dir.file("huge")},
         "",
         "huge not read: it holds 16777217 bytes, more than the 16777216 a restore reads\n"},
        // A name cut to fit would be another file.
        {{"-wrf", long_name}, "", "The backup file name is longer than 255 characters"},
        {{"-wwf", long_name}, "", "The backup file name is longer than 255 characters"},
    };
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    dir.write("huge", "");
    ASSERT_EQ(truncate(dir.file("huge").c_str(), (16 << 20) + 1), 0);
    HidSim sim;
    sim.add_device();
    for (const FileNameCase &c : cases) {
        sim.clear_requests();
        RunResult r = run_kestrel(c.args, sim, {.cwd = dir.path()});
        std::string name = c.args[0] + (c.args.size() > 1 ? " " + c.args[1].substr(0, 40) : "");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, banner() + hid_open_text() + c.printed) << name;
        if (c.err.empty())
            EXPECT_EQ(r.err, "") << name;
        else
            EXPECT_NE(r.err.find(c.err), std::string::npos) << name << ": " << r.err;
        EXPECT_TRUE(sim.requests().empty()) << name;
    }
}

// Windows takes NUL, AUX and nul.txt for devices that keep nothing written
// to them: no backup is reported written there.
TEST(BackupFile, WindowsDeviceNamesAreRefused) {
    if (!windows_target())
        GTEST_SKIP() << "names of Windows devices";
    ScratchDir dir;
    HidSim sim;
    sim.add_device({.state = memory_state()});
    for (const std::string name : {"NUL", "AUX", "nul.txt"}) {
        RunResult r = run_kestrel({"-wrf", name}, sim, {.cwd = dir.path()});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, banner() + hid_open_text()) << name;
        EXPECT_NE(r.err.find("Backup file " + name + " not written: it is not a regular file\n"),
                  std::string::npos)
            << name << r.err;
        EXPECT_TRUE(files_in(dir.path()).empty()) << name;
    }
}

TEST(BackupFile, NameIsTakenWholeBlanksIncluded) {
    ScratchDir dir;
    HidSim sim;
    sim.add_device({.state = memory_state()});
    RunResult r = run_kestrel({"-wrf", "my file.txt"}, sim, {.cwd = dir.path()});
    EXPECT_NE(r.out.find("write to backup file: my file.txt\r\n"), std::string::npos);
    EXPECT_EQ(dir.read("my file.txt"), expected_backup());
}

// A restored line is stored only when it says exactly what to store; every
// other line is named on standard error and nothing is sent for it.
TEST(BackupFile, RestoreSendsNothingForLinesThatCannotBeStoredExactly) {
    ScratchDir dir;
    dir.write("b.txt", std::string(kHeader) +     // lines 1-6
                           "\r\n"                 // 7: blank
                           "3 14100000 2 1 \r\n"  // 8: stored
                           "4 7000000\r\n"        // 9: truncated
                           "  # 5 100 0 0\r\n"    // 10: blank, then #
                           "128 3500000 1 0 \r\n" // 11: would be cell 0
                           "#" +
                           std::string(300, 'c') +
                           "6 1 1 1\r\n"           // 12: long comment
                           "7 21000000 3 0 \r\n"); // 13: stored
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({"-wwf", dir.file("b.txt")}, sim);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner() + hid_open_text() + "3 14100000 2 1 \n\r" +
                         "UM: cell= 3, freq=14100000 , mode=2, tvtr=1\n\r" + "7 21000000 3 0 \n\r" +
                         "UM: cell= 7, freq=21000000 , mode=3, tvtr=0\n\r" +
                         "restore from backup file: " + dir.file("b.txt") + "\r\n");
    EXPECT_EQ(sim.requests(),
              (std::vector<std::string>{store_report(6, 14100000), store_report(7, 1 << 16 | 2),
                                        store_report(14, 21000000), store_report(15, 3)}));
    for (int line : {7, 9, 10, 11})
        EXPECT_NE(r.err.find("line " + std::to_string(line) + " skipped"), std::string::npos)
            << line << ": " << r.err;
    EXPECT_EQ(r.err.find("line 12"), std::string::npos) << r.err;
}

} // namespace
} // namespace e2e
