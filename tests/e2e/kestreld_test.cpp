// SPDX-License-Identifier: MIT
// kestreld against clients that were written elsewhere (Hamlib's rigctl,
// Hamlib's Python binding) and against a raw client that behaves like
// gpredict. Every check also looks at the simulated receiver.
#include "harness.h"
#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <poll.h>
#include <sys/wait.h>

using namespace e2e;

namespace {

// A port p where p and p+1 are both free now.
int free_port_pair() {
    for (int tries = 0; tries < 50; tries++) {
        uint16_t port = 0;
        int first = loopback::listen_on(1, &port);
        sockaddr_in next = loopback::address(static_cast<uint16_t>(port + 1));
        int second = socket(AF_INET, SOCK_STREAM, 0);
        bool pair =
            port < 65535 && bind(second, reinterpret_cast<sockaddr *>(&next), sizeof next) == 0;
        close(first);
        close(second);
        if (pair)
            return port;
    }
    return 0;
}

// A socket connected to [::1]:port, or -1.
int connect_v6(int port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One connection (to 127.0.0.1, or [::1]); each request gets one receive,
// as gpredict reads.
class Client {
  public:
    explicit Client(int port, bool v6 = false)
        : fd_(v6 ? connect_v6(port) : loopback::connect_to(static_cast<uint16_t>(port))) {
        EXPECT_GE(fd_, 0);
    }
    ~Client() { close(fd_); }
    void end_sending() { shutdown(fd_, SHUT_WR); }
    void send_text(const std::string &text) {
        EXPECT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size()));
    }
    std::string receive(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        char buf[65536];
        if (poll(&p, 1, timeout_ms) != 1)
            return "(no reply)";
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "(closed)";
    }
    std::string ask(const std::string &line, int timeout_ms = 1000) {
        send_text(line + "\n");
        return receive(timeout_ms);
    }

  private:
    int fd_;
};

long ms_since(std::chrono::steady_clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
            .count());
}

// The receiver simulated on 127.0.0.1 (or, without .tcp, its drive) and
// kestreld serving it.
struct Served {
    explicit Served(MsdOptions options = {.tcp = true})
        : sim(options),
          server(options.tcp ? std::vector<std::string>{"-T127.0.0.1",
                                                        "-P" + std::to_string(sim.tcp_port())}
                             : std::vector<std::string>{drive_option(sim.drive())}) {}
    MsdSim sim;
    Kestreld server;
};

struct Row {
    std::string request;
    std::string reply;
    std::string key; // simulated receiver state after the request ("" : no report sent)
    std::string value;
};

// The receiver state that a row expects; no report at all for key "".
void check_receiver(const Served &s, const Row &row, size_t reports_before) {
    if (row.key.empty())
        EXPECT_EQ(s.sim.request_lines().size(), reports_before) << row.request;
    else
        EXPECT_EQ(s.sim.state(row.key), row.value) << row.request;
}

const std::vector<Row> client_rows = {
    {"F 7100000", "", "freq.0", "7100000"},
    {"f", "7100000\n", "freq.0", "7100000"},
    {"L RF 1", "", "rfgain.0", "120"},
    {"l RF", "1.000000\n", "rfgain.0", "120"},
    {"L RF 0.4", "", "rfgain.0", "48"},
    // The receiver's AGC state says channels 0 and 1: channel 1 keeps its AGC.
    {"L AGC 6", "", "agc_mask", "3"},
    {"l AGC", "6\n", "", ""},
    {"L AGC 0", "", "agc_mask", "2"},
    {"M LSB 1800", "", "", ""},
    {"m", "LSB\n1800\n", "", ""},
    {"M CW 0", "", "", ""}, // the mode's normal width, as the state dump gives it
    {"m", "CW\n500\n", "", ""},
    {"v", "VFOA\n", "", ""},
};

