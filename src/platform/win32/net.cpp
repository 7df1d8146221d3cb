// Win32 implementation of the TCP client sockets (Winsock). The socket is
// switched to non-blocking mode once it exists; every wait is a select()
// with what is left of its deadline. Winsock raises no signal when the peer
// has gone: a send then simply fails. Error codes are Winsock's, the same
// that plat_last_error() returns.
#include "platform/net.h"

#include "platform/platform.h"

#include <climits>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mstcpip.h>
#include <windows.h>

namespace {

SOCKET sock_of(const plat_tcp *s) {
    return static_cast<SOCKET>(s->handle);
}

// Waits until the socket can be written (`for_write`) or read, or the
// deadline passes. Returns true when ready; an error on the socket counts as
// ready (the next call reports it). False with the time-out code otherwise.
bool wait_ready(SOCKET sock, bool for_write, uint64_t deadline_ms) {
    for (;;) {
        uint64_t now = plat_monotonic_ms();
        uint64_t left = now >= deadline_ms ? 0 : deadline_ms - now;
        if (left > static_cast<uint64_t>(INT_MAX))
            left = INT_MAX;
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(sock, &ready);
        FD_SET(sock, &failed); // a connect that failed shows here, not as writable
        timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        int r = select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr, &failed, &tv);
        if (r > 0)
            return true;
        if (r < 0)
            return false;
        if (plat_monotonic_ms() < deadline_ms)
            continue; // woke early: wait for the rest
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
}

bool closed_socket(const plat_tcp *s) {
    if (s->handle != INVALID_SOCKET)
        return false;
    WSASetLastError(WSAENOTSOCK);
    return true;
}

} // namespace

int plat_socket_startup(void) {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void plat_socket_cleanup(void) {
    WSACleanup();
}

bool plat_ipv4_parse(const char *text, uint32_t *addr_be) {
    if (text == nullptr)
        return false;
    // Not strict: the classic short, octal and hexadecimal forms are read.
    char *end = nullptr;
    IN_ADDR a{};
    if (RtlIpv4StringToAddressA(text, FALSE, &end, &a) != 0 || end == nullptr || *end != '\0')
        return false;
    *addr_be = a.S_un.S_addr;
    return true;
}

bool plat_tcp_create(plat_tcp *s) {
    SOCKET sock = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                             WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    s->handle = sock;
    if (sock == INVALID_SOCKET)
        return false;
    u_long nonblocking = 1;
    if (ioctlsocket(sock, FIONBIO, &nonblocking) != 0) {
        int saved = WSAGetLastError();
        plat_tcp_close(s);
        WSASetLastError(saved);
        return false;
    }
    return true;
}

bool plat_tcp_is_open(const plat_tcp *s) {
    return s->handle != INVALID_SOCKET;
}

bool plat_tcp_get_keepalive(plat_tcp *s, int *value) {
    if (closed_socket(s))
        return false;
    BOOL v = FALSE;
    int len = sizeof v;
    if (getsockopt(sock_of(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char *>(&v), &len) != 0)
        return false;
    *value = v ? 1 : 0;
    return true;
}

bool plat_tcp_set_keepalive(plat_tcp *s, int value) {
    if (closed_socket(s))
        return false;
    BOOL v = value != 0;
    return setsockopt(sock_of(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&v),
                      sizeof v) == 0;
}

bool plat_tcp_connect(plat_tcp *s, uint32_t addr_be, uint16_t port, unsigned timeout_ms) {
    if (closed_socket(s))
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr_be;
    const uint64_t deadline = plat_monotonic_ms() + timeout_ms;
    if (connect(sock_of(s), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    if (!wait_ready(sock_of(s), true, deadline))
        return false;
    int err = 0;
    int len = sizeof err;
    if (getsockopt(sock_of(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
        return false;
    if (err != 0) {
        WSASetLastError(err);
        return false;
    }
    return true;
}

bool plat_tcp_send_all(plat_tcp *s, const void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return false;
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        int chunk = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        int n = send(sock_of(s), p, chunk, 0);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!wait_ready(sock_of(s), true, deadline_ms))
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
    int chunk = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    for (;;) {
        if (!wait_ready(sock_of(s), false, deadline_ms))
            return -1;
        int n = recv(sock_of(s), static_cast<char *>(data), chunk, 0);
        if (n > 0)
            return n;
        if (n == 0) {
            WSASetLastError(0); // an orderly close carries no error code
            return 0;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return -1;
    }
}

long plat_tcp_recv_exact(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed_socket(s))
        return -1;
    char *p = static_cast<char *>(data);
    size_t got = 0;
    while (got < size) {
        size_t want = size - got;
        int chunk = want > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(want);
        int n = recv(sock_of(s), p + got, chunk, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            WSASetLastError(0); // an orderly close carries no error code
            return 0;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return -1;
        if (!wait_ready(sock_of(s), false, deadline_ms))
            return -1;
    }
    return static_cast<long>(size);
}

size_t plat_tcp_discard_pending(plat_tcp *s) {
    if (s->handle == INVALID_SOCKET)
        return 0;
    // A peer that never stops sending cannot hold the link here: at most
    // this much is dropped in one call. The socket does not block.
    constexpr size_t DISCARD_LIMIT = 65536;
    size_t dropped = 0;
    char sink[256];
    while (dropped < DISCARD_LIMIT) {
        int n = recv(sock_of(s), sink, sizeof sink, 0);
        if (n <= 0)
            return dropped; // nothing more waiting, the peer closed, or an error
        dropped += static_cast<size_t>(n);
    }
    return dropped;
}

void plat_tcp_close(plat_tcp *s) {
    if (s->handle != INVALID_SOCKET)
        closesocket(sock_of(s));
    s->handle = INVALID_SOCKET;
}
