// SPDX-License-Identifier: MIT
// The TCP link against a small receiver inside the test, on 127.0.0.1 and an
// ephemeral port: the exact bytes of every message, answers that are long,
// split, stale or missing, a receiver that goes away, and the bounds on
// every wait.
#include "tcp_shell.h"

#include "commands.h"
#include "fe_interface.h"
#include "platform/net.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include "loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// What the test receiver does after it has read one whole message.
struct Reply {
    enum Action { Answer, Silent, Close, Reset } action = Answer;
    Bytes bytes;         // sent as the answer
    size_t split_at = 0; // when not 0: the first split_at bytes, a pause, then the rest
    int pause_ms = 0;
};

Reply answer(Bytes b) {
    return Reply{Reply::Answer, std::move(b), 0, 0};
}

constexpr int SERVER_WAIT_MS = 5000; // every wait of the test receiver is bounded too

bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

bool read_exact(int fd, unsigned char *p, size_t n) {
    while (n > 0) {
        if (!wait_readable(fd, SERVER_WAIT_MS))
            return false;
        ssize_t r = recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// A receiver that accepts one connection and follows a script: for each
// step it reads one message, framed by the length in its header, and then
// answers, stays silent, or closes.
class LoopbackReceiver {
  public:
    explicit LoopbackReceiver(std::vector<Reply> script) : script_(std::move(script)) {
        listen_fd_ = loopback::listen_on(4, &port_);
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackReceiver() {
        close_tcp(); // the link under test is this receiver's only client
        finish();
    }
    uint16_t port() const { return port_; }
    // Waits for the receiver to end (the client has closed, or the script
    // and its waits are over) and returns the messages it read.
    const std::vector<Bytes> &finish() {
        if (thread_.joinable())
            thread_.join();
        if (listen_fd_ >= 0)
            close(listen_fd_);
        listen_fd_ = -1;
        return messages_;
    }
    // Bytes that arrived after the last message of the script.
    const Bytes &trailing() const { return trailing_; }

  private:
    void run() {
        if (listen_fd_ < 0 || !wait_readable(listen_fd_, SERVER_WAIT_MS))
            return;
        int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd < 0)
            return;
        for (const Reply &step : script_) {
            Bytes msg(2);
            if (!read_exact(fd, msg.data(), 2))
                break;
            size_t length = (msg[0] | (msg[1] << 8)) & 0x1FFF;
            if (length > 2) {
                msg.resize(length);
                if (!read_exact(fd, msg.data() + 2, length - 2))
                    break;
            }
            messages_.push_back(msg);
            if (step.action == Reply::Close) {
                close(fd);
                return;
            }
            if (step.action == Reply::Reset) {
                linger l{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                close(fd);
                return;
            }
            if (step.action == Reply::Silent)
                continue;
            size_t first = step.split_at ? step.split_at : step.bytes.size();
            send(fd, step.bytes.data(), first, MSG_NOSIGNAL);
            if (first < step.bytes.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
                send(fd, step.bytes.data() + first, step.bytes.size() - first, MSG_NOSIGNAL);
            }
        }
        // Keep the connection until the client closes it; note anything more.
        unsigned char buf[2048];
        while (wait_readable(fd, SERVER_WAIT_MS)) {
            ssize_t r = recv(fd, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            trailing_.insert(trailing_.end(), buf, buf + r);
        }
        close(fd);
    }

    std::vector<Reply> script_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::vector<Bytes> messages_;
    Bytes trailing_;
};

// Captures what `f` writes to standard output and standard error.
struct Output {
    std::string out, err;
};
Output capture(const std::function<void()> &f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    fflush(stdout);
    fflush(stderr);
    Output o;
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

std::string code_line(const char *what, int code) {
    char buf[80];
    snprintf(buf, sizeof buf, "Client: %s() failed: error %d.\n", what, code);
    return buf;
}

class TcpLink : public testing::Test {
  protected:
    void TearDown() override {
        close_tcp();
        hid_change_tcp_network_flag(0);
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
    }
    // Opens the link to `r`, expecting success and the keep-alive line.
    void open(LoopbackReceiver &r) {
        Output o = capture([&] { ASSERT_EQ(open_tcp_connection("127.0.0.1", r.port()), 0); });
        EXPECT_EQ(o.out, "SO_KEEPALIVE is OFF\n");
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(hid_tcp_network_flag, 1);
    }
};

const Bytes CONTROL_ANSWER = {0x04, 0x00, 0x20, 0x00};

TEST_F(TcpLink, ControlItemsAreSentByteForByte) {
    struct Case {
        const char *name;
        std::function<int()> send;
        Bytes expected;
    };
    const Case cases[] = {
        {"frequency 14100000 ch0",
         [] { return tcp_send_frequency(14100000, 0); },
         {0x0A, 0x00, 0x20, 0x00, 0x00, 0x20, 0x26, 0xD7, 0x00, 0x00}},
        {"frequency 0xFFFFFFFF ch 258",
         [] { return tcp_send_frequency(0xFFFFFFFFu, 258); },
         {0x0A, 0x00, 0x20, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
        {"sample rate 192000",
         [] { return tcp_send_sample_rate(192000); },
         {0x09, 0x00, 0xB8, 0x00, 0x00, 0x00, 0xEE, 0x02, 0x00}},
        {"stream start",
         [] { return tcp_set_udp_rx_state(2); },
         {0x08, 0x00, 0x18, 0x00, 0x80, 0x02, 0x00, 0x00}},
        {"stream stop",
         [] { return tcp_set_udp_rx_state(1); },
         {0x08, 0x00, 0x18, 0x00, 0x80, 0x01, 0x00, 0x00}},
        {"rf gain ch1 -10",
         [] { return tcp_set_rf_gain_state(1, -10); },
         {0x06, 0x00, 0x38, 0x00, 0x01, 0xF6}},
    };
    std::vector<Reply> script;
    for (size_t i = 0; i < std::size(cases); i++)
        script.push_back(answer(CONTROL_ANSWER));
    LoopbackReceiver r(script);
    open(r);
    for (const Case &c : cases) {
        Output o = capture([&] { EXPECT_EQ(c.send(), 0) << c.name; });
        EXPECT_EQ(o.err, "") << c.name;
    }
    close_tcp();
    const std::vector<Bytes> &got = r.finish();
    ASSERT_EQ(got.size(), std::size(cases));
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(got[i], cases[i].expected) << cases[i].name;
    EXPECT_TRUE(r.trailing().empty());
    // Control answers are not tunnel answers: nothing is stored for the front end.
    char buf[64] = {1};
    EXPECT_EQ(HID_Read_Data(buf), 0);
}

TEST_F(TcpLink, ReportTravelsThroughTheTunnelAndItsAnswerIsStored) {
    const Bytes answer_msg = {0x09, 0xE0, 0x06, 0x5D, 0x01, 0x02, 0x03, 0x04, 0x00};
    LoopbackReceiver r({answer(answer_msg)});
    open(r);
    unsigned char report[7] = {0x02, 0x5D, 0, 0, 0, 0, 0};
    EXPECT_EQ(HID_Write_Data(report), 1);
    char buf[64] = {0};
    ASSERT_EQ(HID_Read_Data(buf), 7);
    EXPECT_EQ(Bytes(buf, buf + 7), Bytes(answer_msg.begin() + 2, answer_msg.end()));
    EXPECT_EQ(HID_Last_Exchange(), FE_ANSWERED);
    EXPECT_EQ(HID_Read_Data(buf), 0); // taken once
    EXPECT_EQ(HID_Last_Exchange(), FE_TIMED_OUT);
    close_tcp();
    ASSERT_EQ(r.finish().size(), 1u);
    EXPECT_EQ(r.finish()[0], (Bytes{0x09, 0xE0, 0x02, 0x5D, 0, 0, 0, 0, 0}));
}

// Answers of types 0 to 6 are dropped; type 7 reaches the front end.
TEST_F(TcpLink, OnlyTypeSevenAnswersReachTheFrontEnd) {
    struct Case {
        unsigned char type_byte;
        bool stored;
    };
    const Case cases[] = {{0xE0, true}, {0xC0, false}, {0x20, false}, {0x00, false}};
    std::vector<Reply> script;
    for (const Case &c : cases)
        script.push_back(answer({0x09, c.type_byte, 0x06, 0x11, 0x22, 0, 0, 0, 0}));
    LoopbackReceiver r(script);
    open(r);
    for (const Case &c : cases) {
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
        unsigned char report[7] = {0x02, 0x11};
        HID_Write_Data(report);
        char buf[64] = {0};
        EXPECT_EQ(HID_Read_Data(buf), c.stored ? 7 : 0) << int(c.type_byte);
    }
}

// However the receiver frames or times its answer, each message gets its
// own answer: a long answer does not spill into the next one, a split answer
// is read whole, and stale bytes are dropped before the next message.
TEST_F(TcpLink, EachMessageGetsItsOwnWholeAnswer) {
    Bytes long_answer(40, 0x77);
    long_answer[0] = 40;
    long_answer[1] = 0xE0;
    long_answer[2] = 0x06;
    long_answer[3] = 0x01;
    Bytes split = {0x09, 0xE0, 0x06, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x00};
    // A tail that belongs to nothing, sent in one piece with the answer: by
    // the time that answer has been read, the tail is waiting on the link.
    Bytes with_stale_tail = {0x09, 0xE0, 0x06, 0x03, 0x01, 0x00, 0x00, 0x00,
                             0x00, 0x09, 0xE0, 0x06, 0x66, 0x66, 0x66};
    Bytes last = {0x09, 0xE0, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x00};
    LoopbackReceiver r({answer(long_answer), Reply{Reply::Answer, split, 3, 300},
                        answer(with_stale_tail), answer(last)});
    open(r);
    struct Expect {
        unsigned char code;
        Bytes value;
    };
    const Expect expected[] = {{0x01, {0x77, 0x77, 0x77, 0x77}},
                               {0x02, {0xAA, 0xBB, 0xCC, 0xDD}},
                               {0x03, {0x01, 0x00, 0x00, 0x00}},
                               {0x04, {0x04, 0x00, 0x00, 0x00}}};
    for (const Expect &e : expected) {
        unsigned char report[7] = {0x02, e.code};
        Output o = capture([&] { EXPECT_EQ(HID_Write_Data(report), 1); });
        EXPECT_EQ(o.err, "") << int(e.code);
        char buf[64] = {0};
        ASSERT_EQ(HID_Read_Data(buf), 7) << int(e.code);
        EXPECT_EQ(static_cast<unsigned char>(buf[1]), e.code);
        EXPECT_EQ(Bytes(buf + 2, buf + 6), e.value) << int(e.code);
    }
    close_tcp();
    EXPECT_EQ(r.finish().size(), 4u);
}

TEST_F(TcpLink, LongAnswerHandsOnlyItsFirst32Bytes) {
    Bytes long_answer(40);
    for (size_t i = 0; i < long_answer.size(); i++)
        long_answer[i] = static_cast<unsigned char>(i);
    long_answer[0] = 40;
    long_answer[1] = 0xE0;
    LoopbackReceiver r({answer(long_answer)});
    open(r);
    const unsigned char sample_rate[9] = {0x09, 0x00, 0xB8, 0x00, 0x00, 0x80, 0xBB, 0x00, 0x00};
    tcp_answer got;
    EXPECT_EQ(tcp_exchange(sample_rate, 9, &got), 0);
    EXPECT_EQ(Bytes(got.bytes, got.bytes + got.size),
              Bytes(long_answer.begin(), long_answer.begin() + 32));
}

TEST_F(TcpLink, SilentReceiverFailsWithinTheAnswerBound) {
    LoopbackReceiver r({Reply{Reply::Silent, {}, 0, 0}});
    open(r);
    auto start = std::chrono::steady_clock::now();
    Output o = capture([] { EXPECT_EQ(tcp_send_frequency(7000000, 0), -1); });
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_EQ(o.err, code_line("recv", ETIMEDOUT));
    EXPECT_GE(ms, TCP_ANSWER_TIMEOUT_MS - 50);
    EXPECT_LT(ms, TCP_ANSWER_TIMEOUT_MS + 1000);
    // A time-out, and the link is down now: the next message fails at once.
    EXPECT_EQ(tcp_last_result(), FE_TIMED_OUT);
    EXPECT_EQ(HID_Link_Down(), 1);
    o = capture([] { EXPECT_EQ(tcp_send_frequency(7000000, 0), -1); });
    EXPECT_EQ(o.err, code_line("send", EBADF));
    EXPECT_EQ(tcp_last_result(), FE_LINK_FAILED);
}

// The receiver answers one message and closes on the second: that message
// fails to receive, every later one fails to send, and nothing goes to the
// file that takes over the socket's old descriptor number.
TEST_F(TcpLink, ClosedLinkFailsEveryLaterMessageAndWritesNowhereElse) {
    LoopbackReceiver r({answer(CONTROL_ANSWER), Reply{Reply::Close, {}, 0, 0}});
    open(r);
    EXPECT_EQ(tcp_send_frequency(1000, 0), 0);
    EXPECT_EQ(tcp_last_result(), FE_ANSWERED);
    EXPECT_EQ(HID_Link_Down(), 0);
    Output o = capture([] { EXPECT_EQ(tcp_send_frequency(2000, 0), -1); });
    EXPECT_EQ(o.err, code_line("recv", 0));
    EXPECT_EQ(tcp_last_result(), FE_LINK_FAILED);
    EXPECT_EQ(HID_Link_Down(), 1);

    char path[] = "/tmp/kestrel-tcp-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    o = capture([] {
        EXPECT_EQ(tcp_send_frequency(3000, 0), -1);
        unsigned char report[7] = {0x02, 0x5D};
        EXPECT_EQ(HID_Write_Data(report), 1);
        EXPECT_EQ(read_ack_quiet().result, FE_LINK_FAILED);
    });
    EXPECT_EQ(o.err, code_line("send", EBADF) + code_line("send", EBADF));
    EXPECT_EQ(lseek(file, 0, SEEK_END), 0);
    close(file);
    unlink(path);
    EXPECT_EQ(r.finish().size(), 2u);
}

// A message to a receiver that reset the connection fails; the process is
// not killed by a broken-pipe signal.
TEST_F(TcpLink, ResetReceiverFailsWithoutKillingTheProcess) {
    LoopbackReceiver r({Reply{Reply::Reset, {}, 0, 0}});
    open(r);
    Output o = capture([] { EXPECT_EQ(tcp_send_frequency(1000, 0), -1); });
    EXPECT_EQ(o.err.rfind("Client: recv() failed: error ", 0), 0u) << o.err;
    r.finish();

    // The platform send alone, repeated into the reset connection.
    uint16_t port;
    int l = loopback::listen_on(1, &port);
    plat_tcp s;
    ASSERT_TRUE(plat_tcp_create(&s));
    ASSERT_TRUE(plat_tcp_connect(&s, htonl(INADDR_LOOPBACK), port, 1000));
    int peer = accept(l, nullptr, nullptr);
    linger lg{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(peer);
    close(l);
    ASSERT_TRUE(wait_readable(s.fd, SERVER_WAIT_MS)); // the reset has arrived
    int failures = 0;
    for (int i = 0; i < 4; i++) {
        unsigned char b[9] = {9};
        if (!plat_tcp_send_all(&s, b, sizeof b, plat_monotonic_ms() + 1000))
            failures++;
    }
    EXPECT_GE(failures, 3); // and we are still here
    plat_tcp_close(&s);
}

// The hint after a failed connect: the address, the port and the reason.
std::string connect_hint(uint16_t port, const std::string &reason) {
    return "kestrel: no connection to 127.0.0.1 port " + std::to_string(port) + ": " + reason +
           (reason == "timed out" ? ": nothing answered" : ": nothing listens at that port") +
           "; check that the receiver is on and connected, and its address and port "
           "(-T<address> -P<port>)\n";
}

TEST_F(TcpLink, RefusedConnectionFails) {
    uint16_t port;
    int l = loopback::listen_on(1, &port);
    close(l); // nothing listens there now
    Output o = capture([&] { EXPECT_EQ(open_tcp_connection("127.0.0.1", port), -1); });
    EXPECT_EQ(o.out, "SO_KEEPALIVE is OFF\n");
    EXPECT_EQ(o.err, "Cannot connect to  SDR!\n\r" + connect_hint(port, "connection refused"));
    EXPECT_EQ(hid_tcp_network_flag, 0);
    // The failed link sends nothing and says so.
    o = capture([] { EXPECT_EQ(tcp_send_sample_rate(96000), -1); });
    EXPECT_EQ(o.err, code_line("send", EBADF));
}

TEST_F(TcpLink, UnreadableAddressIsNotContacted) {
    const char *bad[] = {"", "localhost", "127.0.0.1.5", "300.1.1.1", "127.0.0.1x"};
    for (const char *a : bad) {
        Output o = capture([&] { EXPECT_EQ(open_tcp_connection(a, 50000), -1) << a; });
        EXPECT_EQ(o.err, "Cannot connect to  SDR!\n\rkestrel: \"" + std::string(a) +
                             "\" is not an IPv4 address, so no connection was tried: give the "
                             "receiver's address as -T<a.b.c.d> and its port as -P<port>\n")
            << a;
    }
}

TEST_F(TcpLink, OnlyTheLow16BitsOfThePortCount) {
    LoopbackReceiver r({answer(CONTROL_ANSWER)});
    Output o = capture([&] { EXPECT_EQ(open_tcp_connection("127.0.0.1", 65536 + r.port()), 0); });
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(tcp_set_udp_rx_state(2), 0);
    close_tcp();
    EXPECT_EQ(r.finish().size(), 1u);
}

// A receiver whose queue of waiting connections is full never answers the
// connect; the open gives up after its bound.
TEST_F(TcpLink, ConnectThatIsNeverAnsweredFailsWithinTheConnectBound) {
    uint16_t port;
    int l = loopback::listen_on(0, &port);
    ASSERT_GE(l, 0);
    // Fill the queue: connections until one is left hanging.
    std::vector<int> fillers;
    bool hanging = false;
    for (int i = 0; i < 4 && !hanging; i++) {
        int c = loopback::connect_to(port, SOCK_NONBLOCK);
        pollfd p{c, POLLOUT, 0};
        hanging = poll(&p, 1, 200) == 0;
        fillers.push_back(c);
    }
    if (!hanging) {
        for (int c : fillers)
            close(c);
        close(l);
        GTEST_SKIP() << "this system answers every connect to a full queue";
    }
    auto start = std::chrono::steady_clock::now();
    Output o = capture([&] { EXPECT_EQ(open_tcp_connection("127.0.0.1", port), -1); });
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_EQ(o.err, "Cannot connect to  SDR!\n\r" + connect_hint(port, "timed out"));
    EXPECT_GE(ms, TCP_CONNECT_TIMEOUT_MS - 50);
    EXPECT_LT(ms, TCP_CONNECT_TIMEOUT_MS + 1000);
    for (int c : fillers)
        close(c);
    close(l);
}

TEST_F(TcpLink, WriteWithoutAMessageOrOverlongMessage) {
    // A null block sends nothing and reports "nothing to send".
    EXPECT_EQ(TCP_write(nullptr, 9), 1);

    // A message longer than the send block goes out cut to 1024 bytes.
    std::vector<unsigned char> big(2000, 0x55);
    big[0] = 0x00; // header: length 1024, type 0
    big[1] = 0x04;
    LoopbackReceiver r({answer(CONTROL_ANSWER)});
    open(r);
    EXPECT_EQ(TCP_write(nullptr, 9), 1);
    EXPECT_EQ(TCP_write(big.data(), 2000), 0);
    close_tcp();
    const std::vector<Bytes> &got = r.finish();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Bytes(big.begin(), big.begin() + 1024));
    EXPECT_TRUE(r.trailing().empty());
}

// Before any socket exists, nothing is written anywhere, in particular not
// to descriptor 0. Run in a fresh process, where the link was never opened.
// Sends two messages with descriptor 0 turned into a pipe, and ends the
// process with 0 when both reported "no socket" and the pipe stayed empty.
[[noreturn]] void send_without_socket_and_exit() {
    int p[2];
    if (pipe(p) != 0 || dup2(p[1], 0) < 0)
        _exit(2);
    fcntl(p[0], F_SETFL, O_NONBLOCK);
    unsigned char msg[9] = {0x09, 0xE0, 0x02, 0x5D};
    int r1 = TCP_write(msg, 9);
    int r2 = tcp_send_frequency(14100000, 0);
    char c;
    bool wrote = read(p[0], &c, 1) > 0;
    _exit(r1 == 0 && r2 == 0 && !wrote ? 0 : 1);
}

// Before any socket exists, nothing is written anywhere, in particular not
// to descriptor 0. Run in a fresh process, where the link was never opened.
TEST(TcpLinkFresh, NoSocketMeansNothingIsWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(send_without_socket_and_exit(), testing::ExitedWithCode(0), "");
}

} // namespace
