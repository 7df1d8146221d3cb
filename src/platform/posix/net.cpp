// POSIX implementation of the TCP client sockets. The socket is switched to
// non-blocking mode once it exists; every wait is a poll() with what is left
// of its deadline.
#include "platform/net.h"

#include "platform/platform.h"

#include <cerrno>
#include <climits>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Milliseconds left until `deadline_ms`, clamped to what poll() takes.
int ms_left(uint64_t deadline_ms) {
    uint64_t now = plat_monotonic_ms();
    if (now >= deadline_ms)
        return 0;
    uint64_t left = deadline_ms - now;
    return left > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
}

// Waits until the socket is ready for `events` or the deadline passes.
// Returns true when ready (an error or hang-up on the socket counts as ready:
// the next call reports it); false with errno set otherwise.
bool wait_ready(int fd, short events, uint64_t deadline_ms) {
    for (;;) {
        pollfd p{fd, events, 0};
        int left = ms_left(deadline_ms);
        int r = poll(&p, 1, left);
        if (r > 0)
            return true;
        if (r == 0) {
            if (ms_left(deadline_ms) > 0)
                continue; // woke early: wait for the rest
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR)
            return false;
    }
}

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

bool plat_tcp_connect(plat_tcp *s, uint32_t addr_be, uint16_t port, unsigned timeout_ms) {
    if (closed_socket(s))
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr_be;
    const uint64_t deadline = plat_monotonic_ms() + timeout_ms;
    if (connect(s->fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    if (!wait_ready(s->fd, POLLOUT, deadline))
        return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return false;
    if (err != 0) {
        errno = err;
        return false;
    }
    return true;
}

bool plat_tcp_send_all(plat_tcp *s, const void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return false;
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = send(s->fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_ready(s->fd, POLLOUT, deadline_ms))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

long plat_tcp_recv_some(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return -1;
    for (;;) {
        if (!wait_ready(s->fd, POLLIN, deadline_ms))
            return -1;
        ssize_t n = recv(s->fd, data, size, 0);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0) {
            errno = 0; // an orderly close carries no error code
            return 0;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
}

long plat_tcp_recv_exact(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return -1;
    char *p = static_cast<char *>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n = recv(s->fd, p + got, size - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            errno = 0; // an orderly close carries no error code
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (!wait_ready(s->fd, POLLIN, deadline_ms))
            return -1;
    }
    return static_cast<long>(size);
}

size_t plat_tcp_discard_pending(plat_tcp *s) {
    if (s->fd < 0)
        return 0;
    // A peer that never stops sending cannot hold the link here: at most
    // this much is dropped in one call.
    constexpr size_t DISCARD_LIMIT = 65536;
    size_t dropped = 0;
    char sink[256];
    while (dropped < DISCARD_LIMIT) {
        ssize_t n = recv(s->fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return dropped; // nothing more waiting, the peer closed, or an error: the exchange reports
                        // it
    }
    return dropped;
}

void plat_tcp_close(plat_tcp *s) {
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
}
