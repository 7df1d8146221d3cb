// SPDX-License-Identifier: MIT
// POSIX server sockets (listening, taking connections, waiting on many),
// IPv6 address text, and the stop signals. The stop signals are blocked
// except inside ppoll(), so a stop that arrives while a request is being
// executed ends the next wait at once and is never lost.
#include "platform/serve.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "platform/socket_address.h"

namespace {

volatile sig_atomic_t stop_requested = 0;
sigset_t wait_mask; // the mask in force while waiting: the stop signals let through

void on_stop_signal(int) {
    stop_requested = 1;
}

} // namespace

bool plat_ipv6_parse(const char *text, uint8_t bytes[16]) {
    in6_addr a{};
    if (text == nullptr || inet_pton(AF_INET6, text, &a) != 1)
        return false;
    memcpy(bytes, &a, 16);
    return true;
}

void plat_ip_text(const plat_ip *a, char *out, size_t size) {
    char text[INET6_ADDRSTRLEN];
    if (inet_ntop(a->v6 ? AF_INET6 : AF_INET, a->bytes, text, sizeof text) == nullptr ||
        strlen(text) >= size)
        snprintf(out, size, "?");
    else
        snprintf(out, size, "%s", text);
}

bool plat_listen_on(plat_tcp *s, const plat_ip *addr, uint16_t port) {
    s->fd = socket(addr->v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s->fd < 0)
        return false;
    int one = 1;
    sockaddr_storage sa;
    const auto sa_len = static_cast<socklen_t>(plat_detail::socket_address(addr, port, &sa));
    // An IPv6 listener takes IPv6 clients only: IPv4 ones would reach it
    // from addresses that --allow and the loopback test read as IPv6.
    // The queue of connections not yet taken holds a burst of clients
    // while the server is busy with an exchange.
    if (setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        (addr->v6 && setsockopt(s->fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) ||
        bind(s->fd, reinterpret_cast<sockaddr *>(&sa), sa_len) != 0 ||
        listen(s->fd, SOMAXCONN) != 0) {
        int saved = errno;
        plat_tcp_close(s);
        errno = saved;
        return false;
    }
    return true;
}

uint16_t plat_local_port(plat_tcp *s) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s->fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return 0;
    return plat_detail::port_of(sa);
}

int plat_accept_from(plat_tcp *listener, plat_tcp *client, plat_ip *peer) {
    for (;;) {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        int fd = accept4(listener->fd, reinterpret_cast<sockaddr *>(&sa), &len,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            int one = 1;
            // Replies are small and each is written at once: no delay.
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            client->fd = fd;
            if (peer != nullptr)
                *peer = plat_detail::address_of(sa);
            return 1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

// SIGHUP (the terminal of "kestreld &" closed) stops like SIGTERM.
const int stop_signals[] = {SIGTERM, SIGINT, SIGHUP};
// Signals that would end the process and mean nothing to a server.
const int ignored_signals[] = {SIGPIPE, SIGUSR1, SIGALRM};

bool plat_stop_signals_install(void) {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : stop_signals)
        sigaddset(&stops, sig);
    sigset_t old;
    if (sigprocmask(SIG_BLOCK, &stops, &old) != 0)
        return false;
    wait_mask = old;
    for (int sig : stop_signals)
        if (sigdelset(&wait_mask, sig) != 0 || sigaction(sig, &sa, nullptr) != 0)
            return false;
    for (int sig : ignored_signals)
        if (sigaction(sig, &ignore, nullptr) != 0)
            return false;
    return true;
}

bool plat_stop_requested(void) {
    // A stop signal that came outside the wait is still held back: it
    // counts as soon as it is there, so that no new request is begun.
    sigset_t pending;
    if (stop_requested == 0 && sigpending(&pending) == 0)
        for (int sig : stop_signals)
            if (sigismember(&pending, sig) == 1)
                stop_requested = 1;
    return stop_requested != 0;
}

int plat_serve_wait(plat_wait_item *items, size_t count, int timeout_ms) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; i++) {
        short events = 0;
        if (items[i].want_read)
            events |= POLLIN;
        if (items[i].want_write)
            events |= POLLOUT;
        fds[i] = pollfd{items[i].sock != nullptr ? items[i].sock->fd : -1, events, 0};
        items[i].readable = items[i].writable = false;
    }
    if (stop_requested)
        return 0;
    timespec ts{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
    int r = ppoll(fds.data(), fds.size(), timeout_ms < 0 ? nullptr : &ts, &wait_mask);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    for (size_t i = 0; i < count; i++) {
        short got = fds[i].revents;
        items[i].readable = (got & (POLLIN | POLLHUP | POLLERR)) != 0 && items[i].want_read;
        items[i].writable = (got & (POLLOUT | POLLERR)) != 0 && items[i].want_write;
    }
    return r;
}
