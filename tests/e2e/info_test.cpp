// SPDX-License-Identifier: MIT
// -V end to end: the information report of a receiver that answers, one
// whose values are all ones, one that answers with other report codes, and
// one that does not answer at all.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace e2e {
namespace {

// The fifteen queries of the report, in their order.
const std::vector<std::string> kQueries = {
    "02 09 00 00 00 00 00", // firmware version
    "02 65 00 00 00 00 00", // sub-version
    "02 1D 00 00 00 00 00", // serial number
    "02 25 00 00 00 00 00", // CPLD serial number
    "02 55 00 00 00 00 00", // EEPROM word 0: main clock, low half
    "02 55 01 00 00 00 00", // EEPROM word 1: main clock, high half
    "02 0E 5A 00 00 00 00", // USB sample rate
    "02 0F 00 00 00 00 00", // multichannel mode
    "02 47 00 00 00 00 00", // AGC state
    "02 10 00 00 00 00 00", // IP address
    "02 11 00 00 00 00 00", // IP mask
    "02 12 00 00 00 00 00", // gateway
    "02 14 00 00 00 00 00", // UDP port
    "02 36 00 00 00 00 00", // DHCP server state
    "02 5B 00 00 00 00 00", // VHF reference clock
};

const std::map<std::string, std::string> kIdentity = {
    {"fw", "0x0001A2B3"},      {"subversion", "0x17"},     {"serial", "0x1A2B3C4D"},
    {"cpld_sn", "0xC0FFEE"},   {"eeprom.0", "0x2D00"},     {"eeprom.1", "0x0310"},
    {"sample_rate", "192000"}, {"multichannel_mode", "2"}, {"agc_state", "0x3"},
    {"ip", "10.1.2.3"},        {"mask", "255.255.255.0"},  {"gateway", "10.1.2.254"},
    {"udp_port", "50001"},     {"dhcp", "0x1F"},           {"vhf_clock", "28800000"},
};

const char kIdentityReport[] = "Firmware version: 0001A2B3 / 0017\n\r"
                               "SDR serial number: 1A2B3C4D\n\r"
                               "CPLD serial number: C0FFEE\n\r"
                               "Main clock frequency: 51391744\n\r"
                               "USB Sample Rate: 192000\n\r"
                               "The multichannel mode is[2]: Dual Channel\r\n"
                               "AGC state: 0x0003\n\r"
                               "SDR IP address: 10.1.2.3\n\r"
                               "SDR IP mask: 255.255.255.0\n\r"
                               "Gateway IP address: 10.1.2.254\n\r"
                               "UDP port number: 50001\n\r"
                               "DHCP server state: 1F\n\r"
                               "VHF reference clock: 28800000 (Hz)\n\r";

// What every value reads as when it has all bits set, or when no answer came.
const char kAllOnesReport[] = "Firmware version: FFFFFFFF / FFFFFFFF\n\r"
                              "SDR serial number: FFFFFFFF\n\r"
                              "CPLD serial number: FFFFFFFF\n\r"
                              "Main clock frequency: 4294967295\n\r"
                              "USB Sample Rate: 4294967295\n\r"
                              "Wrong mode: 4294967295\n\r"
                              "AGC state: 0xFFFFFFFF\n\r"
                              "SDR IP address: 255.255.255.255\n\r"
                              "SDR IP mask: 255.255.255.255\n\r"
                              "Gateway IP address: 255.255.255.255\n\r"
                              "UDP port number: 4294967295\n\r"
                              "DHCP server state: FFFFFFFF\n\r"
                              "VHF reference clock: 4294967295 (Hz)\n\r";

// The report with `before` printed ahead of each answer the lines wait for:
// the firmware line and the main clock line wait for two answers, every
// other line for one.
std::string with_answer_lines(const std::string &report, const std::string &before) {
    const int answers[] = {2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    std::string out;
    size_t start = 0;
    for (int n : answers) {
        size_t end = std::min(report.find("\n\r", start), report.find("\r\n", start)) + 2;
        for (int k = 0; k < n; k++)
            out += before;
        out += report.substr(start, end - start);
        start = end;
    }
    EXPECT_EQ(start, report.size()) << "thirteen lines";
    return out;
}

TEST(InformationReport, ReceiverThatAnswersOverHid) {
    HidSim sim;
    sim.add_device({.state = kIdentity});
    RunResult r = run_kestrel({"-V"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + hid_open_text() + kIdentityReport);
    EXPECT_EQ(sim.requests(), kQueries);
}

TEST(InformationReport, ReceiverThatAnswersOverTheDriveFiles) {
    MsdSim msd({.state = kIdentity});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + kIdentityReport);
    EXPECT_EQ(msd.requests(), kQueries);
}

TEST(InformationReport, AllOnesValuesPrintAsTheirPatterns) {
    std::map<std::string, std::string> ones;
    for (const auto &[key, value] : kIdentity)
        ones[key] = key.rfind("eeprom.", 0) == 0 ? "0xFFFF" : "0xFFFFFFFF";
    HidSim sim;
    sim.add_device({.state = ones});
    RunResult r = run_kestrel({"-V"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + kAllOnesReport);
}

struct ModeCase {
    const char *mode;
    const char *line;
};

TEST(InformationReport, MultichannelModeNamesAndWrongModes) {
    const ModeCase cases[] = {
        {"0", "The multichannel mode is[0]: Single Channel\r\n"},
        {"5", "The multichannel mode is[5]: Quad Channel\r\n"},
        {"6", "Wrong mode: 6\n\r"},
        {"0x80000000", "Wrong mode: 2147483648\n\r"},
    };
    HidSim sim;
    sim.add_device({.state = kIdentity});
    for (const ModeCase &c : cases) {
        sim.set_state("multichannel_mode", c.mode);
        RunResult r = run_kestrel({"-V"}, sim);
        EXPECT_NE(r.out.find("USB Sample Rate: 192000\n\r" + std::string(c.line) + "AGC state: "),
                  std::string::npos)
            << c.mode << "\n"
            << r.out;
    }
}

// Answers that are not generic answers count as 0; a frequency answer is
// also acknowledged on its own line.
TEST(InformationReport, AnswersWithOtherReportCodesReadAsZero) {
    const std::string zeros = "Firmware version: 00000000 / 0000\n\r"
                              "SDR serial number: 0\n\r"
                              "CPLD serial number: 0\n\r"
                              "Main clock frequency: 0\n\r"
                              "USB Sample Rate: 0\n\r"
                              "The multichannel mode is[0]: Single Channel\r\n"
                              "AGC state: 0x0000\n\r"
                              "SDR IP address: 0.0.0.0\n\r"
                              "SDR IP mask: 0.0.0.0\n\r"
                              "Gateway IP address: 0.0.0.0\n\r"
                              "UDP port number: 0\n\r"
                              "DHCP server state: 0\n\r"
                              "VHF reference clock: 0 (Hz)\n\r";
    HidSim sim;
    sim.add_device({.faults = {.answer_code = 5}, .state = kIdentity});
    RunResult r = run_kestrel({"-V"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + zeros);

    sim.set_faults({.answer_code = 7});
    r = run_kestrel({"-V"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text() + with_answer_lines(zeros, "ACK Frequency \n\r"));
}

// After three time-outs in a row the receiver is taken as silent: the rest
// of the report is printed as before, without sending or waiting.
TEST(InformationReport, ReceiverThatDoesNotAnswer) {
    MsdSim msd({.faults = {.silent = true}});
    RunResult r = run_kestrel({"-P" + msd.drive(), "-V"});
    std::string expected = with_answer_lines(kAllOnesReport, "USB IO timeout!\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()) + expected);
    EXPECT_EQ(r.err, "The receiver answered none of the last 3 reports: the remaining exchanges "
                     "with the receiver fail at once\n");
    EXPECT_EQ(msd.requests(), std::vector<std::string>(kQueries.begin(), kQueries.begin() + 3));
    EXPECT_LT(r.elapsed_ms, 5000);
}

} // namespace
} // namespace e2e
