// The server sockets' moves that never wait, for every system, over the
// system's single calls (system.h).
#include "platform/serve.h"

#include "platform/diagnose.h"
#include "platform/system.h"

bool plat_ipv4_is_loopback(uint32_t addr_be) {
    // The first byte in memory is the address's first part.
    return *reinterpret_cast<const unsigned char *>(&addr_be) == 127;
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