TEST(Kestreld, HamlibRigctl) {
    Served s;
    for (const Row &row : client_rows) {
        size_t before = s.sim.request_lines().size();
        std::vector<std::string> args = {"-m", "2", "-r",
                                         "127.0.0.1:" + std::to_string(s.server.port())};
        for (size_t at = 0, end; at < row.request.size(); at = end + 1) {
            end = row.request.find(' ', at);
            end = end == std::string::npos ? row.request.size() : end;
            args.push_back(row.request.substr(at, end - at));
        }
        RunResult r = run_process("/usr/bin/rigctl", args, {.timeout_ms = 5000});
        EXPECT_EQ(r.out, row.reply) << row.request << "\n" << r.err;
        EXPECT_LT(r.elapsed_ms, 3000) << row.request;
        // rigctl's own start-up asks (f, v, s, m ...) reach the receiver too
        if (!row.key.empty())
            check_receiver(s, row, before);
    }
    // rigctl shows these errors at once, also with no receiver (-6 it takes
    // for a broken link to kestreld: it reconnects and says nothing).
    uint16_t unused = 0;
    close(loopback::listen_on(1, &unused));
    Kestreld none({"-T127.0.0.1", "-P" + std::to_string(unused)});
    for (auto [port, ask, says] : {std::tuple(s.server.port(), "t", "\nFeature not available\n"),
                                   std::tuple(none.port(), "f", "\nRig is not powered on\n")}) {
        RunResult t = run_process("/usr/bin/rigctl",
                                  {"-m", "2", "-r", "127.0.0.1:" + std::to_string(port), ask},
                                  {.timeout_ms = 5000});
        EXPECT_NE(t.out.find(says), std::string::npos) << t.out;
        EXPECT_LT(t.elapsed_ms, 900) << ask;
    }
}

TEST(Kestreld, HamlibPython) {
    Served s;
    const std::string script = R"(
import sys, Hamlib
Hamlib.rig_set_debug(Hamlib.RIG_DEBUG_NONE)
r = Hamlib.Rig(Hamlib.RIG_MODEL_NETRIGCTL)
r.set_conf("rig_pathname", "127.0.0.1:" + sys.argv[1])
r.open()
r.set_freq(Hamlib.RIG_VFO_CURR, 7200000)
r.set_level("RF", 0.2)
rf = r.get_level_f("RF")
r.set_level("AGC", 6)
r.set_mode(Hamlib.RIG_MODE_CW, 500)
print(int(r.get_freq()), "%.6f" % rf, r.get_level_i("AGC"), r.get_mode(), r.get_vfo() == Hamlib.RIG_VFO_A)
r.get_ptt()
print(r.error_status)
r.close()
)";
    RunResult r = run_process("/usr/bin/python3", {"-c", script, std::to_string(s.server.port())},
                              {.timeout_ms = 10000});
    EXPECT_EQ(r.out, "7200000 0.200000 6 [2, 500] True\n-11\n") << r.err;
    EXPECT_LT(r.elapsed_ms, 5000);
    EXPECT_EQ(s.sim.state("freq.0"), "7200000");
    EXPECT_EQ(s.sim.state("rfgain.0"), "24");
    EXPECT_EQ(s.sim.state("agc_mask"), "3"); // channel 1 keeps the AGC the receiver gave it
}

// gpredict's way: set_vfo_opt, chk_vfo, frequencies with two blanks, AOS and
// LOS, one receive per command, set replies starting with "RPRT 0".
// Over TCP and over the drive.
TEST(Kestreld, GpredictLikeClient) {
    for (bool tcp : {true, false}) {
        Served s({.tcp = tcp});
        Client c(s.server.port());
        EXPECT_EQ(c.ask("\\set_vfo_opt 1").rfind("RPRT 0", 0), 0u);
        EXPECT_EQ(c.ask("\\chk_vfo"), "0\n");
        EXPECT_EQ(c.ask("AOS").rfind("RPRT 0", 0), 0u);
        for (const char *hz : {"145800000", "145799123", "437800000"}) {
            EXPECT_EQ(c.ask(std::string("F  ") + hz).rfind("RPRT 0", 0), 0u) << tcp;
            EXPECT_EQ(s.sim.state("freq.0"), hz);
            EXPECT_EQ(c.ask("f"), std::string(hz) + "\n");
        }
        EXPECT_EQ(c.ask("LOS").rfind("RPRT 0", 0), 0u);
    }
}

