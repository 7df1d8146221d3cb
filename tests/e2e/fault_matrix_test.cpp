// SPDX-License-Identifier: MIT
// The fault matrix: kestrel against receivers and files that misbehave, on
// every transport a fault applies to. For every case the run must end within
// a stated bound, say what happened, end with status 1 when an answer did not
// come or a job failed (255 for a failed open), and lose no data: an old backup stays byte for byte
// unless a complete new one replaces it, and every word of the receiver's
// user memory holds either what it held before or what the user asked for.
//
// Cases that other tests already cover are not repeated here:
// - a single report on a silent, late, extra-28 or other-code receiver, HID
//   and drive (exchange_test.cpp);
// - a TCP receiver that refuses, closes mid-run, goes silent, answers too
//   long or in pieces (tcp_test.cpp);
// - a backup over HID on a receiver that falls silent, answers with another
//   code or adds code-28 answers; a backup past a file-size limit (ulimit -f,
//   SIGXFSZ ignored); restore lines that are blank, truncated, too long or
//   name a cell that does not exist (memory_test.cpp).
//
// A receiver that never answers costs kestrel's read time-out (1 s on HID
// and the drive) or its answer bound (3 s on TCP) per report; the cases
// keep to one or two of them.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

namespace e2e {
namespace {

constexpr long kReadTimeoutMs = 1000; // HID read, drive answer poll
constexpr long kAnswerBoundMs = 3000; // TCP answer
constexpr long kSlackMs = 2000;       // start-up, simulators, sanitizers
constexpr long kQuickMs = 5000;       // a run that waits for nothing

const char kTimeout[] = "USB IO timeout!\r\n";

// ---------------------------------------------------------------------------
// Receivers on each transport
// ---------------------------------------------------------------------------

enum class Link { Hid, Drive, Tcp };

// Distinct contents for every user memory word, none of them a value the
// cases ask for.
std::map<std::string, std::string> memory_state() {
    std::map<std::string, std::string> state;
    for (int word = 0; word < 200; word++)
        state["mem." + std::to_string(word)] = std::to_string(100000 + 7 * word);
    return state;
}

std::map<int, uint32_t> initial_memory() {
    std::map<int, uint32_t> m;
    for (int word = 0; word < 200; word++)
        m[word] = static_cast<uint32_t>(100000 + 7 * word);
    return m;
}

// One simulated receiver on one transport. The transport's options go
// after the command's own, so that -W stays first.
class Rig {
  public:
    Rig(Link link, Faults faults = {}, TcpFaults tcp_faults = {}) : link_(link) {
        if (link == Link::Hid) {
            hid_ = std::make_unique<HidSim>();
            hid_->add_device({.faults = faults, .state = memory_state()});
        } else {
            msd_ = std::make_unique<MsdSim>(MsdOptions{.faults = faults,
                                                       .state = memory_state(),
                                                       .tcp = link == Link::Tcp,
                                                       .tcp_faults = tcp_faults});
        }
    }

    RunResult run(std::vector<std::string> args, RunOptions options = {}) const {
        options.timeout_ms = 30000;
        switch (link_) {
        case Link::Hid:
            return run_kestrel(args, *hid_, options);
        case Link::Drive:
            args.push_back("-P" + msd_->drive());
            break;
        case Link::Tcp:
            args.push_back("-T127.0.0.1");
            args.push_back("-P" + std::to_string(msd_->tcp_port()));
            break;
        }
        return run_kestrel(args, options);
    }

    // What kestrel prints from its start to its first operation.
    std::string open_text() const {
        switch (link_) {
        case Link::Hid:
            return banner() + hid_open_text();
        case Link::Drive:
            return banner() + msd_open_text(msd_->drive());
        case Link::Tcp:
            return banner() + "SDR IP=127.0.0.1:" + std::to_string(msd_->tcp_port()) +
                   "\r\nSO_KEEPALIVE is OFF\n";
        }
        return "";
    }

    // The user memory after the run. A simulator serving the drive or TCP
    // may still be taking the last request when kestrel has ended (kestrel
    // need not wait for an answer it already took): it is stopped once its
    // request log has stayed the same for a moment.
    std::map<int, uint32_t> memory() const {
        if (msd_) {
            size_t seen = msd_->request_lines().size();
            for (int quiet_ms = 0, waited = 0; quiet_ms < 150 && waited < 3000; waited += 10) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                size_t now = msd_->request_lines().size();
                quiet_ms = now == seen ? quiet_ms + 10 : 0;
                seen = now;
            }
            msd_->stop();
        }
        std::map<std::string, std::string> state = hid_ ? hid_->state_map() : msd_->state_map();
        std::map<int, uint32_t> m;
        for (int word = 0; word < 200; word++)
            m[word] = static_cast<uint32_t>(std::stoul(state["mem." + std::to_string(word)]));
        return m;
    }

