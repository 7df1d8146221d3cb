// SPDX-License-Identifier: MIT
// kestrel over TCP (-T, with -P as the port) against kestrel-sim listening
// on 127.0.0.1: the control items and tunnel messages byte for byte, what
// every option prints over the link, and a receiver that refuses, closes,
// goes silent, answers too much or answers in pieces. Every run names
// 127.0.0.1 explicitly.
#include "harness.h"

#include <gtest/gtest.h>

#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace e2e {
namespace {

const char kLoopback[] = "-T127.0.0.1";
const char kTimeout[] = "USB IO timeout!\r\n";
// How long kestrel waits for an answer before it gives the link up.
constexpr long kAnswerBoundMs = 3000;

std::string port_arg(long port) {
    return "-P" + std::to_string(port);
}

// The lines of a successful open of the link.
std::string tcp_open_text(int port) {
    return banner() + "SDR IP=127.0.0.1:" + std::to_string(port) + "\r\nSO_KEEPALIVE is OFF\n";
}

// The link's error numbers: POSIX's, or Winsock's on Windows.
const int kTimedOut = static_cast<int>(system_code(ETIMEDOUT, 10060)); // WSAETIMEDOUT
const int kClosedSocket = static_cast<int>(system_code(EBADF, 10038)); // WSAENOTSOCK

std::string recv_failed(int code) {
    return "Client: recv() failed: error " + std::to_string(code) + ".\n";
}
std::string send_failed(int code) {
    return "Client: send() failed: error " + std::to_string(code) + ".\n";
}

// Runs kestrel against the sim's TCP port with `args` after -T and -P.
RunResult run_tcp(const MsdSim &sim, std::vector<std::string> args) {
    args.insert(args.begin(), {kLoopback, port_arg(sim.tcp_port())});
    return run_kestrel(args);
}

// The -V report as kestrel prints it over the drive files of the same sim,
// without the lines of the open.
std::string info_over_drive(const MsdSim &sim) {
    RunResult r = run_kestrel({"-P" + sim.drive(), "-V"});
    std::string open = banner() + msd_open_text(sim.drive());
    EXPECT_EQ(r.out.substr(0, open.size()), open);
    return r.out.substr(open.size());
}

// ---------------------------------------------------------------------------
// Control items: the frequency, the immediate sample rate and the data stream
// ---------------------------------------------------------------------------

struct ControlCase {
    const char *name;
    std::vector<std::string> args;
    std::string out;               // after the open lines
    std::vector<std::string> sent; // whole messages, as the receiver got them
    std::vector<std::pair<std::string, std::string>> state;
};

void PrintTo(const ControlCase &c, std::ostream *os) {
    *os << c.name;
}

class ControlItems : public ::testing::TestWithParam<ControlCase> {};

TEST_P(ControlItems, AreSentAndApplied) {
    const ControlCase &c = GetParam();
    MsdSim sim({.tcp = true});
    RunResult r = run_tcp(sim, c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, tcp_open_text(sim.tcp_port()) + c.out);
    EXPECT_EQ(sim.requests("tcp-in"), c.sent);
    EXPECT_TRUE(sim.requests("tcp").empty()); // no front-end report travelled
    for (const auto &[key, value] : c.state)
        EXPECT_EQ(sim.state(key), value) << key;
}

INSTANTIATE_TEST_SUITE_P(
    Tcp, ControlItems,
    ::testing::Values(
        ControlCase{"Frequency",
                    {"-F14100000"},
                    "RX Frequency 14100000 (Hz) for the channel 0\r\n",
                    {"0A 00 20 00 00 20 26 D7 00 00"},
                    {{"freq.0", "14100000"}}},
        ControlCase{"FrequencyOnChannel2",
                    {"-C2", "-F7000000"},
                    "RX Frequency 7000000 (Hz) for the channel 2\r\n",
                    {"0A 00 20 00 02 C0 CF 6A 00 00"},
                    {{"freq.2", "7000000"}, {"freq.0", "0"}}},
        ControlCase{"NewSampleRate",
                    {"-SN192000", "-SN96000"},
                    "The new  sample rate was set in SDR:  192000 (Hz)\r\n"
                    "The new  sample rate was set in SDR:  96000 (Hz)\r\n",
                    {"09 00 B8 00 00 00 EE 02 00", "09 00 B8 00 00 00 77 01 00"},
                    {{"sample_rate", "96000"}}},
        ControlCase{"StreamStartThenStop",
                    {"-X1", "-X0"},
                    "The Data stream has been started\r\nThe Data stream has been stopped\r\n",
                    {"08 00 18 00 80 02 00 00", "08 00 18 00 80 01 00 00"},
                    {{"stream", "0"}}},
        ControlCase{"StreamStart",
                    {"-X1"},
                    "The Data stream has been started\r\n",
                    {"08 00 18 00 80 02 00 00"},
                    {{"stream", "1"}}}),
    [](const ::testing::TestParamInfo<ControlCase> &param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------
// The report tunnel
// ---------------------------------------------------------------------------

// -V over the link prints what it prints over the drive files, and every
// report went out as 09 E0 and its 7 bytes.
TEST(TcpTunnel, InformationReportMatchesTheDriveFiles) {
    MsdSim sim({.tcp = true});
    std::string expected = info_over_drive(sim);
    std::vector<std::string> drive_reports = sim.requests("msd");
    ASSERT_FALSE(drive_reports.empty());
    EXPECT_NE(expected.find("Firmware version: "), std::string::npos);

    RunResult r = run_tcp(sim, {"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, tcp_open_text(sim.tcp_port()) + expected);
    std::vector<std::string> tunnelled;
    for (const std::string &report : drive_reports)
        tunnelled.push_back("09 E0 " + report);
    EXPECT_EQ(sim.requests("tcp-in"), tunnelled);
}

TEST(TcpTunnel, UserMemoryCellWrittenAndReadBack) {
    MsdSim sim({.tcp = true});
    // -W must stand first; -T and -P are taken wherever they stand.
    RunResult w = run_kestrel({"-ww10", "1900000 1 0", kLoopback, port_arg(sim.tcp_port())});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.err, "");
    EXPECT_EQ(w.out, tcp_open_text(sim.tcp_port()) +
                         "addr: 10, Frequency: 1900000 , Mode: 1 , TRVTR: 0\r\n"
                         "UM: cell= 10, freq=1900000 , mode=1, tvtr=0\n\r");
    EXPECT_EQ(sim.requests("tcp-in"), (std::vector<std::string>{"09 E0 02 63 14 E0 FD 1C 00",
                                                                "09 E0 02 63 15 01 00 00 00"}));

    RunResult rd = run_kestrel({"-wr10", kLoopback, port_arg(sim.tcp_port())});
    EXPECT_EQ(rd.status, 0);
    EXPECT_EQ(rd.err, "");
    EXPECT_EQ(rd.out, tcp_open_text(sim.tcp_port()) +
                          "UM 10 1900000 1 0\n\rFrequency: 1900000 , Mode: 1 , TRVTR: 0\r\n");
}

// ---------------------------------------------------------------------------
// The port
// ---------------------------------------------------------------------------

// Only a port read whole, 1 to 65535, is contacted; the others are refused
// and no connection is tried.
TEST(TcpPort, TakesOnlyAWholePortInRange) {
    MsdSim sim({.tcp = true});
    const long port = sim.tcp_port();
    const std::string forms[] = {port_arg(port), port_arg(port + 65536),
                                 port_arg(port + 3 * 65536) + "x7", port_arg(port) + ":9"};
    for (const std::string &p : forms) {
        RunResult r = run_kestrel({kLoopback, p, "-F7000000"});
        const bool whole = p == forms[0];
        EXPECT_EQ(r.status, whole ? 0 : 255) << p;
        EXPECT_EQ(r.err.empty(), whole) << p;
        if (whole) {
            EXPECT_EQ(r.out, tcp_open_text(static_cast<int>(port)) +
                                 "RX Frequency 7000000 (Hz) for the channel 0\r\n");
        }
    }
    EXPECT_EQ(sim.requests("tcp-in").size(), 1u);
}

// ---------------------------------------------------------------------------
// A receiver that refuses, closes, goes silent or answers oddly
// ---------------------------------------------------------------------------

TEST(TcpFailure, RefusedConnectionEndsTheRun) {
    const int port = loopback::unused_port();
    RunResult r = run_kestrel({kLoopback, port_arg(port), "-F7000000"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, tcp_open_text(port) + "Cannot open TALMIR SDR!\n\r");
    EXPECT_EQ(r.err, "Cannot connect to  SDR!\n\rkestrel: no connection to 127.0.0.1 port " +
                         std::to_string(port) +
                         ": connection refused: nothing listens at that port; check that the "
                         "receiver is on and connected, and its address and port (-T<address> "
                         "-P<port>)\n");
}

// The receiver answers one message and closes on the second: that message
// fails to receive, each later one fails to send, and the run goes on to its
// end without being killed.
TEST(TcpFailure, ReceiverClosingMidRun) {
    MsdSim sim({.tcp = true, .tcp_faults = {.close_after = 1}});
    RunResult r = run_tcp(sim, {"-F1000000", "-F2000000", "-SN96000", "-J?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, tcp_open_text(sim.tcp_port()) +
                         "RX Frequency 1000000 (Hz) for the channel 0\r\n"
                         "RX Frequency 2000000 (Hz) for the channel 0\r\n"
                         "The new  sample rate was set in SDR:  96000 (Hz)\r\n" +
                         kTimeout + "MAC word is: FFFFFFFF\n\r");
    EXPECT_EQ(r.err, recv_failed(0) + send_failed(kClosedSocket) + send_failed(kClosedSocket));
    EXPECT_EQ(sim.requests("tcp-in").size(), 2u);
    EXPECT_EQ(sim.state("freq.0"), "1000000");
}

// A receiver that never answers costs one answer bound, not the whole run.
TEST(TcpFailure, SilentReceiverIsGivenUpWithinTheBound) {
    MsdSim sim({.faults = {.silent = true}, .tcp = true});
    RunResult r = run_tcp(sim, {"-F7000000", "-F8000000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, tcp_open_text(sim.tcp_port()) +
                         "RX Frequency 7000000 (Hz) for the channel 0\r\n"
                         "RX Frequency 8000000 (Hz) for the channel 0\r\n");
    EXPECT_EQ(r.err, recv_failed(kTimedOut) + send_failed(kClosedSocket));
    EXPECT_GE(r.elapsed_ms, kAnswerBoundMs - 100);
    EXPECT_LT(r.elapsed_ms, kAnswerBoundMs + 2000);
}

// Answers longer than one receive takes, and answers that arrive in two
// pieces, still give each report its own answer: -V prints the same report.
TEST(TcpFailure, LongAndSplitAnswersAreReadWhole) {
    struct Case {
        const char *name;
        TcpFaults faults;
        std::string first_answer; // as the receiver sent it
    };
    const Case cases[] = {
        {"long", {.answer_length = 40}, "28 E0 06 09 04 03 02 01 00"},
        {"split", {.split_ms = 40}, "09 E0 06 09 04 03 02 01 00"},
    };
    for (const Case &c : cases) {
        MsdSim sim({.tcp = true, .tcp_faults = c.faults});
        std::string expected = info_over_drive(sim);
        RunResult r = run_tcp(sim, {"-V"});
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(r.out, tcp_open_text(sim.tcp_port()) + expected) << c.name;
        std::vector<std::string> out = sim.requests("tcp-out");
        ASSERT_FALSE(out.empty()) << c.name;
        if (c.faults.answer_length > 0) {
            EXPECT_EQ(out[0].size(), 40u * 3 - 1) << c.name; // really 40 bytes on the wire
            EXPECT_EQ(out[0].substr(0, c.first_answer.size()), c.first_answer) << c.name;
        } else {
            EXPECT_EQ(out[0], c.first_answer) << c.name;
        }
    }
}

// ---------------------------------------------------------------------------
// The sim's link faults themselves, seen from a plain socket
// ---------------------------------------------------------------------------

// Everything the peer sends within `ms`, as separate receives.
std::vector<std::string> receives(int fd, int ms) {
    std::vector<std::string> got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return got;
        unsigned char buf[64];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            got.push_back("EOF");
            return got;
        }
        std::string hex;
        for (ssize_t i = 0; i < n; i++) {
            char b[4];
            snprintf(b, sizeof b, "%s%02X", i ? " " : "", buf[i]);
            hex += b;
        }
        got.push_back(hex);
    }
}

TEST(SimTcpFaults, SplitAnswersAndClosingAfterN) {
    MsdSim sim({.tcp = true, .tcp_faults = {.close_after = 1, .split_ms = 300}});
    int fd = loopback::connect_to(static_cast<uint16_t>(sim.tcp_port()));
    ASSERT_GE(fd, 0);
    const unsigned char query[9] = {0x09, 0xE0, 0x02, 0x09};
    ASSERT_EQ(send(fd, query, sizeof query, 0), 9);
    // The first half comes at once, the rest only after the pause.
    EXPECT_EQ(receives(fd, 150), std::vector<std::string>{"09 E0 06 09"});
    EXPECT_EQ(receives(fd, 400), std::vector<std::string>{"04 03 02 01 00"});
    // The second message is taken and the connection ends without an answer.
    ASSERT_EQ(send(fd, query, sizeof query, 0), 9);
    EXPECT_EQ(receives(fd, 1000), std::vector<std::string>{"EOF"});
    close(fd);
    EXPECT_EQ(sim.requests("tcp-in").size(), 2u);
    EXPECT_EQ(sim.requests("tcp").size(), 1u); // the second never reached the receiver
}

} // namespace
} // namespace e2e
