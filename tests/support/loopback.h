// SPDX-License-Identifier: MIT
// Loopback sockets for the tests, the fuzz targets and the benchmarks: a
// listener on 127.0.0.1 at a port the system picks, a client connected to a
// port on 127.0.0.1, and a port where nothing listens. Nothing here ever
// reaches beyond the loopback address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace loopback {

inline sockaddr_in address(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A socket listening on 127.0.0.1 with `backlog`; its port in `*port`.
// -1 when the system refuses.
inline int listen_on(int backlog, uint16_t *port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = address(0);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// A socket connected to 127.0.0.1:`port`, or -1. With SOCK_NONBLOCK in
// `type_flags` a connect still in progress counts as made.
inline int connect_to(uint16_t port, int type_flags = 0) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | type_flags, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = address(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

// A port on 127.0.0.1 where nothing listens (as long as nothing takes it
// meanwhile): one the system handed out and that was released again.
inline uint16_t unused_port() {
    uint16_t port = 0;
    int fd = listen_on(1, &port);
    if (fd >= 0)
        close(fd);
    return port;
}

} // namespace loopback