    MsdSim &msd() const { return *msd_; }

  private:
    Link link_;
    std::unique_ptr<HidSim> hid_;
    std::unique_ptr<MsdSim> msd_;
};

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

// Every word holds its old value or the one asked for; the words in
// `must_change` hold the one asked for.
void expect_only_asked(const std::map<int, uint32_t> &now, const std::map<int, uint32_t> &asked,
                       const std::vector<int> &must_change, const std::string &name) {
    const std::map<int, uint32_t> before = initial_memory();
    for (const auto &[word, value] : now) {
        auto a = asked.find(word);
        bool ok = value == before.at(word) || (a != asked.end() && value == a->second);
        EXPECT_TRUE(ok) << name << ": word " << word << " holds " << value
                        << ", which nobody asked for";
    }
    for (int word : must_change)
        EXPECT_EQ(now.at(word), asked.at(word)) << name << ": word " << word;
}

bool can_make_mount_namespaces() {
    RunResult r = run_process("/usr/bin/unshare", {"-m", "--propagation", "private", "/bin/sh",
                                                   "-c", "mount -t tmpfs none /mnt"});
    return r.status == 0;
}

// ---------------------------------------------------------------------------
// Storing one cell while the receiver misbehaves
// ---------------------------------------------------------------------------

// `-ww10 "1900000 1 0"` stores words 20 and 21. The receiver acts on every
// request it gets, answered or not, so the words land unless the link is
// gone before the second request.
struct StoreCase {
    const char *name;
    Link link;
    Faults faults;
    TcpFaults tcp_faults;
    std::vector<std::string> waits; // what each store's answer wait prints, in order
    std::string err;
    bool second_word_lands;
    long min_ms, max_ms;
};

void PrintTo(const StoreCase &c, std::ostream *os) {
    *os << c.name;
}

std::string recv_failed(int code) {
    return "Client: recv() failed: error " + std::to_string(code) + ".\n";
}
const std::string kSendFailedClosed = "Client: send() failed: error 9.\n";

class StoreUnderFaults : public ::testing::TestWithParam<StoreCase> {};

TEST_P(StoreUnderFaults, EndsInTimeAndStoresOnlyWhatWasAsked) {
    const StoreCase &c = GetParam();
    Rig rig(c.link, c.faults, c.tcp_faults);
    RunResult r = rig.run({"-ww10", "1900000 1 0"});
    EXPECT_FALSE(r.timed_out);
    // A wait that ran out, or a link that failed, fails the run.
    bool failed =
        !c.err.empty() || std::find(c.waits.begin(), c.waits.end(), kTimeout) != c.waits.end();
    EXPECT_EQ(r.status, failed ? 1 : 0);
    std::string expected =
        rig.open_text() + "addr: 10, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n";
    for (const std::string &w : c.waits)
        expected += w;
    expected += "UM: cell= 10, freq=1900000 , mode=1, tvtr=0\n\r";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, c.err);
    EXPECT_GE(r.elapsed_ms, c.min_ms);
    EXPECT_LT(r.elapsed_ms, c.max_ms);
    std::vector<int> must = {20};
    if (c.second_word_lands)
        must.push_back(21);
    expect_only_asked(rig.memory(), {{20, 1900000}, {21, 1}}, must, c.name);
}

const long kOneTimeout = kReadTimeoutMs + kSlackMs;
const long kTwoTimeouts = 2 * kReadTimeoutMs + kSlackMs;
const long kLinkBound = kAnswerBoundMs + kSlackMs;

