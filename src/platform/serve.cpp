// SPDX-License-Identifier: MIT
// The server sockets' moves that never wait, for every system, over the
// system's single calls (system.h).
#include "platform/serve.h"

#include "platform/diagnose.h"
#include "platform/system.h"

#include <cstring>

bool plat_ip_is_loopback(const plat_ip *a) {
    static const uint8_t v6_loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const uint8_t v4_mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (!a->v6)
        return a->bytes[0] == 127;
    return memcmp(a->bytes, v6_loopback, 16) == 0 ||
           (memcmp(a->bytes, v4_mapped, 12) == 0 && a->bytes[12] == 127);
}

bool plat_ip_in_network(const plat_ip *a, const plat_ip *net, unsigned bits) {
    if (a->v6 != net->v6)
        return false;
    const unsigned length = a->v6 ? 128 : 32;
    if (bits > length)
        bits = length;
    const unsigned whole = bits / 8, rest = bits % 8;
    if (memcmp(a->bytes, net->bytes, whole) != 0)
        return false;
    const unsigned mask = (0xff00u >> rest) & 0xffu;
    return rest == 0 || ((a->bytes[whole] ^ net->bytes[whole]) & mask) == 0;
}

bool plat_listen(plat_tcp *s, uint32_t addr_be, uint16_t port) {
    plat_ip a;
    memcpy(a.bytes, &addr_be, sizeof addr_be);
    return plat_listen_on(s, &a, port);
}

int plat_accept(plat_tcp *listener, plat_tcp *client) {
    return plat_accept_from(listener, client, nullptr);
}

const char *plat_listen_error_text(long code) {
    switch (plat_error_kind_of(code)) {
    case PLAT_ERROR_PORT_IN_USE:
        return "the port is in use by another program";
    case PLAT_ERROR_NOT_LOCAL:
        return "the address is not one of this machine's";
    default:
        return plat_error_text(code);
    }
}

long plat_recv_now(plat_tcp *s, void *data, size_t size) {
    if (!plat_tcp_is_open(s))
        return -2;
    long n;
    while ((n = plat_sock_recv(s, data, size)) < 0 && plat_sock_interrupted()) {
    }
    return n >= 0 ? n : plat_sock_would_block() ? -1 : -2;
}

long plat_send_now(plat_tcp *s, const void *data, size_t size) {
    if (!plat_tcp_is_open(s))
        return -1;
    long n;
    while ((n = plat_sock_send(s, data, size)) < 0 && plat_sock_interrupted()) {
    }
    return n >= 0 ? n : plat_sock_would_block() ? 0 : -1;
}
