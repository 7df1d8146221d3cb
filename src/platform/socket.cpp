// SPDX-License-Identifier: MIT
// The TCP client sockets' loops, for every system: each wait takes what is
// left of its deadline, a wait that wakes early waits for the rest, and a
// call broken by a signal is made again. The system's folder gives the
// single calls (system.h).
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace {

// Waits until the socket is ready or the deadline passes. True when ready;
// false with the last error set otherwise (the time-out code when the
// deadline passed).
bool wait_ready(const plat_tcp *s, bool for_write, uint64_t deadline_ms) {
    for (;;) {
        const uint64_t now = plat_monotonic_ms();
        int r = plat_sock_wait(s, for_write, now >= deadline_ms ? 0 : deadline_ms - now);
        if (r > 0)
            return true;
        if (r == 0) {
            if (plat_monotonic_ms() < deadline_ms)
                continue; // woke early: wait for the rest
            plat_set_condition(PLAT_TIMED_OUT);
            return false;
        }
        if (!plat_sock_interrupted())
            return false;
    }
}

bool closed_socket(const plat_tcp *s) {
    if (plat_tcp_is_open(s))
        return false;
    plat_set_condition(PLAT_NOT_A_SOCKET);
    return true;
}

// A failed single call that is worth making again, after a wait when the
// socket had nothing to give or take.
bool try_again(const plat_tcp *s, bool for_write, uint64_t deadline_ms) {
    if (plat_sock_interrupted())
        return true;
    return plat_sock_would_block() && wait_ready(s, for_write, deadline_ms);
}

} // namespace

bool plat_tcp_connect(plat_tcp *s, uint32_t addr_be, uint16_t port, unsigned timeout_ms) {
    if (closed_socket(s))
        return false;
    const uint64_t deadline = plat_monotonic_ms() + timeout_ms;
    const int started = plat_sock_connect_start(s, addr_be, port);
    if (started != 0)
        return started > 0;
    return wait_ready(s, true, deadline) && plat_sock_connect_result(s);
}

bool plat_tcp_send_all(plat_tcp *s, const void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return false;
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        long n = plat_sock_send(s, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (n == 0 || !try_again(s, true, deadline_ms)) {
            return false;
        }
    }
    return true;
}

long plat_tcp_recv_some(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return -1;
    for (;;) {
        if (!wait_ready(s, false, deadline_ms))
            return -1;
        long n = plat_sock_recv(s, data, size);
        if (n > 0)
            return n;
        if (n == 0) {
            plat_set_condition(PLAT_NO_ERROR); // an orderly close carries no error code
            return 0;
        }
        if (!plat_sock_interrupted() && !plat_sock_would_block())
            return -1;
    }
}

long plat_tcp_recv_exact(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return -1;
    char *p = static_cast<char *>(data);
    size_t got = 0;
    while (got < size) {
        long n = plat_sock_recv(s, p + got, size - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0) {
            plat_set_condition(PLAT_NO_ERROR); // an orderly close carries no error code
            return 0;
        } else if (!try_again(s, false, deadline_ms)) {
            return -1;
        }
    }
    return static_cast<long>(size);
}

size_t plat_tcp_discard_pending(plat_tcp *s) {
    if (!plat_tcp_is_open(s))
        return 0;
    // A peer that never stops sending cannot hold the link here: at most
    // this much is dropped in one call.
    constexpr size_t DISCARD_LIMIT = 65536;
    size_t dropped = 0;
    char sink[256];
    while (dropped < DISCARD_LIMIT) {
        long n = plat_sock_recv(s, sink, sizeof sink);
        if (n > 0)
            dropped += static_cast<size_t>(n);
        else if (n == 0 || !plat_sock_interrupted())
            break; // nothing more waiting, the peer closed, or an error: the exchange reports it
    }
    return dropped;
}