INSTANTIATE_TEST_SUITE_P(
    Matrix, StoreUnderFaults,
    ::testing::Values(
        // Silent: every wait runs out; the words land all the same. Over TCP
        // the link is given up after the first wait, so the second word
        // never leaves.
        StoreCase{"SilentHid",
                  Link::Hid,
                  {.silent = true},
                  {},
                  {kTimeout, kTimeout},
                  "",
                  true,
                  2 * kReadTimeoutMs - 100,
                  kTwoTimeouts},
        StoreCase{"SilentDrive",
                  Link::Drive,
                  {.silent = true},
                  {},
                  {kTimeout, kTimeout},
                  "",
                  true,
                  2 * kReadTimeoutMs - 100,
                  kTwoTimeouts},
        StoreCase{"SilentTcp",
                  Link::Tcp,
                  {.silent = true},
                  {},
                  {kTimeout, kTimeout},
                  recv_failed(110) + kSendFailedClosed,
                  false,
                  kAnswerBoundMs - 100,
                  kLinkBound},
        // Just inside the time-out: nothing is missed.
        StoreCase{
            "JustInsideHid", Link::Hid, {.delay_ms = 850}, {}, {}, "", true, 1700, 1700 + kSlackMs},
        StoreCase{"JustInsideDrive",
                  Link::Drive,
                  {.delay_ms = 850},
                  {},
                  {},
                  "",
                  true,
                  1700,
                  1700 + kSlackMs},
        // Just past it: the first wait runs out, the second takes the first
        // store's late answer; the second answer is never read.
        StoreCase{"JustPastHid",
                  Link::Hid,
                  {.delay_ms = 1150},
                  {},
                  {kTimeout, ""},
                  "",
                  true,
                  1150,
                  1150 + kSlackMs},
        StoreCase{"JustPastDrive",
                  Link::Drive,
                  {.delay_ms = 1150},
                  {},
                  {kTimeout, ""},
                  "",
                  true,
                  1150,
                  1150 + kSlackMs},
        StoreCase{"JustPastTcp",
                  Link::Tcp,
                  {.delay_ms = 3300},
                  {},
                  {kTimeout, kTimeout},
                  recv_failed(110) + kSendFailedClosed,
                  false,
                  kAnswerBoundMs - 100,
                  kLinkBound},
        // Answers with another report code are taken silently.
        StoreCase{"OtherCodeHid", Link::Hid, {.answer_code = 9}, {}, {}, "", true, 0, kQuickMs},
        StoreCase{"OtherCodeDrive", Link::Drive, {.answer_code = 9}, {}, {}, "", true, 0, kQuickMs},
        StoreCase{"OtherCodeTcp", Link::Tcp, {.answer_code = 9}, {}, {}, "", true, 0, kQuickMs},
        // A code-28 answer ahead of each real one is traced, and the real
        // answer is read by the next wait (TCP below).
        StoreCase{"Extra28Hid",
                  Link::Hid,
                  {.extra_28 = true},
                  {},
                  {"ACK rprt=28, cmd=1 \n\r", ""},
                  "",
                  true,
                  0,
                  kQuickMs},
        StoreCase{"Extra28Drive",
                  Link::Drive,
                  {.extra_28 = true},
                  {},
                  {"ACK rprt=28, cmd=1 \n\r", ""},
                  "",
                  true,
                  0,
                  kQuickMs},
        // Falling silent between the two stores.
        StoreCase{"SilentAfterOneHid",
                  Link::Hid,
                  {.silent_after = 1},
                  {},
                  {"", kTimeout},
                  "",
                  true,
                  kReadTimeoutMs - 100,
                  kOneTimeout},
        StoreCase{"SilentAfterOneDrive",
                  Link::Drive,
                  {.silent_after = 1},
                  {},
                  {"", kTimeout},
                  "",
                  true,
                  kReadTimeoutMs - 100,
                  kOneTimeout},
        StoreCase{"SilentAfterOneTcp",
                  Link::Tcp,
                  {.silent_after = 1},
                  {},
                  {"", kTimeout},
                  recv_failed(110),
                  true,
                  kAnswerBoundMs - 100,
                  kLinkBound},
        // The connection closed between the stores: the second is read by
        // the receiver but never acted on.
        StoreCase{"ClosedAfterOneTcp",
                  Link::Tcp,
                  {},
                  {.close_after = 1},
                  {"", kTimeout},
                  recv_failed(0),
                  false,
                  0,
                  kQuickMs}),
    [](const ::testing::TestParamInfo<StoreCase> &param_info) { return param_info.param.name; });

