// SPDX-License-Identifier: MIT
// POSIX sockets: the socket's life and options, and the single calls that
// the portable loops (socket.cpp) are made of. The socket is switched to
// non-blocking mode once it exists; a wait is one poll().
#include "platform/net.h"

#include "platform/system.h"

#include <cerrno>
#include <climits>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool closed_socket(const plat_tcp *s) {
    if (s->fd >= 0)
        return false;
    errno = EBADF;
    return true;
}

} // namespace

bool plat_tcp_create(plat_tcp *s) {
    s->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s->fd < 0)
        return false;
    int flags = fcntl(s->fd, F_GETFL);
    if (flags < 0 || fcntl(s->fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        int saved = errno;
        plat_tcp_close(s);
        errno = saved;
        return false;
    }
    return true;
}

bool plat_tcp_is_open(const plat_tcp *s) {
    return s->fd >= 0;
}

bool plat_tcp_get_keepalive(plat_tcp *s, int *value) {
    if (closed_socket(s))
        return false;
    int v = 0;
    socklen_t len = sizeof v;
    if (getsockopt(s->fd, SOL_SOCKET, SO_KEEPALIVE, &v, &len) != 0)
        return false;
    *value = v;
    return true;
}

bool plat_tcp_set_keepalive(plat_tcp *s, int value) {
    if (closed_socket(s))
        return false;
    return setsockopt(s->fd, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value) == 0;
}

int plat_sock_wait(const plat_tcp *s, bool for_write, uint64_t timeout_ms) {
    pollfd p{s->fd, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
    int r = poll(&p, 1, timeout_ms > INT_MAX ? INT_MAX : static_cast<int>(timeout_ms));
    return r > 0 ? 1 : r;
}

long plat_sock_send(plat_tcp *s, const void *data, size_t size) {
    return static_cast<long>(send(s->fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long plat_sock_recv(plat_tcp *s, void *data, size_t size) {
    return static_cast<long>(recv(s->fd, data, size, MSG_DONTWAIT));
}

bool plat_sock_would_block(void) {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool plat_sock_interrupted(void) {
    return errno == EINTR;
}

int plat_sock_connect_start(plat_tcp *s, uint32_t addr_be, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr_be;
    if (connect(s->fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
        return 1;
    return errno == EINPROGRESS || errno == EINTR ? 0 : -1;
}

bool plat_sock_connect_result(plat_tcp *s) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return false;
    errno = err;
    return err == 0;
}

void plat_tcp_close(plat_tcp *s) {
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
}
