// SPDX-License-Identifier: MIT
// TCP link to a networked receiver: one connection, one message at a time.
// Control item messages set the frequency, sample rate, stream state and RF
// gain directly; report tunnel messages carry a front-end report, and the
// receiver's answer to one comes back inside its answer message. The tunnel
// is one of the connection's transports (fe_tcp_tunnel).
//
// Every message is a 2-byte header (bits 0-12 the whole length, bits 13-15
// the type), low byte first, and a body. Each message is answered by exactly
// one message from the receiver, read whole inside the call that sent it.
#include "tcp_shell.h"

#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "fe_access_hint.h"
#include "main.h"
#include "platform/diagnose.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr size_t NET_BLOCK_SIZE = 32;
constexpr int MAX_MESSAGE = 1024;
constexpr unsigned char TYPE_CONTROL_ITEM = 0x00;
constexpr unsigned char TYPE_TUNNEL = 0xE0;
constexpr unsigned char TYPE_MASK = 0xE0; // the type bits in the header's second byte
constexpr uint16_t LENGTH_MASK = 0x1FFF;

// The link's whole state; a fresh process starts with it as it is here, and
// tcp_reset_link_state() puts it back that way.
struct link_state {
    // The receiver's address and port, as given to the open.
    uint32_t sdr_addr = 0;
    uint16_t sdr_port = 0;
    // The link's socket. `sdr_socket_made` tells "no socket was ever
    // created" (messages are not sent at all) from "the socket is closed"
    // (sdr_fd holds no descriptor, and every message fails to send).
    plat_tcp sdr_fd;
    bool sdr_socket_made = false;
    // The message being sent; it stays here after a failed exchange.
    unsigned char block_to_send[MAX_MESSAGE] = {};
    int size_to_send = 0;
    // How the last exchange ended (fe_transport.h), and why it failed.
    int last_result = FE_ANSWERED;
    char failure[64] = {};
    // The tunnel's answer to the last report, until it is read.
    unsigned char tunnel_answer[TCP_ANSWER_BYTES] = {};
    // true: the link prints none of kestrel's texts.
    bool console_quiet = false;
};

link_state net;

// Starts a control item message of `length` bytes in `block`.
void begin_control_item(unsigned char *block, int length, uint16_t control_code) {
    memset(block, 0, NET_BLOCK_SIZE);
    block[0] = static_cast<unsigned char>(length);
    block[1] = TYPE_CONTROL_ITEM;
    put_u16(block + 2, control_code);
}

// A send or receive failure (a time-out when `deadline` has passed): report
// it, and close the link so that every later message fails to send and
// nothing is written to a descriptor the system may hand out again.
int link_failed(const char *call, uint64_t deadline) {
    long code = plat_last_error();
    net.last_result = plat_monotonic_ms() >= deadline ? FE_TIMED_OUT : FE_LINK_FAILED;
    snprintf(net.failure, sizeof net.failure, "%s() failed: error %d", call,
             static_cast<int>(code));
    if (!net.console_quiet)
        fprintf(stderr, "Client: %s.\n", net.failure);
    close_tcp();
    return -1;
}

// Reads one whole answer message into `rx_block`: its header, then as many
// bytes as the header's length says. The first 32 bytes are kept; the rest
// is read and dropped, and so is anything the first read brings in behind
// the message (it belongs to no message of ours). Returns the number of
// bytes kept (2 to 32), 0 when the receiver closed the connection, -1 on an
// error or time-out.
long receive_answer(unsigned char *rx_block, uint64_t deadline) {
    // One read takes a whole ordinary answer; the loops below are for answers
    // that come in pieces or run past 32 bytes.
    long got = plat_tcp_recv_some(&net.sdr_fd, rx_block, NET_BLOCK_SIZE, deadline);
    if (got <= 0)
        return got;
    size_t have = static_cast<size_t>(got);
    if (have < 2) {
        long r = plat_tcp_recv_exact(&net.sdr_fd, rx_block + have, 2 - have, deadline);
        if (r <= 0)
            return r;
        have = 2;
    }
    size_t length = get_u16(rx_block) & LENGTH_MASK;
    if (length < 2)
        length = 2; // a length that does not even cover the header: take the header alone
    size_t kept = length < NET_BLOCK_SIZE ? length : NET_BLOCK_SIZE;
    if (have < kept) {
        long r = plat_tcp_recv_exact(&net.sdr_fd, rx_block + have, kept - have, deadline);
        if (r <= 0)
            return r;
        have = kept;
    }
    for (size_t left = length > have ? length - have : 0; left > 0;) {
        unsigned char sink[256];
        size_t n = left < sizeof sink ? left : sizeof sink;
        long r = plat_tcp_recv_exact(&net.sdr_fd, sink, n, deadline);
        if (r <= 0)
            return r;
        left -= n;
    }
    return static_cast<long>(kept);
}