// Just inside the TCP answer bound: the answer is taken, not given up.
TEST(FaultMatrix, AnswerJustInsideTheTcpBound) {
    Rig rig(Link::Tcp, {.delay_ms = 2700});
    RunResult r = rig.run({"-J?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, rig.open_text() + "MAC word is: 3A34\n\r");
    EXPECT_EQ(r.err, "");
    EXPECT_GE(r.elapsed_ms, 2700);
    EXPECT_LT(r.elapsed_ms, kLinkBound);
}

// Over TCP each message's first answer is its answer; the real one behind
// the code-28 answer is dropped when the next message goes out, or, when it
// arrives only after that, taken as the next message's answer. Either way
// both words land.
TEST(FaultMatrix, Extra28OverTcp) {
    Rig rig(Link::Tcp, {.extra_28 = true});
    RunResult r = rig.run({"-ww10", "1900000 1 0"});
    EXPECT_EQ(r.status, 0);
    const std::string start = rig.open_text() +
                              "addr: 10, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n" +
                              "ACK rprt=28, cmd=1 \n\r";
    const std::string end = "UM: cell= 10, freq=1900000 , mode=1, tvtr=0\n\r";
    EXPECT_TRUE(r.out == start + end || r.out == start + "ACK rprt=28, cmd=2 \n\r" + end) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.elapsed_ms, kQuickMs);
    expect_only_asked(rig.memory(), {{20, 1900000}, {21, 1}}, {20, 21}, "Extra28OverTcp");
}

// ---------------------------------------------------------------------------
// A backup while the receiver misbehaves: the old one stays byte for byte
// ---------------------------------------------------------------------------

struct BackupCase {
    const char *name;
    Link link;
    Faults faults;
    TcpFaults tcp_faults;
    std::string err_has;
    long max_ms;
};

void PrintTo(const BackupCase &c, std::ostream *os) {
    *os << c.name;
}

class BackupUnderFaults : public ::testing::TestWithParam<BackupCase> {};

TEST_P(BackupUnderFaults, KeepsTheOldBackup) {
    const BackupCase &c = GetParam();
    ScratchDir dir;
    const std::string old = "#  an older backup\r\n0 7000000 1 0 \r\n";
    dir.write("backup.txt", old);
    Rig rig(c.link, c.faults, c.tcp_faults);
    RunResult r = rig.run({"-wrf", dir.file("backup.txt")});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.elapsed_ms, c.max_ms);
    EXPECT_EQ(dir.read("backup.txt"), old);
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"backup.txt"});
    EXPECT_EQ(r.out.rfind(rig.open_text(), 0), 0u) << r.out.substr(0, 300);
    EXPECT_EQ(r.out.find("write to backup file"), std::string::npos);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No backup written: " + dir.file("backup.txt") + " is left as it was\n"),
              std::string::npos)
        << r.err;
    expect_only_asked(rig.memory(), {}, {}, c.name); // a backup changes nothing
}

const char kOutOfStep[] = "The receiver's answers are out of step with the queries";
const char kNoCheckAnswer[] =
    "The receiver did not answer the firmware version query that opens the backup: no cell was "
    "read\n";

