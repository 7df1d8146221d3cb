// POSIX server sockets (listening, taking connections, waiting on many) and
// the stop signals. The stop
// signals are blocked except inside ppoll(), so a stop that arrives while a
// request is being executed ends the next wait at once and is never lost.
#include "platform/serve.h"

#include <cerrno>
#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

volatile sig_atomic_t stop_requested = 0;
sigset_t wait_mask; // the mask in force while waiting: the stop signals let through

void on_stop_signal(int) {
    stop_requested = 1;
}

} // namespace

bool plat_listen(plat_tcp *s, uint32_t addr_be, uint16_t port) {
    s->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s->fd < 0)
        return false;
    int one = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr_be;
    // The queue of connections not yet taken holds a burst of clients
    // while the server is busy with an exchange.
    if (setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(s->fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        listen(s->fd, SOMAXCONN) != 0) {
        int saved = errno;
        plat_tcp_close(s);
        errno = saved;
        return false;
    }
    return true;
}

uint16_t plat_local_port(plat_tcp *s) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s->fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

int plat_accept(plat_tcp *listener, plat_tcp *client) {
    for (;;) {
        int fd = accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            int one = 1;
            // Replies are small and each is written at once: no delay.
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            client->fd = fd;
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
