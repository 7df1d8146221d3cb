// TCP link to a networked receiver: control item messages and the report
// tunnel.
#pragma once

#include <cstdint>

int open_tcp_connection(const char *ip, int port);
void close_tcp(void);
// 1: the link prints none of kestrel's texts (for kestreld).
void tcp_set_console_quiet(int quiet);
// Closes the link and puts its state back to how a fresh process starts.
void tcp_reset_link_state(void);
int TCP_write(const unsigned char *block, int size);
int tcp_send_hid_command(const unsigned char *block, int size);
int tcp_send_frequency(uint32_t frequency, int channel);
int tcp_send_sample_rate(uint32_t sample_rate);
int tcp_set_udp_rx_state(uint8_t command);
int tcp_set_rf_gain_state(int channel, int8_t gain);
// How the last message's exchange ended: FE_ANSWERED, FE_TIMED_OUT or
// FE_LINK_FAILED (fe_interface.h). After a failure or a time-out the link is
// closed, and tcp_link_open() is false until it is opened again.
int tcp_last_result(void);
bool tcp_link_open(void);
void tcp_set_pending_flag(void);
void tcp_clear_pending_flag(void);
int tcp_get_pending_flag(void);

// How long the link waits for the receiver. A receiver on the local network
// accepts a connection and answers a message within milliseconds; these
// bounds only keep a receiver that has gone silent, or an address where
// nothing answers, from holding the run. A connect that is not made within
// TCP_CONNECT_TIMEOUT_MS fails like a refused one; an answer that is not
// complete within TCP_ANSWER_TIMEOUT_MS of its message fails like a broken
// connection.
constexpr unsigned TCP_CONNECT_TIMEOUT_MS = 3000;
constexpr unsigned TCP_ANSWER_TIMEOUT_MS = 3000;
