// SPDX-License-Identifier: MIT
// The conversions between kestreld's listen and client addresses and the
// socket layer's address structures, which POSIX and Winsock lay out alike.
// Included by a system's serve.cpp after its socket headers.
#pragma once

#include <cstring>

#include "platform/serve.h"

namespace plat_detail {

// The socket address of a:port, and its length.
inline int socket_address(const plat_ip *a, uint16_t port, sockaddr_storage *sa) {
    *sa = sockaddr_storage{};
    if (a->v6) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(sa);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        memcpy(&v6->sin6_addr, a->bytes, 16);
        return static_cast<int>(sizeof *v6);
    }
    auto *v4 = reinterpret_cast<sockaddr_in *>(sa);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    memcpy(&v4->sin_addr, a->bytes, 4);
    return static_cast<int>(sizeof *v4);
}

// The address that a socket address holds (a client's, as accept gave it).
inline plat_ip address_of(const sockaddr_storage &sa) {
    plat_ip ip{};
    ip.v6 = sa.ss_family == AF_INET6;
    if (ip.v6)
        memcpy(ip.bytes, &reinterpret_cast<const sockaddr_in6 *>(&sa)->sin6_addr, 16);
    else
        memcpy(ip.bytes, &reinterpret_cast<const sockaddr_in *>(&sa)->sin_addr, 4);
    return ip;
}

// The port that a socket address holds.
inline uint16_t port_of(const sockaddr_storage &sa) {
    if (sa.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&sa)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&sa)->sin_port);
}

} // namespace plat_detail