// A backup stops at its first unanswered cell: a silent receiver costs one
// wait. Answers of another kind, or one an earlier run left behind, put the
// answers out of step with the queries.
INSTANTIATE_TEST_SUITE_P(
    Matrix, BackupUnderFaults,
    ::testing::Values(
        BackupCase{"SilentHid", Link::Hid, {.silent = true}, {}, kNoCheckAnswer, kOneTimeout},
        BackupCase{"SilentDrive", Link::Drive, {.silent = true}, {}, kNoCheckAnswer, kOneTimeout},
        BackupCase{"SilentTcp", Link::Tcp, {.silent = true}, {}, kNoCheckAnswer, kLinkBound},
        BackupCase{"OtherCodeDrive", Link::Drive, {.answer_code = 9}, {}, kOutOfStep, kQuickMs},
        BackupCase{"OtherCodeTcp", Link::Tcp, {.answer_code = 9}, {}, kOutOfStep, kQuickMs},
        BackupCase{"Extra28Drive", Link::Drive, {.extra_28 = true}, {}, kOutOfStep, kQuickMs},
        BackupCase{"Extra28Tcp", Link::Tcp, {.extra_28 = true}, {}, kOutOfStep, kQuickMs},
        BackupCase{"StaleAnswerHid", Link::Hid, {.stale_answer = 4242}, {}, kOutOfStep, kQuickMs},
        BackupCase{
            "StaleAnswerDrive", Link::Drive, {.stale_answer = 4242}, {}, kOutOfStep, kQuickMs},
        BackupCase{"StaleAnswerTcp", Link::Tcp, {.stale_answer = 4242}, {}, kOutOfStep, kQuickMs},
        // The firmware version and 196 words answered (197 exchanges, each
        // quick); cell 98 is not.
        BackupCase{"SilentNearTheEndDrive",
                   Link::Drive,
                   {.silent_after = 197},
                   {},
                   "User memory cell 98 got no answer to its query: the backup stops there\n",
                   kQuickMs + kReadTimeoutMs},
        BackupCase{"SilentNearTheEndTcp",
                   Link::Tcp,
                   {.silent_after = 197},
                   {},
                   "User memory cell 98 got no answer to its query: the backup stops there\n",
                   kQuickMs + kAnswerBoundMs},
        BackupCase{"ClosedMidwayTcp",
                   Link::Tcp,
                   {},
                   {.close_after = 150},
                   "User memory cell 74 got no answer to its query: the backup stops there\n",
                   kQuickMs}),
    [](const ::testing::TestParamInfo<BackupCase> &param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------
// The drive goes away, or cannot be written
// ---------------------------------------------------------------------------

// The receiver is unplugged while kestrel waits for its first answer: its
// drive directory disappears and nothing answers any more. That wait runs
// out, the files are found gone, and the remaining exchanges fail at once.
TEST(FaultMatrix, DriveRemovedMidRun) {
    Rig rig(Link::Drive, {.delay_ms = 300});
    MsdSim &msd = rig.msd();
    const std::string drive = msd.drive();
    auto run = std::async(std::launch::async, [&rig] {
        return rig.run({"-F7000000", "-B1", "-J?"});
    });
    for (int i = 0; i < 3000 && msd.requests().empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(msd.requests().size(), 1u);
    msd.stop();
    std::error_code ec;
    std::filesystem::remove_all(drive, ec);
    ASSERT_FALSE(ec) << ec.message();
    RunResult r = run.get();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner() + msd_open_text(drive) +
                         "RX Frequency 7000000 (Hz) for the channel 0\r\n" + kTimeout + kTimeout +
                         "The LEDs is Off\r\n" + kTimeout + "MAC word is: FFFFFFFF\n\r");
    EXPECT_EQ(r.err, "The receiver's drive files are gone: the remaining exchanges with the "
                     "receiver fail at once\n");
    EXPECT_LT(r.elapsed_ms, kOneTimeout);
}

// A drive mounted read-only cannot carry requests: the open fails at once
// with the system's code for a read-only file system (30), and the run ends
// with -1.
TEST(FaultMatrix, ReadOnlyDrive) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    MsdSim msd;
    const std::string drive = msd.drive();
    HidSim nothing;
    std::vector<std::string> argv = {"-m",
                                     "--propagation",
                                     "private",
                                     "/bin/sh",
                                     "-c",
                                     "mount --bind \"$1\" \"$1\" && "
                                     "mount -o remount,bind,ro \"$1\" && shift && exec env \"$@\"",
                                     "sh",
                                     drive};
    for (const auto &[name, value] : nothing.env())
        argv.push_back(name + "=" + value);
    argv.push_back(kestrel_binary());
    argv.push_back("-P" + drive);
    argv.push_back("-F7000000");
    RunResult r = run_process("/usr/bin/unshare", argv);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text(drive));
    EXPECT_EQ(r.err, "Input file " + drive + "command.in open  error 30\n\r" +
                         drive_hint(drive, "command.in", "read-only"));
    EXPECT_LT(r.elapsed_ms, kQuickMs);
    EXPECT_TRUE(msd.requests().empty());
}

// ---------------------------------------------------------------------------
// A backup onto a full file system
// ---------------------------------------------------------------------------

// The backup's file system is full (a small tmpfs in a private mount
// namespace, filled up). The new backup cannot be written, so the old one
// stays byte for byte and no temporary file is left.
TEST(FaultMatrix, BackupOntoAFullFileSystem) {
    if (!can_make_mount_namespaces())
        GTEST_SKIP() << "no mount namespaces here";
    ScratchDir dir;
    const std::string old = "#  an older backup\r\n0 7000000 1 0 \r\n";
    dir.write("old.txt", old);
    const std::string mount_point = dir.subdir("full");
    const std::string results = dir.subdir("results");
    HidSim sim;
    sim.add_device({.state = memory_state()});
    // $1 the mount point, $2 the old backup, $3 where to leave what the file
    // system held afterwards; then the command.
    std::string script = "set -e; mount -t tmpfs -o size=64k none \"$1\"; "
                         "cp \"$2\" \"$1\"backup.txt; "
                         "head -c 1048576 /dev/zero >\"$1\"filler 2>/dev/null || true; "
                         "d=\"$1\"; r=\"$3\"; shift 3; set +e; env \"$@\"; s=$?; "
                         "cp \"$d\"backup.txt \"$r\"backup.txt; ls -A \"$d\" >\"$r\"files; exit $s";
    std::vector<std::string> argv = {
        "-m", "--propagation", "private",           "/bin/sh", "-c", script,
        "sh", mount_point,     dir.file("old.txt"), results};
    for (const auto &[name, value] : sim.env())
        argv.push_back(name + "=" + value);
    argv.push_back(kestrel_binary());
    argv.push_back("-wrf");
    argv.push_back(mount_point + "backup.txt");
    RunResult r = run_process("/usr/bin/unshare", argv);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_LT(r.elapsed_ms, kQuickMs);
    EXPECT_EQ(dir.read("results/backup.txt"), old);
    EXPECT_EQ(dir.read("results/files"), "backup.txt\nfiller\n");
    EXPECT_EQ(r.out.find("write to backup file"), std::string::npos);
    EXPECT_NE(r.err.find("Cannot write output file: No space left on device\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("No backup written: " + mount_point + "backup.txt is left as it was\n"),
              std::string::npos)
        << r.err;
}

// ---------------------------------------------------------------------------
// Restoring from files that are not backups
// ---------------------------------------------------------------------------

// Garbage that holds no digit at all, from a fixed sequence of every other
// byte value; as one line, without line ends and not starting as a comment.
std::string garbage(size_t n, bool one_line = false) {
    std::string s = one_line ? "x" : "";
    uint32_t x = 12345;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        char c = static_cast<char>(x >> 16);
        if ((c >= '0' && c <= '9') || (one_line && (c == '\n' || c == '\r')))
            c = 'x';
        s += c;
    }
    return s;
}

