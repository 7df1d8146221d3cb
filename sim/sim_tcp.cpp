// SPDX-License-Identifier: MIT
// The networked receiver's TCP link. Every message starts with a 16-bit
// header, low byte first: bits 0-12 the length of the whole message, header
// included, bits 13-15 the message type. Type 7 tunnels a front-end report
// from byte 2 on and is answered with a type-7 message that carries the
// answer report from byte 2 on. Type 0 sets a control item (code in bytes
// 2-3) and is answered with a 4-byte type-0 message echoing the item code.
// Every message gets one answer, unless the receiver is silent.
//
// Every message is logged whole as it arrived ("tcp-in"), and every answer
// as it is sent ("tcp-out"). The link's own faults (TcpFaults) close the
// connection after a number of messages, pad answers beyond what the
// utility reads at once, or send them in two parts with a pause between.
#include <cerrno>
#include <cstring>
#include <deque>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim_server.h"

namespace ksim {

namespace {

constexpr size_t MAX_MESSAGE = 0x1FFF;

struct Outgoing {
    std::vector<uint8_t> bytes;
    uint64_t ready_ms;
};

struct Client {
    int fd;
    std::vector<uint8_t> in;
    std::deque<Outgoing> out;
    bool closing = false;
    long messages = 0; // messages taken on this connection
};

bool parse_address(const std::string &text, sockaddr_in *addr) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon), port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long p = strtoul(port.c_str(), nullptr, 10);
    if (p > 65535)
        return false;
    memset(addr, 0, sizeof *addr);
    addr->sin_family = AF_INET;
    addr->sin_port = htons(static_cast<uint16_t>(p));
    return inet_pton(AF_INET, host.c_str(), &addr->sin_addr) == 1;
}

class TcpTransport : public Transport {
  public:
    explicit TcpTransport(SimContext &ctx) : ctx_(ctx) {}
    ~TcpTransport() override {
        for (Client &c : clients_)
            close(c.fd);
        if (listen_fd_ >= 0)
            close(listen_fd_);
    }

