// SPDX-License-Identifier: MIT
// kestrel-sim itself, driven through its drive files and its TCP port the
// way a receiver's user would, without kestrel.
#include "harness.h"

#include <gtest/gtest.h>

#include "loopback.h"

#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {

std::string hex(const unsigned char *b, size_t n) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        out += buf;
    }
    return out;
}

// The utility's side of the drive files, in plain file calls.
class Drive {
  public:
    explicit Drive(const std::string &dir) {
        out_ = open((dir + "command.out").c_str(), O_RDWR);
        in_ = open((dir + "command.in").c_str(), O_RDWR);
    }
    ~Drive() {
        close(out_);
        close(in_);
    }
    bool ok() const { return out_ >= 0 && in_ >= 0; }
    void request(std::initializer_list<int> bytes) {
        unsigned char sector[512] = {};
        size_t i = 0;
        for (int b : bytes)
            sector[i++] = static_cast<unsigned char>(b);
        ASSERT_EQ(pwrite(out_, sector, 512, 0), 512);
    }
    uint8_t request_byte0() const {
        uint8_t b = 0xEE;
        EXPECT_EQ(pread(out_, &b, 1, 0), 1);
        return b;
    }
    // Waits (bounded) until the request was taken.
    bool taken(int within_ms = 2000) const {
        for (int i = 0; i < within_ms; i++) {
            if (request_byte0() == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // The answer present now, "" when none.
    std::string peek() const {
        unsigned char sector[512];
        EXPECT_EQ(pread(in_, sector, 512, 0), 512);
        return sector[0] == 0 ? "" : hex(sector, 7);
    }
    // Waits (bounded) for an answer, takes it and marks it consumed.
    std::string answer(int within_ms = 2000) {
        for (int i = 0; i < within_ms; i++) {
            std::string a = peek();
            if (!a.empty()) {
                const uint8_t zero = 0;
                EXPECT_EQ(pwrite(in_, &zero, 1, 0), 1);
                return a;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return "";
    }

  private:
    int out_ = -1, in_ = -1;
};

TEST(SimDrive, CreatesTheFilesWithOneZeroSector) {
    MsdSim msd;
    for (const char *name : {"drive/command.out", "drive/command.in"})
        EXPECT_EQ(msd.dir().read(name), std::string(512, '\0')) << name;
}

TEST(SimDrive, ClearsAStaleAnswerAndPadsShortFilesAtStart) {
    // An answer left over from before would answer the next request.
    ScratchDir dir;
    const std::string drive = dir.subdir("drive");
    dir.write("drive/command.in", "\x06\x09\x01\x02\x03\x04");
    dir.write("drive/command.out", "");
    RunResult r = run_process(sim_binary(), {"--msd", drive, "--silent"}, {.timeout_ms = 300});
    EXPECT_TRUE(r.timed_out); // it kept serving until stopped
    EXPECT_EQ(dir.read("drive/command.in"), std::string(512, '\0'));
    EXPECT_EQ(dir.read("drive/command.out"), std::string(512, '\0'));
}

TEST(SimDrive, TakesTheRequestClearsItAndAnswers) {
    MsdSim msd;
    Drive d(msd.drive());
    ASSERT_TRUE(d.ok());
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.answer(), "06 09 04 03 02 01 00");
    EXPECT_EQ(d.request_byte0(), 0);
    d.request({3, 0x20, 0x26, 0xD7, 0x00, 1, 0});
    EXPECT_EQ(d.answer(), "07 20 26 D7 00 01 00");
    EXPECT_EQ(msd.requests(),
              (std::vector<std::string>{"02 09 00 00 00 00 00", "03 20 26 D7 00 01 00"}));
    EXPECT_EQ(msd.requests("msd").size(), 2u);
    EXPECT_EQ(msd.state("freq.1"), "14100000");
}

TEST(SimDrive, TwoEqualRequestsInARowAreBothTaken) {
    MsdSim msd;
    Drive d(msd.drive());
    for (int i = 0; i < 2; i++) {
        d.request({2, 0x0C, 0xF3, 0, 0, 0, 0});
        EXPECT_EQ(d.answer(), "06 0C 00 00 00 00 00");
    }
    EXPECT_EQ(msd.state("defaults_saved"), "2");
}

TEST(SimDrive, StartsFromTheGivenState) {
    MsdSim msd({.state = {{"mem.20", "1900000"}, {"fw", "0xFFFFFFFF"}}});
    Drive d(msd.drive());
    d.request({2, 0x64, 20, 0, 0, 0, 0});
    EXPECT_EQ(d.answer(), "06 64 E0 FD 1C 00 00");
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.answer(), "06 09 FF FF FF FF 00");
}

TEST(SimDrive, DelayedAnswerComesAfterTheRequestWasTaken) {
    MsdSim msd({.faults = {.delay_ms = 150}});
    Drive d(msd.drive());
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    ASSERT_TRUE(d.taken());
    EXPECT_EQ(d.peek(), ""); // taken, not yet answered
    EXPECT_EQ(d.answer(), "06 09 04 03 02 01 00");
}

TEST(SimDrive, SilentReceiverTakesButNeverAnswers) {
    MsdSim msd({.faults = {.silent = true}});
    Drive d(msd.drive());
    d.request({2, 0x4B, 1, 0, 0, 0, 0});
    ASSERT_TRUE(d.taken());
    EXPECT_EQ(d.answer(200), "");
    EXPECT_EQ(msd.state("leds"), "1");
}

TEST(SimDrive, SilentAfterAnswersTheFirstRequestsOnly) {
    MsdSim msd({.faults = {.silent_after = 1}});
    Drive d(msd.drive());
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_NE(d.answer(), "");
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    ASSERT_TRUE(d.taken());
    EXPECT_EQ(d.answer(200), "");
}

TEST(SimDrive, ExtraAnswerWaitsUntilTheFirstIsTaken) {
    MsdSim msd({.faults = {.extra_28 = true}});
    Drive d(msd.drive());
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    ASSERT_TRUE(d.taken());
    for (int i = 0; i < 2000 && d.peek().empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A window in which the second answer would overwrite the first: a
    // pause on purpose, since nothing happens that could be waited for.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(d.peek(), "06 1C 01 00 00 00 00"); // not overwritten meanwhile
    EXPECT_EQ(d.answer(), "06 1C 01 00 00 00 00");
    EXPECT_EQ(d.answer(), "06 09 04 03 02 01 00");
}

TEST(SimDrive, WrongAnswerCode) {
    MsdSim msd({.faults = {.answer_code = 9}});
    Drive d(msd.drive());
    d.request({2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.answer(), "09 09 04 03 02 01 00");
}

TEST(SimDrive, StopsCleanlyOnSigterm) {
    ScratchDir dir;
    const std::string drive = dir.subdir("drive");
    RunResult r = run_process("/bin/sh",
                              {"-c",
                               "\"$0\" --msd \"$1\" --ready-file \"$1/ready\" & pid=$!; "
                               "while [ ! -e \"$1/ready\" ]; do sleep 0.01; done; "
                               "kill -TERM $pid; wait $pid",
                               sim_binary(), drive},
                              {.timeout_ms = 5000});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "kestrel-sim: serving msd " + drive + "\n");
}

TEST(SimDrive, RefusesBadOptions) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{},
                                               {"--msd"},
                                               {"--bogus"},
                                               {"--msd", "/tmp", "--delay-ms", "x"},
                                               {"--msd", "/tmp", "--set", "freq.9=1"},
                                               {"--tcp", "localhost"}}) {
        RunResult r = run_process(sim_binary(), args, {.timeout_ms = 2000});
        EXPECT_NE(r.status, 0) << args.size();
        EXPECT_NE(r.err, "");
    }
}

// ---------------------------------------------------------------------------
// TCP
// ---------------------------------------------------------------------------

class Link {
  public:
    explicit Link(int port) : fd_(loopback::connect_to(static_cast<uint16_t>(port))) {}
    ~Link() { close(fd_); }
    bool connected() const { return fd_ >= 0; }
    void send_bytes(std::initializer_list<int> bytes) {
        std::vector<unsigned char> b;
        for (int x : bytes)
            b.push_back(static_cast<unsigned char>(x));
        ASSERT_EQ(send(fd_, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
    }
    // One receive of at most 32 bytes, as the utility makes it (bounded wait).
    std::string receive(int within_ms = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, within_ms) != 1)
            return "";
        unsigned char buf[32];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? hex(buf, static_cast<size_t>(n)) : "";
    }