// Answers whose wrong form breaks a client's open or leaves it waiting;
// each must come whole in one receive, within a second.
TEST(Kestreld, KnownTraps) {
    Served s;
    Client c(s.server.port());
    const std::vector<Row> rows = {
        {"\\get_powerstat", "1\n"},
        {"\\chk_vfo", "0\n"},
        {"\\get_lock_mode", "0\nRPRT 0\n"},
        {"t", "RPRT -11\n"},
        {"T 1", "RPRT -11\n"},
        {"\\halt", "RPRT -11\n"},
        {"+\\get_freq", "get_freq:\nRPRT -11\n"}, // nothing set, the receiver says 0: never 0
        {";F 14100000.000000", "set_freq: 14100000.000000;RPRT 0\n"},
        {"|f", "get_freq:|Frequency: 14100000|RPRT 0\n"},
        {",\\get_mode", "get_mode:,Mode: USB,Passband: 2400,RPRT 0\n"},
        {"M RTTYR 0", "RPRT 0\n"}, // its first filter in the state dump
        {"m", "RTTYR\n500\n"},
        {"+s", "get_split_vfo:\nSplit: 0\nTX VFO: VFOA\nRPRT 0\n"},
    };
    for (const Row &row : rows) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.ask(row.request), row.reply) << row.request;
        EXPECT_LT(ms_since(start), 1000) << row.request;
    }
    std::string dump = c.ask("\\dump_state");
    EXPECT_EQ(dump.rfind("1\n", 0), 0u);
    EXPECT_NE(dump.find("\n1.000000 4294967295.000000 "), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nhas_get_vfo=1\n"), std::string::npos);
    EXPECT_EQ(dump.substr(dump.size() - 6), "\ndone\n");
    EXPECT_EQ(dump.find('\r'), std::string::npos);
    EXPECT_EQ(s.sim.state("freq.0"), "14100000");
    // A script that sends its lines and closes its side still gets every reply.
    Client script(s.server.port());
    script.send_text("F 7000000\nf\n");
    script.end_sending();
    std::string replies = script.receive(1000);
    if (replies.size() < 15)
        replies += script.receive(1000);
    EXPECT_EQ(replies, "RPRT 0\n7000000\n");
}

TEST(Kestreld, FrequenciesRefusedOrRounded) {
    Served s;
    Client c(s.server.port());
    const std::vector<Row> rows = {
        {"F 7000000.6", "RPRT 0\n", "freq.0", "7000001"},
        {"F 0", "RPRT -1\n", "freq.0", "7000001"},
        {"F -7000000", "RPRT -1\n", "freq.0", "7000001"},
        {"F 4294967296", "RPRT -1\n", "freq.0", "7000001"},
        {"F 0x1000", "RPRT -1\n", "freq.0", "7000001"},
        {"F 4294967295", "RPRT 0\n", "freq.0", "4294967295"},
        {"L RF 1.5", "RPRT -1\n", "rfgain.0", "64"},
        {"L AGC 3", "RPRT -1\n", "agc_mask", "0"},
        {"M NONSENSE 2400", "RPRT -1\n", "", ""},
        {"V VFOB", "RPRT -1\n", "", ""},
        // A NUL byte inside a line: refused whole, nothing sent.
        {std::string("F 1410\0 5000000", 15), "RPRT -1\n", "", ""},
        {std::string("F\0GARBAGE 3500000", 17), "RPRT -1\n", "", ""},
        {std::string("\\set_freq\0xyz", 14), "RPRT -1\n", "", ""},
        {std::string("L RF\0AGC 0.2", 12), "RPRT -1\n", "", ""},
    };
    for (const Row &row : rows) {
        size_t before = s.sim.request_lines().size();
        EXPECT_EQ(c.ask(row.request), row.reply) << row.request;
        check_receiver(s, row, before);
    }
}

