// SPDX-License-Identifier: MIT
// Win32 sockets (Winsock): the socket's life and options, and the single
// calls that the portable loops (socket.cpp) are made of. Winsock is started
// with the first socket and stopped when the run ends. The socket is
// switched to non-blocking mode once it exists; a wait is one select().
// Winsock raises no signal when the peer has gone: a send then simply fails.
// Error codes are Winsock's, the same that plat_last_error() returns.
#include "platform/net.h"

#include "platform/system.h"

#include <climits>
#include <cstdlib>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mstcpip.h>
#include <windows.h>

namespace {

SOCKET sock_of(const plat_tcp *s) {
    return static_cast<SOCKET>(s->handle);
}

bool closed_socket(const plat_tcp *s) {
    if (s->handle != INVALID_SOCKET)
        return false;
    WSASetLastError(WSAENOTSOCK);
    return true;
}

void stop_winsock(void) {
    WSACleanup();
}

// Winsock is started before the run's first socket and stopped at its end.
bool winsock_started(void) {
    static bool started = false;
    if (started)
        return true;
    WSADATA data;
    int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
        WSASetLastError(error);
        return false;
    }
    started = true;
    atexit(stop_winsock);
    return true;
}

// At most what one call of the socket library takes.
int chunk_of(size_t size) {
    return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

} // namespace

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
    return plat_sock_create(s, false);
}

bool plat_sock_create(plat_tcp *s, bool ipv6) {
    s->handle = INVALID_SOCKET;
    if (!winsock_started())
        return false;
    SOCKET sock = WSASocketW(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
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

int plat_sock_wait(const plat_tcp *s, bool for_write, uint64_t timeout_ms) {
    const uint64_t left = timeout_ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : timeout_ms;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(sock_of(s), &ready);
    FD_SET(sock_of(s), &failed); // a connect that failed shows here, not as writable
    timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    int r = select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr, &failed, &tv);
    return r > 0 ? 1 : r;
}

long plat_sock_send(plat_tcp *s, const void *data, size_t size) {
    return send(sock_of(s), static_cast<const char *>(data), chunk_of(size), 0);
}

long plat_sock_recv(plat_tcp *s, void *data, size_t size) {
    return recv(sock_of(s), static_cast<char *>(data), chunk_of(size), 0);
}

bool plat_sock_would_block(void) {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool plat_sock_interrupted(void) {
    return WSAGetLastError() == WSAEINTR;
}

int plat_sock_connect_start(plat_tcp *s, uint32_t addr_be, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr_be;
    if (connect(sock_of(s), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
        return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool plat_sock_connect_result(plat_tcp *s) {
    int err = 0;
    int len = sizeof err;
    if (getsockopt(sock_of(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
        return false;
    WSASetLastError(err);
    return err == 0;
}

void plat_tcp_close(plat_tcp *s) {
    if (s->handle != INVALID_SOCKET)
        closesocket(sock_of(s));
    s->handle = INVALID_SOCKET;
}