// Keeps `size` bytes (at most 32) as the tunnel's answer; a message shorter
// than that keeps no bytes of an earlier one.
void keep_tunnel_answer(const unsigned char *data, size_t size) {
    size_t n = size < sizeof net.tunnel_answer ? size : sizeof net.tunnel_answer;
    memset(net.tunnel_answer, 0, sizeof net.tunnel_answer);
    memcpy(net.tunnel_answer, data, n);
}

// ---------------------------------------------------------------------------
// The report tunnel as a transport
// ---------------------------------------------------------------------------

int tunnel_open(const fe_endpoint *where, char *) {
    return tcp_open_link(where->address, where->port) == 0 ? 1 : 0;
}

// The report goes out inside a type-7 message; the answer message comes
// back inside the same exchange, and a type-7 one is kept for the read.
fe_io tunnel_write(const unsigned char *report, int size) {
    unsigned char message[16] = {0};
    size_t report_size = size < 0 ? 0 : size > 14 ? 14 : static_cast<size_t>(size);
    message[0] = static_cast<unsigned char>(report_size + 2);
    message[1] = TYPE_TUNNEL;
    memcpy(message + 2, report, report_size);
    // Only what the link receives for this report may be read as its answer.
    net.tunnel_answer[0] = 0;
    tcp_answer answer;
    tcp_exchange(message, static_cast<int>(report_size + 2), &answer);
    if (answer.size > 0 && (answer.bytes[1] & TYPE_MASK) == TYPE_MASK)
        keep_tunnel_answer(answer.bytes, static_cast<size_t>(answer.size));
    // The report counts as sent whatever the link did; its failure shows
    // in the exchange's result and in the read that follows.
    return {1, net.last_result};
}

fe_io tunnel_read(unsigned char *buf, int size, int) {
    if ((net.tunnel_answer[1] & TYPE_MASK) == TYPE_MASK && net.tunnel_answer[0] != 0 && size >= 0 &&
        size <= TCP_ANSWER_BYTES - 2) {
        memcpy(buf, net.tunnel_answer + 2, static_cast<size_t>(size));
        net.tunnel_answer[0] = 0;
        return {size, FE_ANSWERED};
    }
    // The link's own failure, or an answer that was no tunnel answer.
    return {0, net.last_result != FE_ANSWERED ? net.last_result : FE_TIMED_OUT};
}

// Bytes already waiting belong to no message of ours (the tail of an answer
// that was cut or came late).
void tunnel_drain(void) {
    plat_tcp_discard_pending(&net.sdr_fd);
}

const char *tunnel_failure(void) {
    return net.last_result == FE_ANSWERED ? "" : net.failure;
}

} // namespace

const fe_transport fe_tcp_tunnel = {
    "TCP tunnel", tunnel_open, tunnel_write, tunnel_read, tunnel_drain, close_tcp, tunnel_failure,
};

unsigned char (&hid_tcp_packet)[TCP_ANSWER_BYTES] = net.tunnel_answer;

int hid_save_recieved_tcp_packet(char *data, int size) {
    if (data != nullptr && size > 0)
        keep_tunnel_answer(reinterpret_cast<unsigned char *>(data), static_cast<size_t>(size));
    return 0;
}