// A silent receiver costs one bound; a broken link answers -20 and is opened
// again by the next request.
TEST(Kestreld, ReceiverFaults) {
    {
        Served s({.faults = {.silent = true}, .tcp = true});
        Client c(s.server.port());
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.ask("l RF", 5000), "RPRT -5\n");
        EXPECT_LT(ms_since(start), 3500);
    }
    {
        // A receiver whose answers say no frequency: f gives the last one set.
        Served s({.faults = {.answer_code = 7}, .tcp = true});
        Client c(s.server.port());
        EXPECT_EQ(c.ask("f"), "RPRT -11\n");
        EXPECT_EQ(c.ask("F 7010000"), "RPRT 0\n");
        EXPECT_EQ(c.ask("f"), "7010000\n");
    }
    {
        HidSim hid; // over USB the bound is 1 s; the setting reached the receiver
        hid.add_device({.faults = {.silent = true}});
        Kestreld server({}, hid.env());
        Client c(server.port());
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.ask("F 7000000", 3000), "RPRT -5\n");
        EXPECT_LT(ms_since(start), 1500);
        EXPECT_EQ(hid.state("freq.0"), "7000000");
    }
    {
        // Answers that come after the bound, over the drive and USB HID: a
        // reply is its own request's answer or a time-out, never the one
        // before it (the frequency answer read as RF gain 0).
        MsdSim drive({.faults = {.delay_ms = 1300}, .state = {{"rfgain.0", "64"}}});
        HidSim hid;
        hid.add_device({.faults = {.delay_ms = 1300}, .state = {{"rfgain.0", "64"}}});
        Kestreld over_drive({"-P" + drive.drive() + "/"}), over_usb({}, hid.env());
        for (Kestreld *server : {&over_drive, &over_usb}) {
            Client c(server->port());
            EXPECT_EQ(c.ask("F 7000000", 5000), "RPRT -5\n");
            for (int i = 0; i < 2; i++) {
                std::string reply = c.ask("l RF", 5000);
                EXPECT_TRUE(reply == "RPRT -5\n" || reply == "0.533333\n") << reply;
            }
        }
    }
    Served s({.tcp = true, .tcp_faults = {.close_after = 1}});
    Client c(s.server.port());
    EXPECT_EQ(c.ask("F 7000000"), "RPRT 0\n");
    EXPECT_EQ(c.ask("L RF 1"), "RPRT -20\n");
    EXPECT_EQ(c.ask("F 7050000"), "RPRT 0\n");
    EXPECT_EQ(s.sim.state("freq.0"), "7050000");
}

// An endless line, three clients streaming one without pause, and a
// client that never reads hold nobody else up.
TEST(Kestreld, GreedyClientsStallNobody) {
    Served s;
    Client endless(s.server.port()), deaf(s.server.port()), polite(s.server.port());
    endless.send_text(std::string(200000, 'F'));
    std::string dumps;
    for (int i = 0; i < 200; i++)
        dumps += "\\dump_state\n";
    for (int i = 0; i < 20; i++)
        deaf.send_text(dumps);
    std::atomic<bool> streaming = true;
    std::vector<std::thread> streamers;
    for (int i = 0; i < 3; i++)
        streamers.emplace_back(
            [&, fd = loopback::connect_to(static_cast<uint16_t>(s.server.port()))] {
                const std::string chunk(65536, 'F');
                timeval bound{0, 200000};
                setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
                while (streaming)
                    send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                close(fd);
            });
    for (int i = 0; i < 5; i++) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(polite.ask("F " + std::to_string(7000000 + i)), "RPRT 0\n");
        EXPECT_LT(ms_since(start), 1000);
    }
    streaming = false;
    for (std::thread &t : streamers)
        t.join();
    EXPECT_EQ(s.sim.state("freq.0"), "7000004");
    // Its 200000 bytes are taken a buffer at a time: under wine, on a busy
    // machine, that may take more than a second.
    EXPECT_EQ(endless.ask("", 5000), "RPRT -1\n");
}