std::string data_line(int cell, uint32_t freq, int mode, int trvtr) {
    return std::to_string(cell) + " " + std::to_string(static_cast<int32_t>(freq)) + " " +
           std::to_string(mode) + " " + std::to_string(trvtr) + " \r\n";
}

struct RestoreCase {
    const char *name;
    std::string file;
    std::map<int, uint32_t> stored; // the words that must change, and to what
    std::string err_has;
};

void PrintTo(const RestoreCase &c, std::ostream *os) {
    *os << c.name;
}

std::string ten_thousand_data_lines() {
    std::string s;
    for (int i = 0; i < 10000; i++)
        s += data_line(i % 100, 7000000u + static_cast<uint32_t>(i), i % 15, i % 4);
    return s;
}

std::map<int, uint32_t> first_hundred_lines() {
    std::map<int, uint32_t> m;
    for (int i = 0; i < 100; i++) {
        m[2 * i] = 7000000u + static_cast<uint32_t>(i);
        m[2 * i + 1] = static_cast<uint32_t>((i % 4) << 16 | (i % 15));
    }
    return m;
}

std::string ten_thousand_comments_then(const std::string &tail) {
    std::string s;
    for (int i = 0; i < 10000; i++)
        s += "# comment " + std::to_string(i) + "\r\n";
    return s + tail;
}

