// SPDX-License-Identifier: MIT
// TCP link to a networked receiver: control item messages, and the report
// tunnel, which is one of the connection's transports (fe_tcp_tunnel in
// fe_transport.h). The connection opens the link through that transport
// (open_tcp_connection in fe_interface.h).
#pragma once

#include <cstdint>

#include "fe_transport.h"

// Connects to `ip` (null: the default address) at the low 16 bits of
// `port`. Returns 0 when connected, -1 on failure, after its messages.
int tcp_open_link(const char *ip, int port);
void close_tcp(void);
// 1: the link prints none of kestrel's texts (for kestreld).
void tcp_set_console_quiet(int quiet);
// Closes the link and puts its state back to how a fresh process starts.
void tcp_reset_link_state(void);

// The first bytes of one answer message, as the link received them.
constexpr int TCP_ANSWER_BYTES = 32;
struct tcp_answer {
    int size = 0; // 0: no answer was received
    unsigned char bytes[TCP_ANSWER_BYTES] = {};
};

// Sends one message and receives its answer, which it hands to `answer`
// (when not null). Returns 0 when the message was sent and answered, 1 when
// there was nothing to send, 0 when no socket exists, -1 on a send or
// receive failure.
int tcp_exchange(const unsigned char *block, int size, tcp_answer *answer);
// tcp_exchange without the answer.
int TCP_write(const unsigned char *block, int size);
int tcp_send_frequency(uint32_t frequency, int channel);
int tcp_send_sample_rate(uint32_t sample_rate);
int tcp_set_udp_rx_state(uint8_t command);
int tcp_set_rf_gain_state(int channel, int8_t gain);
// How the last message's exchange ended: FE_ANSWERED, FE_TIMED_OUT or
// FE_LINK_FAILED (fe_transport.h). After a failure or a time-out the link is
// closed, and tcp_link_open() is false until it is opened again.
int tcp_last_result(void);
bool tcp_link_open(void);

// The tunnel's answer to the last report, kept until it is read; byte 0
// not zero marks it as not read yet.
extern unsigned char (&hid_tcp_packet)[TCP_ANSWER_BYTES];
// Keeps the first `size` bytes of `data` (at most 32) as the tunnel's
// answer, as if the link had received them; with a null `data` or a size of
// 0 or less nothing changes.
int hid_save_recieved_tcp_packet(char *data, int size);

// How long the link waits for the receiver. A receiver on the local network
// accepts a connection and answers a message within milliseconds; these
// bounds only keep a receiver that has gone silent, or an address where
// nothing answers, from holding the run. A connect that is not made within
// TCP_CONNECT_TIMEOUT_MS fails like a refused one; an answer that is not
// complete within TCP_ANSWER_TIMEOUT_MS of its message fails like a broken
// connection.
constexpr unsigned TCP_CONNECT_TIMEOUT_MS = 3000;
constexpr unsigned TCP_ANSWER_TIMEOUT_MS = 3000;