// A line left unfinished past the idle limit is closed; with every slot
// taken, a new client takes the slot of the longest-idle client past the
// limit, and is refused (and logged) while none is.
TEST(Kestreld, IdleClientsGiveWay) {
    MsdSim sim({.tcp = true});
    Kestreld server({"-T127.0.0.1", "-P" + std::to_string(sim.tcp_port()), "--test-idle-ms=1000"});
    Client partial(server.port());
    partial.send_text("F 70");
    EXPECT_EQ(partial.receive(3000), "(closed)");
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 32; i++)
        idle.push_back(std::make_unique<Client>(server.port()));
    EXPECT_EQ(idle[0]->ask("v"), "VFOA\n"); // all 32 slots taken
    Client refused(server.port());
    EXPECT_EQ(refused.receive(1000), "(closed)");
    EXPECT_NE(server.log().find("kestreld: all 32 client slots are taken"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(idle[0]->ask("v"), "VFOA\n"); // heard from again: idle[1] is the longest idle
    Client late(server.port());
    EXPECT_EQ(late.ask("F 7000000"), "RPRT 0\n");
    EXPECT_EQ(idle[1]->receive(1000), "(closed)");
    EXPECT_EQ(idle[2]->ask("f"), "7000000\n");
}

// After a stop (SIGTERM; Ctrl-C on Windows) no new exchange starts: against
// a silent receiver, eight clients with requests queued cost one exchange
// bound, not eight.
TEST(Kestreld, StopBeginsNoNewExchange) {
    Served s({.faults = {.silent = true}, .tcp = true});
    std::vector<std::unique_ptr<Client>> queued;
    for (int i = 0; i < 8; i++) {
        queued.push_back(std::make_unique<Client>(s.server.port()));
        queued.back()->send_text("F 7000000\nF 7100000\n");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    size_t sent = s.sim.request_lines().size();
    auto start = std::chrono::steady_clock::now();
    s.server.stop();
    EXPECT_LT(ms_since(start), 4000);
    EXPECT_EQ(s.sim.request_lines().size(), sent);
}

// SIGINT and SIGHUP stop it as SIGTERM does; SIGUSR1 and SIGALRM are ignored.
TEST(Kestreld, Signals) {
    for (int sig : {SIGINT, SIGHUP}) {
        Served s;
        s.server.stop(sig); // status 0 within the stop's bound
    }
    Served s;
    Client c(s.server.port());
    for (int sig : {SIGUSR1, SIGALRM}) {
        s.server.signal(sig);
        EXPECT_EQ(c.ask("F 7000000"), "RPRT 0\n") << sig;
    }
}

// Started with standard input, output and error closed, as a script or a
// service manager may start it: they are opened on /dev/null before the
// drive files, which would otherwise take them, and the log with them.
TEST(Kestreld, ClosedStandardDescriptors) {
    MsdSim msd;
    uint16_t port = 0;
    close(loopback::listen_on(1, &port));
    std::string binary = kestreld_binary(), drive = "-P" + msd.drive(),
                listen = "127.0.0.1:" + std::to_string(port);
    pid_t pid = fork();
    if (pid == 0) {
        close(0), close(1), close(2);
        execl(binary.c_str(), binary.c_str(), drive.c_str(), "--listen", listen.c_str(), nullptr);
        _exit(127);
    }
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0;
         i++, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        fd = loopback::connect_to(port);
    close(fd);
    for (int std_fd = 0; std_fd <= 2; std_fd++) {
        char link[256] = {0};
        std::string fd_path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(std_fd);
        EXPECT_GT(readlink(fd_path.c_str(), link, sizeof link - 1), 0) << std_fd;
        EXPECT_STREQ(link, "/dev/null") << std_fd;
    }
    {
        Client c(port);
        EXPECT_EQ(c.ask("F 7000000"), "RPRT 0\n");
        EXPECT_EQ(msd.state("freq.0"), "7000000");
    }
    kill(pid, SIGTERM);
    int status = -1;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
}

} // namespace

// Over USB HID: a receiver unplugged fails the link, and once it is back
// the next request opens it again.
TEST(Kestreld, UsbReceiverUnpluggedAndBack) {
    HidSim hid;
    const std::string gone = hid.dir().file("unplugged");
    hid.add_device({.unplugged = gone});
    Kestreld server({}, hid.env());
    Client c(server.port());
    EXPECT_EQ(c.ask("F 7000000"), "RPRT 0\n");
    EXPECT_EQ(hid.state("freq.0"), "7000000");
    hid.dir().write("unplugged", "");
    EXPECT_EQ(c.ask("F 7100000"), "RPRT -20\n");
    EXPECT_EQ(c.ask("l RF"), "RPRT -20\n");
    std::remove(gone.c_str());
    EXPECT_EQ(c.ask("F 7200000"), "RPRT 0\n");
    EXPECT_EQ(hid.state("freq.0"), "7200000");
}

// Channel n on port PORT+n: each client's settings reach its own channel,
// and the AGC of the others stays as the receiver had it.
TEST(Kestreld, ChannelPerPort) {
    MsdSim sim({.state = {{"agc_state", "0xD"}}, .tcp = true});
    int port = free_port_pair();
    Kestreld server({"-T127.0.0.1", "-P" + std::to_string(sim.tcp_port()), "--listen",
                     "127.0.0.1:" + std::to_string(port), "--channels", "2"});
    Client ch0(port), ch1(port + 1);
    EXPECT_EQ(ch1.ask("F 7300000"), "RPRT 0\n");
    EXPECT_EQ(ch1.ask("L RF 1"), "RPRT 0\n");
    EXPECT_EQ(ch1.ask("L AGC 6"), "RPRT 0\n");
    EXPECT_EQ(ch0.ask("F 7100000"), "RPRT 0\n");
    EXPECT_EQ(ch1.ask("f"), "7300000\n");
    EXPECT_EQ(ch0.ask("l AGC"), "6\n");
    const std::vector<std::pair<std::string, std::string>> want = {{"freq.0", "7100000"},
                                                                   {"freq.1", "7300000"},
                                                                   {"rfgain.0", "64"},
                                                                   {"rfgain.1", "120"},
                                                                   {"agc_mask", "15"}};
    for (const auto &[key, value] : want)
        EXPECT_EQ(sim.state(key), value) << key;
    // The port alone, as rigctld takes it; the port given last is used.
    uint16_t other = 0;
    close(loopback::listen_on(1, &other));
    const std::string p = std::to_string(other);
    for (const auto &form :
         std::vector<std::vector<std::string>>{{"-t", p},
                                               {"-t" + p},
                                               {"--port", p},
                                               {"--port=" + p},
                                               {"-t1", "--listen=127.0.0.1:" + p}})
        EXPECT_EQ(Kestreld(form).port(), other) << form[0];
}

// Where kestreld listens: IPv4 or IPv6 loopback, echoed in the ready line,
// and a loopback client is served whatever --allow says.
TEST(Kestreld, ListenAddresses) {
    MsdSim sim({.tcp = true});
    const struct {
        std::vector<std::string> args;
        std::string serving;
    } rows[] = {
        {{"--allow", "10.0.0.0/8"}, "127.0.0.1:"},
        {{"--listen", "[::1]:0", "--allow", "fd00::/8", "--allow", "10.0.0.0/8"}, "[::1]:"},
        {{"--listen", "[::1]:4532", "-t0"}, "[::1]:"}, // -t: --listen's address, the last port
    };
    int khz = 7000;
    for (const auto &row : rows) {
        const bool v6 = row.serving[0] == '[';
        if (v6) {
            const int probe = socket(AF_INET6, SOCK_STREAM, 0);
            sockaddr_in6 a{.sin6_family = AF_INET6, .sin6_addr = in6addr_loopback};
            const bool bound = bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            close(probe);
            if (!bound)
                continue; // no IPv6 loopback on this machine
        }
        std::vector<std::string> args = {"-T127.0.0.1", "-P" + std::to_string(sim.tcp_port())};
        args.insert(args.end(), row.args.begin(), row.args.end());
        Kestreld server(args);
        // Followed by \r\n on Windows.
        const std::string serving =
            "kestreld: serving " + row.serving + std::to_string(server.port()) + " channels 1";
        EXPECT_EQ(server.ready_line().rfind(serving, 0), 0u) << server.ready_line();
        Client c(server.port(), v6);
        khz += 100;
        EXPECT_EQ(c.ask("F " + std::to_string(khz) + "000"), "RPRT 0\n") << row.serving;
        EXPECT_EQ(sim.state("freq.0"), std::to_string(khz) + "000");
    }
}

// Command lines that cannot be served end at once: 2 for a bad one, 1 when
// the address cannot be listened on, which is said in words.
TEST(Kestreld, CommandLinesRefused) {
    uint16_t taken = 0;
    int busy = loopback::listen_on(1, &taken);
    struct Refused {
        std::vector<std::string> args;
        int status;
        std::string says = "";
        bool on_windows = true; // wine's command line is always wide: no byte is invalid
    };
    const std::string in_use = "kestreld: cannot listen on 127.0.0.1:" + std::to_string(taken) +
                               ": the port is in use by another program\n";
    const std::vector<Refused> rows = {
        {{"--channels", "5"}, 2},
        {{"--listen", "127.0.0.1"}, 2},
        {{"--listen", "127.0.0.1:65535", "--channels", "2"}, 2},
        {{"-X"}, 2},
        {{"-N\xff"}, 2, "", false},
        {{"--listen", "127.1:4532"}, 2},
        {{"--listen", "0x7f000001:4532"}, 2},
        {{"--listen", "2130706433:4532"}, 2},
        {{"--listen", "127.0.0.01:4532"}, 2},
        {{"--listen", "255.255.255.255:4532"}, 2},
        {{"--listen", "127.0.0.1 :4532"}, 2},
        {{"--listen", "[::1]"}, 2},
        {{"--listen", "[::1"}, 2},
        {{"--listen", "::1:4532"}, 2},
        {{"--listen", "[zz]:1"}, 2},
        {{"--listen", "[127.0.0.1]:4532"}, 2},
        {{"--listen", "[::ffff:127.0.0.1]:4532"}, 2},
        {{"--listen", "[ff02::1]:4532"}, 2},
        {{"--allow", "10.0.0.1/8"}, 2},
        {{"--allow", "10.0.0.0"}, 2},
        {{"--allow", "10.0.0.0/33"}, 2},
        {{"--allow", "10.0.0.0/08"}, 2},
        {{"--allow", "fd00::/129"}, 2},
        {{"--test-idle-ms=0"}, 2},
        {{"-T127.0.0.1", "-P65536"}, 2},
        {{"-T127.0.0.1", "-P115535"}, 2},
        {{"-t"}, 2},
        {{"-t", "65536"}, 2},
        {{"-t+4532"}, 2},
        {{"--port", "4532x"},
         2,
         "kestreld: --port 4532x: the port is a whole number from 0 to 65535\n"},
        {{"--listen", "127.0.0.1:" + std::to_string(taken)}, 1, in_use},
    };
    for (const Refused &row : rows) {
        if (windows_target() && !row.on_windows)
            continue;
        RunResult r = run_kestreld(row.args, {.timeout_ms = 10000});
        EXPECT_EQ(r.status, row.status) << row.args[0] << " " << r.err;
        EXPECT_EQ(r.out, "");
        if (!row.says.empty()) {
            EXPECT_EQ(r.err, row.says);
        }
    }
    close(busy);
}
