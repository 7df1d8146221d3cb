// TCP link to a networked receiver: one connection, one message at a time.
// Control item messages set the frequency, sample rate, stream state and RF
// gain directly; report tunnel messages carry a front-end report, and the
// receiver's tunnel answer is handed back to the front-end connection.
//
// Every message is a 2-byte header (bits 0-12 the whole length, bits 13-15
// the type), low byte first, and a body. Each message is answered by exactly
// one message from the receiver, read whole inside the call that sent it.
#include "tcp_shell.h"

#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "fe_access_hint.h"
#include "fe_interface.h"
#include "main.h"
#include "platform/diagnose.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr size_t NET_BLOCK_SIZE = 32;
constexpr int MAX_MESSAGE = 1024;
constexpr unsigned char TYPE_CONTROL_ITEM = 0x00;
constexpr unsigned char TYPE_MASK = 0xE0; // the type bits in the header's second byte
constexpr uint16_t LENGTH_MASK = 0x1FFF;

// The link's whole state. Everything here starts as a fresh process has
// it, and tcp_reset_link_state() puts it back that way.
// The receiver's address and port, as given to the open.
uint32_t sdr_addr = 0;
uint16_t sdr_port = 0;
// The link's socket. `sdr_socket_made` tells "no socket was ever created"
// (messages are not sent at all) from "the socket is closed" (sdr_fd holds
// no descriptor, and every message fails to send).
plat_tcp sdr_fd;
bool sdr_socket_made = false;
unsigned char block[NET_BLOCK_SIZE];
unsigned char rx_block[NET_BLOCK_SIZE];
volatile int TCP_command_pending = 0;

// The message being sent; it stays here after a failed exchange.
unsigned char block_to_send[MAX_MESSAGE];
int size_to_send = 0;
// How the last exchange ended (fe_interface.h).
int last_result = FE_ANSWERED;
// 1: the link prints none of kestrel's texts.
bool console_quiet = false;

// Starts a control item message of `length` bytes in `block`.
void begin_control_item(int length, uint16_t control_code) {
    memset(block, 0, sizeof block);
    block[0] = static_cast<unsigned char>(length);
    block[1] = TYPE_CONTROL_ITEM;
    put_u16(block + 2, control_code);
}

// A send or receive failure (a time-out when `deadline` has passed): report
// it, and close the link so that every
// later message fails to send and nothing is written to a descriptor the
// system may hand out again.
int link_failed(const char *format, uint64_t deadline) {
    long code = plat_last_error();
    last_result = plat_monotonic_ms() >= deadline ? FE_TIMED_OUT : FE_LINK_FAILED;
    if (!console_quiet)
        fprintf(stderr, format, static_cast<int>(code));
    close_tcp();
    return -1;
}

// Reads one whole answer message: its header, then as many bytes as the
// header's length says. The first 32 bytes land in rx_block; the rest is
// read and dropped, and so is anything the first read brings in behind the
// message (it belongs to no message of ours). Returns the number of bytes
// kept (2 to 32), 0 when the receiver closed the connection, -1 on an error
// or time-out.
long receive_answer(uint64_t deadline) {
    // One read takes a whole ordinary answer; the loops below are for answers
    // that come in pieces or run past 32 bytes.
    long got = plat_tcp_recv_some(&sdr_fd, rx_block, NET_BLOCK_SIZE, deadline);
    if (got <= 0)
        return got;
    size_t have = static_cast<size_t>(got);
    if (have < 2) {
        long r = plat_tcp_recv_exact(&sdr_fd, rx_block + have, 2 - have, deadline);
        if (r <= 0)
            return r;
        have = 2;
    }
    size_t length = get_u16(rx_block) & LENGTH_MASK;
    if (length < 2)
        length = 2; // a length that does not even cover the header: take the header alone
    size_t kept = length < NET_BLOCK_SIZE ? length : NET_BLOCK_SIZE;
    if (have < kept) {
        long r = plat_tcp_recv_exact(&sdr_fd, rx_block + have, kept - have, deadline);
        if (r <= 0)
            return r;
        have = kept;
    }
    for (size_t left = length > have ? length - have : 0; left > 0;) {
        unsigned char sink[256];
        size_t n = left < sizeof sink ? left : sizeof sink;
        long r = plat_tcp_recv_exact(&sdr_fd, sink, n, deadline);
        if (r <= 0)
            return r;
        left -= n;
    }
    return static_cast<long>(kept);
}

} // namespace