class RestoreFromBadFiles : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreFromBadFiles, StoresOnlyWhatTheFileSaysExactly) {
    const RestoreCase &c = GetParam();
    ScratchDir dir;
    dir.write("restore.txt", c.file);
    Rig rig(Link::Hid);
    RunResult r = rig.run({"-wwf", dir.file("restore.txt")});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.err_has.empty() ? 0 : 1); // a skipped line fails the restore
    EXPECT_LT(r.elapsed_ms, kQuickMs);
    EXPECT_EQ(r.out.rfind(rig.open_text(), 0), 0u);
    EXPECT_NE(r.out.find("restore from backup file: " + dir.file("restore.txt") + "\r\n"),
              std::string::npos);
    if (c.err_has.empty())
        EXPECT_EQ(r.err, "");
    else
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err.substr(0, 500);
    std::map<int, uint32_t> expected = initial_memory();
    for (const auto &[word, value] : c.stored)
        expected[word] = value;
    EXPECT_EQ(rig.memory(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, RestoreFromBadFiles,
    ::testing::Values(
        RestoreCase{"Garbage", garbage(4096), {}, "skipped: it does not hold four numbers"},
        // A megabyte on one line; numbers that begin only after the part
        // of a line that is looked at; then a good line.
        RestoreCase{"OverLongLines",
                    std::string(1000000, '1') + "\r\n" + std::string(300, ' ') +
                        "5 7000000 1 0\r\n" + data_line(6, 7100000, 2, 0),
                    {{12, 7100000}, {13, 2}},
                    "Backup file line 1 skipped: its four numbers do not end within its first "
                    "254 characters\n"},
        // Beyond 1 MiB a line ends the restore: what follows is not read.
        RestoreCase{"LineBeyondTheLimit",
                    data_line(5, 7000000, 1, 0) + std::string(2 << 20, ' ') + "\r\n" +
                        data_line(6, 7100000, 2, 0),
                    {{10, 7000000}, {11, 1}},
                    "Backup file line 2 is longer than 1048576 bytes: the rest of the file is not "
                    "read\n"},
        // A zero byte ends what can be read of a line: those lines are not
        // stored with numbers from elsewhere.
        RestoreCase{"NulBytes",
                    std::string("3 14100000\0 2 1\r\n", 17) + std::string("\0\0\0\r\n", 5) +
                        std::string("4 7\0", 4) + "000000 1 0\r\n" + data_line(8, 7200000, 3, 1),
                    {{16, 7200000}, {17, 1 << 16 | 3}},
                    "Backup file line 1 skipped: it does not hold four numbers\n"},
        // Only the first 100 data lines are stored.
        RestoreCase{"TenThousandDataLines", ten_thousand_data_lines(), first_hundred_lines(), ""},
        RestoreCase{"TenThousandCommentLines",
                    ten_thousand_comments_then(data_line(9, 7300000, 4, 2)),
                    {{18, 7300000}, {19, 2 << 16 | 4}},
                    ""},
        RestoreCase{"TenThousandGarbageLines",
                    [] {
                        std::string s;
                        for (int i = 0; i < 10000; i++)
                            s += garbage(40, true) + "\r\n";
                        return s + data_line(11, 7400000, 5, 0);
                    }(),
                    {{22, 7400000}, {23, 5}},
                    "Backup file line 10000 skipped"}),
    [](const ::testing::TestParamInfo<RestoreCase> &param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------
// Silent and vanished receivers: -V, -wrf and -wwf end within 5 s
// ---------------------------------------------------------------------------

// Over HID and the drive a receiver that lets three answers in a row run out
// is taken as silent; over TCP the link is given up after its first answer
// bound; a closed connection fails every exchange at once. A backup stops at
// its first unanswered cell, a restore at its first unanswered store.
struct DeadLinkCase {
    const char *name;
    Link link;
    Faults faults;
    TcpFaults tcp_faults;
    const char *job; // "-V", "-wrf" or "-wwf"
    std::string err_has;
};

void PrintTo(const DeadLinkCase &c, std::ostream *os) {
    *os << c.name;
}

class DeadLinks : public ::testing::TestWithParam<DeadLinkCase> {};

TEST_P(DeadLinks, EndWithinFiveSeconds) {
    const DeadLinkCase &c = GetParam();
    ScratchDir dir;
    dir.write("b.txt", data_line(1, 7000000, 1, 0) + data_line(2, 7100000, 2, 0) +
                           data_line(3, 7200000, 3, 0));
    Rig rig(c.link, c.faults, c.tcp_faults);
    std::vector<std::string> args = {c.job};
    if (std::string(c.job) != "-V")
        args.push_back(dir.file("b.txt"));
    RunResult r = rig.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.elapsed_ms, 5000);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
}

const char kTakenAsSilent[] = "The receiver answered none of the last 3 reports: the remaining "
                              "exchanges with the receiver fail at once\n";
const char kRestoreStops[] = "User memory cell 1 got no answer to its store: the restore stops at "
                             "line 1 of the backup file\nUser memory cells restored: none\nUser "
                             "memory cells not restored: 1-3\n";

INSTANTIATE_TEST_SUITE_P(
    Matrix, DeadLinks,
    ::testing::Values(
        DeadLinkCase{"SilentHidV", Link::Hid, {.silent = true}, {}, "-V", kTakenAsSilent},
        DeadLinkCase{"SilentDriveV", Link::Drive, {.silent = true}, {}, "-V", kTakenAsSilent},
        DeadLinkCase{"SilentTcpV", Link::Tcp, {.silent = true}, {}, "-V", recv_failed(110)},
        DeadLinkCase{"SilentHidWrf", Link::Hid, {.silent = true}, {}, "-wrf", "no cell was read"},
        DeadLinkCase{
            "SilentDriveWrf", Link::Drive, {.silent = true}, {}, "-wrf", "no cell was read"},
        DeadLinkCase{"SilentTcpWrf", Link::Tcp, {.silent = true}, {}, "-wrf", "no cell was read"},
        DeadLinkCase{"SilentHidWwf", Link::Hid, {.silent = true}, {}, "-wwf", kRestoreStops},
        DeadLinkCase{"SilentDriveWwf", Link::Drive, {.silent = true}, {}, "-wwf", kRestoreStops},
        DeadLinkCase{"SilentTcpWwf", Link::Tcp, {.silent = true}, {}, "-wwf", kRestoreStops},
        DeadLinkCase{"ClosedTcpV", Link::Tcp, {}, {.close_after = 0}, "-V", recv_failed(0)},
        DeadLinkCase{"ClosedTcpWrf", Link::Tcp, {}, {.close_after = 0}, "-wrf", "no cell was read"},
        DeadLinkCase{"ClosedTcpWwf", Link::Tcp, {}, {.close_after = 0}, "-wwf", kRestoreStops}),
    [](const ::testing::TestParamInfo<DeadLinkCase> &param_info) { return param_info.param.name; });

// A receiver that answers 2.5 s late still answers before a third wait in a
// row runs out: it is not taken as silent, and every report goes out.
TEST(FaultMatrix, LateReceiverIsNotCutShort) {
    Rig rig(Link::Hid, {.delay_ms = 2500});
    RunResult r = rig.run({"-B1", "-B1", "-J?"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, rig.open_text() + kTimeout + "The LEDs is Off\r\n" + kTimeout +
                         "The LEDs is Off\r\nMAC word is: 0000\n\r");
}

// ---------------------------------------------------------------------------
// The exit status of a run that goes through
// ---------------------------------------------------------------------------

// Status 1 when an answer that a command waits for does not come, on any
// transport; what waits for no answer (a reset, -U2) leaves the status to
// the options before it.
struct StatusCase {
    const char *name;
    Link link;
    Faults faults;
    TcpFaults tcp_faults;
    std::vector<std::string> args;
    int status;
    std::string err; // standard error, whole
};

void PrintTo(const StatusCase &c, std::ostream *os) {
    *os << c.name;
}

class StatusUnderFaults : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusUnderFaults, OneWhenAnAnswerDidNotCome) {
    const StatusCase &c = GetParam();
    Rig rig(c.link, c.faults, c.tcp_faults);
    RunResult r = rig.run(c.args);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.rfind(rig.open_text(), 0), 0u) << r.out;
}

const std::vector<std::string> kTune = {"-F7000000", "-G10"};

INSTANTIATE_TEST_SUITE_P(
    Matrix, StatusUnderFaults,
    ::testing::Values(
        StatusCase{"AnsweredHid", Link::Hid, {}, {}, kTune, 0, ""},
        StatusCase{"AnsweredDrive", Link::Drive, {}, {}, kTune, 0, ""},
        StatusCase{"AnsweredTcp", Link::Tcp, {}, {}, kTune, 0, ""},
        StatusCase{"LateInTimeHid", Link::Hid, {.delay_ms = 150}, {}, kTune, 0, ""},
        StatusCase{"LateInTimeDrive", Link::Drive, {.delay_ms = 150}, {}, kTune, 0, ""},
        StatusCase{"SilentHid", Link::Hid, {.silent = true}, {}, {"-B1"}, 1, ""},
        StatusCase{"SilentDrive", Link::Drive, {.silent = true}, {}, {"-B1"}, 1, ""},
        // -F over TCP is a control message of its own.
        StatusCase{
            "SilentTcp", Link::Tcp, {.silent = true}, {}, {"-F7000000"}, 1, recv_failed(ETIMEDOUT)},
        StatusCase{"StreamOnAClosedLinkTcp",
                   Link::Tcp,
                   {},
                   {.close_after = 0},
                   {"-X1"},
                   1,
                   recv_failed(0)},
        StatusCase{"SilentAfterOneHid", Link::Hid, {.silent_after = 1}, {}, kTune, 1, ""},
        // An answer of another kind is no cell.
        StatusCase{"OtherCodeCellHid", Link::Hid, {.answer_code = 7}, {}, {"-wr10"}, 1, ""},
        StatusCase{"ResetOnASilentHid", Link::Hid, {.silent = true}, {}, {"-R"}, 0, ""},
        StatusCase{"ResetOnASilentDrive", Link::Drive, {.silent = true}, {}, {"-R"}, 0, ""},
        StatusCase{"ResetAfterAFailureHid", Link::Hid, {.silent = true}, {}, {"-B1", "-R"}, 1, ""},
        StatusCase{"UsbModeTwoOnASilentHid", Link::Hid, {.silent = true}, {}, {"-U2"}, 0, ""},
        StatusCase{
            "UsbModeTwoAfterAFailureHid", Link::Hid, {.silent = true}, {}, {"-B1", "-U2"}, 1, ""}),
    [](const ::testing::TestParamInfo<StatusCase> &param_info) { return param_info.param.name; });

} // namespace
} // namespace e2e