int tcp_open_link(const char *ip, int port) {
    int optval = 0;
    net.sdr_port = static_cast<uint16_t>(static_cast<unsigned>(port));
    bool address_read = plat_ipv4_parse(ip != nullptr ? ip : default_ip_address, &net.sdr_addr);

    close_tcp(); // a second open starts afresh
    net.sdr_socket_made = true;
    if (!plat_tcp_create(&net.sdr_fd)) {
        if (!net.console_quiet)
            fputs("Cannot open  TCP socket\n\r", stderr);
        return -1;
    }
    if (!plat_tcp_get_keepalive(&net.sdr_fd, &optval)) {
        if (!net.console_quiet)
            fprintf(stderr, "getsockopt(): %s\n", plat_error_text(plat_last_error()));
        optval = 0;
    }
    if (!net.console_quiet)
        printf("SO_KEEPALIVE is %s\n", optval ? "ON" : "OFF");
    if (!plat_tcp_set_keepalive(&net.sdr_fd, 1))
        if (!net.console_quiet)
            fprintf(stderr, "Cannot set keepalive otion!\n\r: %s\n",
                    plat_error_text(plat_last_error()));

    // Address text that is not an IPv4 address reaches nobody: no connect
    // is tried at all.
    if (!address_read ||
        !plat_tcp_connect(&net.sdr_fd, net.sdr_addr, net.sdr_port, TCP_CONNECT_TIMEOUT_MS)) {
        long err = plat_last_error();
        if (!net.console_quiet) {
            fputs("Cannot connect to  SDR!\n\r", stderr);
            TCP_Open_Hint(ip != nullptr ? ip : default_ip_address, net.sdr_port, address_read, err);
        }
        close_tcp();
        return -1;
    }
    net.last_result = FE_ANSWERED;
    return 0;
}

void close_tcp(void) {
    plat_tcp_close(&net.sdr_fd);
}

void tcp_set_console_quiet(int quiet) {
    net.console_quiet = quiet != 0;
}

void tcp_reset_link_state(void) {
    close_tcp();
    net = link_state{};
}

int tcp_exchange(const unsigned char *data, int size, tcp_answer *answer) {
    if (answer != nullptr)
        answer->size = 0;
    if (size > 0) {
        net.size_to_send = size > MAX_MESSAGE - 1 ? MAX_MESSAGE : size;
        if (data == nullptr) {
            net.size_to_send = 0;
            return 1;
        }
        memcpy(net.block_to_send, data, static_cast<size_t>(net.size_to_send));
    }
    if (!net.sdr_socket_made) {
        net.last_result = FE_LINK_FAILED; // nothing was sent
        snprintf(net.failure, sizeof net.failure, "no connection was made");
        return 0;
    }
    if (net.size_to_send == 0)
        return 1;

    tunnel_drain(); // nothing stale may pass for this message's answer
    const uint64_t deadline = plat_monotonic_ms() + TCP_ANSWER_TIMEOUT_MS;
    if (!plat_tcp_send_all(&net.sdr_fd, net.block_to_send, static_cast<size_t>(net.size_to_send),
                           deadline))
        return link_failed("send", deadline);
    unsigned char rx_block[NET_BLOCK_SIZE];
    long received = receive_answer(rx_block, deadline);
    if (received <= 0)
        return link_failed("recv", deadline);
    if (answer != nullptr) {
        answer->size = static_cast<int>(received);
        memcpy(answer->bytes, rx_block, static_cast<size_t>(received));
    }
    net.size_to_send = 0;
    net.last_result = FE_ANSWERED;
    return 0;
}

int TCP_write(const unsigned char *data, int size) {
    return tcp_exchange(data, size, nullptr);
}

int tcp_send_frequency(uint32_t frequency, int channel) {
    unsigned char block[NET_BLOCK_SIZE];
    begin_control_item(block, 10, 0x0020);
    block[4] = static_cast<unsigned char>(channel);
    put_u32(block + 5, frequency);
    block[9] = 0; // the frequency field is 5 bytes wide
    return TCP_write(block, 10);
}

int tcp_send_sample_rate(uint32_t sample_rate) {
    unsigned char block[NET_BLOCK_SIZE];
    begin_control_item(block, 9, 0x00B8);
    block[4] = 0;
    put_u32(block + 5, sample_rate);
    return TCP_write(block, 9);
}

int tcp_set_udp_rx_state(uint8_t command) {
    unsigned char block[NET_BLOCK_SIZE];
    begin_control_item(block, 8, 0x0018);
    block[4] = 0x80;
    block[5] = command;
    return TCP_write(block, 8);
}

int tcp_set_rf_gain_state(int channel, int8_t gain) {
    unsigned char block[NET_BLOCK_SIZE];
    begin_control_item(block, 6, 0x0038);
    block[4] = static_cast<unsigned char>(channel);
    block[5] = static_cast<unsigned char>(gain);
    return TCP_write(block, 6);
}

int tcp_last_result(void) {
    return net.last_result;
}

bool tcp_link_open(void) {
    return plat_tcp_is_open(&net.sdr_fd);
}
