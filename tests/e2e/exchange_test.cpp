// SPDX-License-Identifier: MIT
// One report and its answer end to end: the report size of each USB
// identity, the drive files, answers that come late or never, the traced
// code-28 answer, and a second kestrel on a drive that is in use.
#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <unistd.h>

namespace e2e {
namespace {

const char kFreqLine[] = "RX Frequency 14100000 (Hz) for the channel 0\r\n";
const char kAckFreq[] = "ACK Frequency \n\r";
const char kTimeout[] = "USB IO timeout!\r\n";

struct SizeCase {
    const char *name;
    uint16_t vid, pid;
    std::vector<std::string> requests;
};

void PrintTo(const SizeCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ReportSize, FollowsTheIdentity) {
    const SizeCase &c = GetParam();
    HidSim sim;
    sim.add_device({.vid = c.vid, .pid = c.pid});
    RunResult r = run_kestrel({"-C2", "-F14100000", "-J1234"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + hid_open_text() +
                         "RX Frequency 14100000 (Hz) for the channel 2\r\n" + kAckFreq +
                         "The new MAC will be active after SDR reset: 1234");
    EXPECT_EQ(sim.requests(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Identities, ReportSize,
    ::testing::Values(
        SizeCase{"Id0483_5932", 0x0483, 0x5932, {"03 20 26 D7 00", "02 5C 34 12 00"}},
        SizeCase{"Id255D_0002", 0x255D, 0x0002, {"03 20 26 D7 00 02 00", "02 5C 34 12 00 00 00"}},
        SizeCase{"Id255D_0001", 0x255D, 0x0001, {"03 20 26 D7 00", "02 5C 34 12 00"}},
        SizeCase{"Id255D_0006", 0x255D, 0x0006, {"03 20 26 D7 00 02 00", "02 5C 34 12 00 00 00"}}),
    [](const ::testing::TestParamInfo<SizeCase> &param_info) { return param_info.param.name; });

TEST(Exchange, FiveByteReceiverLosesTheChannelByte) {
    HidSim sim;
    sim.add_device({.pid = 0x0001});
    run_kestrel({"-C2", "-F14100000"}, sim);
    EXPECT_EQ(sim.state("freq.0"), "14100000"); // channel 2 did not travel
    EXPECT_EQ(sim.state("freq.2"), "0");
}

TEST(Exchange, OverTheDriveFiles) {
    MsdSim msd;
    RunResult r = run_kestrel({"-P" + msd.drive(), "-F14100000", "-F14100000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              banner() + msd_open_text(msd.drive()) + kFreqLine + kAckFreq + kFreqLine + kAckFreq);
    // Two equal requests in a row: both taken.
    EXPECT_EQ(msd.requests(),
              (std::vector<std::string>{"03 20 26 D7 00 00 00", "03 20 26 D7 00 00 00"}));
    EXPECT_EQ(msd.state("freq.0"), "14100000");
}

TEST(Exchange, ClosedStandardDescriptorsDoNotBecomeTheDriveFiles) {
    // Output of more than one buffer, so that it is written while the
    // drive files are open; on tmpfs, where such writes would land.
    const char *tmpdir = getenv("TMPDIR");
    std::string saved = tmpdir != nullptr ? tmpdir : "";
    if (access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 1);
    for (const char *closed : {">&-", "<&- >&-", "<&- >&- 2>&-"}) {
        MsdSim msd;
        HidSim none;
        std::vector<std::string> args = {"-c", std::string("exec \"$0\" \"$@\" ") + closed,
                                         kestrel_binary(), "-P" + msd.drive()};
        args.insert(args.end(), 150, "-F14100000");
        RunResult r = run_process("/bin/sh", args, {.env = none.env()});
        EXPECT_EQ(r.status, 0) << closed;
        EXPECT_EQ(msd.requests(), std::vector<std::string>(150, "03 20 26 D7 00 00 00")) << closed;
        for (const char *name : {"command.in", "command.out"})
            EXPECT_EQ(msd.dir().read(std::string("drive/") + name).size(), 512u)
                << closed << " " << name;
    }
    if (tmpdir != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(Exchange, LateAnswerWithinTheTimeOutOverTheDrive) {
    MsdSim msd({.faults = {.delay_ms = 150}});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-F14100000"});
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + kFreqLine + kAckFreq);
}

TEST(Exchange, LateAnswerPastTheTimeOutIsReadByTheNextRead) {
    MsdSim msd({.faults = {.delay_ms = 1250}});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-F14100000", "-B1"});
    EXPECT_EQ(r.status, 1); // the frequency went unanswered in time
    // The frequency's answer comes while kestrel waits for the LEDs' answer.
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + kFreqLine + kTimeout + kAckFreq +
                         "The LEDs is Off\r\n");
}

TEST(Exchange, LateAnswerPastTheTimeOutOverHid) {
    HidSim sim;
    sim.add_device({.faults = {.delay_ms = 1100}});
    RunResult r = run_kestrel({"-F14100000", "-B0"}, sim);
    EXPECT_EQ(r.out,
              banner() + hid_open_text() + kFreqLine + kTimeout + kAckFreq + "The LEDs is On\r\n");
}

TEST(Exchange, ReceiverThatNeverAnswersEndsEachReadAfterTheTimeOut) {
    MsdSim msd({.faults = {.silent = true}});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-F14100000"}, {.timeout_ms = 10000});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + kFreqLine + kTimeout);
    EXPECT_LT(r.elapsed_ms, 5000); // bounded: one read time-out
    EXPECT_EQ(msd.requests().size(), 1u);
}

TEST(Exchange, SilentHidReceiver) {
    HidSim sim;
    sim.add_device({.faults = {.silent = true}});
    RunResult r = run_kestrel({"-F14100000"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + kFreqLine + kTimeout);
}

TEST(Exchange, CodeTwentyEightAnswerIsTraced) {
    // The extra answer comes first; the real one is read by the next wait.
    HidSim sim;
    sim.add_device({.faults = {.extra_28 = true}});
    RunResult r = run_kestrel({"-F14100000", "-B1"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + kFreqLine + "ACK rprt=28, cmd=1 \n\r" + kAckFreq +
                         "The LEDs is Off\r\n");
}

TEST(Exchange, CodeTwentyEightAnswerOverTheDrive) {
    MsdSim msd({.faults = {.extra_28 = true}});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-F14100000", "-B1"});
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + kFreqLine + "ACK rprt=28, cmd=1 \n\r" +
                         kAckFreq + "The LEDs is Off\r\n");
}

TEST(Exchange, AnswerWithAnotherCodeIsTakenSilently) {
    HidSim sim;
    sim.add_device({.faults = {.answer_code = 9}});
    RunResult r = run_kestrel({"-F14100000"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + kFreqLine);
}

TEST(Exchange, SecondKestrelOnADriveInUseFailsToOpen) {
    MsdSim msd({.faults = {.silent = true}});
    // The first run opens the drive, sends its request and waits for the
    // answer that never comes (about a second).
    auto first = std::async(std::launch::async, [&msd] {
        return run_kestrel({"-P" + msd.drive(), "-F14100000"}, {.timeout_ms = 10000});
    });
    for (int i = 0; i < 2000 && msd.requests().empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(msd.requests().size(), 1u);
    RunResult second = run_kestrel({"-P" + msd.drive(), "-F7000000"});
    EXPECT_EQ(second.status, 255);
    EXPECT_EQ(second.out, banner() + no_receiver_text(msd.drive()));
    // EWOULDBLOCK from the lock, or Windows' sharing violation.
    EXPECT_EQ(second.err, "Input file " + msd.drive() + "command.in open  error " +
                              std::to_string(system_code(11, 32)) + "\n\r" +
                              drive_hint(msd.drive(), "command.in", "in use"));
    RunResult r = first.get();
    EXPECT_EQ(r.status, 1);               // its answer never came
    EXPECT_EQ(msd.requests().size(), 1u); // the second sent nothing
}

} // namespace
} // namespace e2e