  private:
    int fd_ = -1;
};

TEST(SimTcp, TunnelledReportsAndControlItems) {
    MsdSim sim({.tcp = true});
    ASSERT_GT(sim.tcp_port(), 0);
    Link link(sim.tcp_port());
    ASSERT_TRUE(link.connected());
    link.send_bytes({0x09, 0xE0, 2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_EQ(link.receive(), "09 E0 06 09 04 03 02 01 00");
    link.send_bytes({0x09, 0xE0, 3, 0x20, 0x26, 0xD7, 0x00, 0, 0});
    EXPECT_EQ(link.receive(), "09 E0 07 20 26 D7 00 00 00");
    // Control items: frequency, sample rate, stream; answered with type 0.
    link.send_bytes({0x0A, 0x00, 0x20, 0x00, 0x01, 0x40, 0x42, 0x0F, 0x00, 0x00});
    EXPECT_EQ(link.receive(), "04 00 20 00");
    link.send_bytes({0x09, 0x00, 0xB8, 0x00, 0x00, 0x00, 0xEE, 0x02, 0x00});
    EXPECT_EQ(link.receive(), "04 00 B8 00");
    link.send_bytes({0x08, 0x00, 0x18, 0x00, 0x80, 0x02, 0x00, 0x00});
    EXPECT_EQ(link.receive(), "04 00 18 00");
    // A message split over two sends is still one message.
    link.send_bytes({0x09, 0xE0, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a slow sender, on purpose
    link.send_bytes({0x4B, 1, 0, 0, 0, 0});
    EXPECT_EQ(link.receive(), "09 E0 06 4B 00 00 00 00 00");
    EXPECT_EQ(sim.state("freq.0"), "14100000");
    EXPECT_EQ(sim.state("freq.1"), "1000000");
    EXPECT_EQ(sim.state("sample_rate"), "192000");
    EXPECT_EQ(sim.state("stream"), "1");
    EXPECT_EQ(sim.state("leds"), "1");
    EXPECT_EQ(sim.requests("tcp"),
              (std::vector<std::string>{"02 09 00 00 00 00 00", "03 20 26 D7 00 00 00",
                                        "02 4B 01 00 00 00 00"}));
    EXPECT_EQ(sim.requests("tcp-control").size(), 3u);
}

TEST(SimTcp, SilentReceiverAnswersNothingAndAShortHeaderEndsTheLink) {
    MsdSim sim({.faults = {.silent = true}, .tcp = true});
    Link link(sim.tcp_port());
    link.send_bytes({0x09, 0xE0, 2, 0x09, 0, 0, 0, 0, 0});
    EXPECT_EQ(link.receive(200), "");
    link.send_bytes({0x01, 0x00}); // length 1: no message is that short
    EXPECT_EQ(link.receive(), ""); // closed: the receive sees the end
    Link again(sim.tcp_port());    // and the receiver still serves others
    EXPECT_TRUE(again.connected());
}

} // namespace
} // namespace e2e