    bool start(const std::string &address, std::string *bound, std::string *error) {
        sockaddr_in addr{};
        if (!parse_address(address, &addr)) {
            *error = "bad TCP address " + address + " (want IPv4:PORT)";
            return false;
        }
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int one = 1;
        if (listen_fd_ < 0 ||
            setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
            bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            listen(listen_fd_, 8) != 0) {
            *error = "cannot listen on " + address + ": " + strerror(errno);
            return false;
        }
        socklen_t len = sizeof addr;
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        char host[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
        *bound = std::string(host) + ":" + std::to_string(ntohs(addr.sin_port));
        return true;
    }

    void prepare(std::vector<pollfd> &fds, int &timeout_ms) override {
        fds.push_back({listen_fd_, POLLIN, 0});
        uint64_t now = monotonic_ms();
        for (const Client &c : clients_) {
            short events = POLLIN;
            if (!c.out.empty()) {
                if (c.out.front().ready_ms <= now) {
                    events |= POLLOUT;
                } else {
                    int until = static_cast<int>(c.out.front().ready_ms - now);
                    if (timeout_ms < 0 || until < timeout_ms)
                        timeout_ms = until;
                }
            }
            fds.push_back({c.fd, events, 0});
        }
    }

    void service(const std::vector<pollfd> &fds) override {
        for (const pollfd &p : fds) {
            if (p.fd == listen_fd_ && (p.revents & POLLIN))
                accept_clients();
        }
        for (Client &c : clients_) {
            for (const pollfd &p : fds) {
                if (p.fd == c.fd && (p.revents & (POLLIN | POLLHUP | POLLERR)))
                    receive(c);
            }
            send_ready(c);
        }
        for (size_t i = 0; i < clients_.size();) {
            if (clients_[i].closing) {
                close(clients_[i].fd);
                clients_.erase(clients_.begin() + static_cast<long>(i));
            } else {
                i++;
            }
        }
    }

  private:
    void accept_clients() {
        for (;;) {
            int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            clients_.push_back(Client{fd, {}, {}});
        }
    }

    void receive(Client &c) {
        uint8_t buf[4096];
        bool peer_gone = false;
        for (;;) {
            ssize_t n = recv(c.fd, buf, sizeof buf, 0);
            if (n > 0) {
                c.in.insert(c.in.end(), buf, buf + n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                peer_gone = true;
            break;
        }
        // Whole messages that came before the connection ended are still
        // acted on, as a receiver would.
        while (!c.closing && c.in.size() >= 2) {
            size_t length = static_cast<size_t>((c.in[0] | (c.in[1] << 8)) & MAX_MESSAGE);
            if (length < 2) {
                c.closing = true; // no message is shorter than its header
                break;
            }
            if (c.in.size() < length)
                break;
            std::vector<uint8_t> message(c.in.begin(), c.in.begin() + static_cast<long>(length));
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(length));
            handle_message(c, message);
        }
        if (peer_gone)
            c.closing = true;
    }

    void handle_message(Client &c, const std::vector<uint8_t> &m) {
        ctx_.log_other("tcp-in", m.data(), m.size());
        const TcpFaults &tf = ctx_.tcp_faults;
        if (tf.close_after >= 0 && ++c.messages > tf.close_after) {
            c.closing = true; // read whole, never answered: the connection just ends
            return;
        }
        const int type = m[1] >> 5;
        uint64_t ready = monotonic_ms() + static_cast<uint64_t>(ctx_.rx.faults.delay_ms);
        if (type == 7) {
            std::vector<Answer> answers = ctx_.take_request("tcp", m.data() + 2, m.size() - 2);
            for (const Answer &a : answers) {
                std::vector<uint8_t> reply(2 + a.size());
                reply[0] = static_cast<uint8_t>(reply.size());
                reply[1] = 0xE0;
                memcpy(reply.data() + 2, a.data(), a.size());
                queue_answer(c, reply, ready);
            }
            return;
        }
        ctx_.log_other("tcp-control", m.data(), m.size());
        uint16_t code = m.size() >= 4 ? static_cast<uint16_t>(m[2] | (m[3] << 8)) : 0;
        apply_control(code, m);
        if (!ctx_.state_out.empty())
            dump_file(ctx_.rx, ctx_.state_out);
        if (ctx_.rx.faults.silent)
            return;
        queue_answer(c, {4, 0x00, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)},
                     ready);
    }

    // Queues one answer, padded and split as the link's faults say.
    void queue_answer(Client &c, std::vector<uint8_t> reply, uint64_t ready) {
        const TcpFaults &tf = ctx_.tcp_faults;
        if (tf.answer_length > 0 && static_cast<size_t>(tf.answer_length) > reply.size()) {
            size_t length = static_cast<size_t>(tf.answer_length);
            reply.resize(length, 0);
            reply[0] = static_cast<uint8_t>(length);
            reply[1] = static_cast<uint8_t>((reply[1] & 0xE0) | ((length >> 8) & 0x1F));
        }
        ctx_.log_other("tcp-out", reply.data(), reply.size());
        if (tf.split_ms < 0 || reply.size() < 2) {
            c.out.push_back({reply, ready});
            return;
        }
        const long half = static_cast<long>(reply.size() / 2);
        c.out.push_back({std::vector<uint8_t>(reply.begin(), reply.begin() + half), ready});
        c.out.push_back({std::vector<uint8_t>(reply.begin() + half, reply.end()),
                         ready + static_cast<uint64_t>(tf.split_ms)});
    }

    // Control items: frequency (0x20), sample rate (0xB8), data stream
    // (0x18: 2 runs it, 1 stops it) and RF gain in dB (0x38).
    void apply_control(uint16_t code, const std::vector<uint8_t> &m) {
        Receiver &rx = ctx_.rx;
        if (code == 0x0020 && m.size() >= 9) {
            if (m[4] < 4)
                rx.set("freq." + std::to_string(m[4]), std::to_string(u32_at(m.data(), 5)));
        } else if (code == 0x00B8 && m.size() >= 9) {
            rx.set("sample_rate", std::to_string(u32_at(m.data(), 5)));
        } else if (code == 0x0018 && m.size() >= 6) {
            if (m[5] == 2 || m[5] == 1)
                rx.set("stream", m[5] == 2 ? "1" : "0");
        } else if (code == 0x0038 && m.size() >= 6) {
            int db = static_cast<int8_t>(m[5]);
            int gain_code = (db + 10) * 8 / 3; // the 3 dB grid of the RF gain codes
            if (m[4] < 4)
                rx.set("rfgain." + std::to_string(m[4]),
                       std::to_string(static_cast<uint8_t>(gain_code)));
        }
    }

    void send_ready(Client &c) {
        uint64_t now = monotonic_ms();
        while (!c.closing && !c.out.empty() && c.out.front().ready_ms <= now) {
            Outgoing &o = c.out.front();
            ssize_t n = send(c.fd, o.bytes.data(), o.bytes.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    c.closing = true;
                return;
            }
            o.bytes.erase(o.bytes.begin(), o.bytes.begin() + n);
            if (!o.bytes.empty())
                return;
            c.out.pop_front();
        }
    }

    SimContext &ctx_;
    int listen_fd_ = -1;
    std::vector<Client> clients_;
};

} // namespace

std::unique_ptr<Transport> make_tcp_transport(SimContext &ctx, const std::string &address,
                                              std::string *bound, std::string *error) {
    auto t = std::make_unique<TcpTransport>(ctx);
    if (!t->start(address, bound, error))
        return nullptr;
    return t;
}

} // namespace ksim
