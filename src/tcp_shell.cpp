// TCP link to a networked receiver. (Not yet wired: every open fails.)
#include "tcp_shell.h"

#include <cstdio>

int open_tcp_connection(const char *, int) {
    fputs("Cannot connect to  SDR!\n\r", stderr);
    return -1;
}
void close_tcp(void) {}
int TCP_write(const unsigned char *, int) {
    return 0;
}
int tcp_send_hid_command(const unsigned char *block, int size) {
    return TCP_write(block, size);
}
int tcp_send_frequency(uint32_t, int) {
    return 0;
}
int tcp_send_sample_rate(uint32_t) {
    return 0;
}
int tcp_set_udp_rx_state(uint8_t) {
    return 0;
}
int tcp_set_rf_gain_state(int, int8_t) {
    return 0;
}
void tcp_set_pending_flag(void) {}
void tcp_clear_pending_flag(void) {}
int tcp_get_pending_flag(void) {
    return 0;
}