int open_tcp_connection(const char *ip, int port) {
    int optval = 0;
    sdr_port = static_cast<uint16_t>(static_cast<unsigned>(port));
    bool address_read = plat_ipv4_parse(ip != nullptr ? ip : default_ip_address, &sdr_addr);

    close_tcp(); // a second open starts afresh
    sdr_socket_made = true;
    if (!plat_tcp_create(&sdr_fd)) {
        if (!console_quiet)
            fputs("Cannot open  TCP socket\n\r", stderr);
        return -1;
    }
    if (!plat_tcp_get_keepalive(&sdr_fd, &optval)) {
        if (!console_quiet)
            fprintf(stderr, "getsockopt(): %s\n", plat_error_text(plat_last_error()));
        optval = 0;
    }
    if (!console_quiet)
        printf("SO_KEEPALIVE is %s\n", optval ? "ON" : "OFF");
    if (!plat_tcp_set_keepalive(&sdr_fd, 1))
        if (!console_quiet)
            fprintf(stderr, "Cannot set keepalive otion!\n\r: %s\n",
                    plat_error_text(plat_last_error()));

    // Address text that is not an IPv4 address reaches nobody: no connect
    // is tried at all.
    if (!address_read || !plat_tcp_connect(&sdr_fd, sdr_addr, sdr_port, TCP_CONNECT_TIMEOUT_MS)) {
        long err = plat_last_error();
        if (!console_quiet) {
            fputs("Cannot connect to  SDR!\n\r", stderr);
            TCP_Open_Hint(ip != nullptr ? ip : default_ip_address, sdr_port, address_read, err);
        }
        close_tcp();
        return -1;
    }
    hid_change_tcp_network_flag(1);
    last_result = FE_ANSWERED;
    return 0;
}

void close_tcp(void) {
    plat_tcp_close(&sdr_fd);
}

void tcp_set_console_quiet(int quiet) {
    console_quiet = quiet != 0;
}

void tcp_reset_link_state(void) {
    close_tcp();
    console_quiet = false;
    sdr_addr = 0;
    sdr_port = 0;
    sdr_socket_made = false;
    memset(block, 0, sizeof block);
    memset(rx_block, 0, sizeof rx_block);
    TCP_command_pending = 0;
    memset(block_to_send, 0, sizeof block_to_send);
    size_to_send = 0;
    last_result = FE_ANSWERED;
}

int TCP_write(const unsigned char *data, int size) {
    if (size > 0) {
        size_to_send = size > MAX_MESSAGE - 1 ? MAX_MESSAGE : size;
        if (data == nullptr) {
            size_to_send = 0;
            return 1;
        }
        memcpy(block_to_send, data, static_cast<size_t>(size_to_send));
    }
    if (!sdr_socket_made) {
        last_result = FE_LINK_FAILED; // nothing was sent
        return 0;
    }
    if (size_to_send == 0)
        return 1;
    tcp_set_pending_flag();

    // Bytes already waiting belong to no message of ours (the tail of an
    // answer that was cut or came late): drop them so they cannot pass for
    // this message's answer.
    plat_tcp_discard_pending(&sdr_fd);

    const uint64_t deadline = plat_monotonic_ms() + TCP_ANSWER_TIMEOUT_MS;
    if (!plat_tcp_send_all(&sdr_fd, block_to_send, static_cast<size_t>(size_to_send), deadline))
        return link_failed("Client: send() failed: error %d.\n", deadline);
    long received = receive_answer(deadline);
    if (received <= 0)
        return link_failed("Client: recv() failed: error %d.\n", deadline);
    if ((rx_block[1] & TYPE_MASK) == TYPE_MASK)
        hid_save_recieved_tcp_packet(reinterpret_cast<char *>(rx_block),
                                     static_cast<int>(received));
    size_to_send = 0;
    last_result = FE_ANSWERED;
    return 0;
}

int tcp_send_hid_command(const unsigned char *data, int size) {
    return TCP_write(data, size);
}

int tcp_send_frequency(uint32_t frequency, int channel) {
    begin_control_item(10, 0x0020);
    block[4] = static_cast<unsigned char>(channel);
    put_u32(block + 5, frequency);
    block[9] = 0; // the frequency field is 5 bytes wide
    return TCP_write(block, 10);
}

int tcp_send_sample_rate(uint32_t sample_rate) {
    begin_control_item(9, 0x00B8);
    block[4] = 0;
    put_u32(block + 5, sample_rate);
    return TCP_write(block, 9);
}

int tcp_set_udp_rx_state(uint8_t command) {
    begin_control_item(8, 0x0018);
    block[4] = 0x80;
    block[5] = command;
    return TCP_write(block, 8);
}

int tcp_set_rf_gain_state(int channel, int8_t gain) {
    begin_control_item(6, 0x0038);
    block[4] = static_cast<unsigned char>(channel);
    block[5] = static_cast<unsigned char>(gain);
    return TCP_write(block, 6);
}

int tcp_last_result(void) {
    return last_result;
}

bool tcp_link_open(void) {
    return plat_tcp_is_open(&sdr_fd);
}

void tcp_set_pending_flag(void) {
    TCP_command_pending = 1;
}
void tcp_clear_pending_flag(void) {
    TCP_command_pending = 0;
}
int tcp_get_pending_flag(void) {
    return TCP_command_pending;
}
