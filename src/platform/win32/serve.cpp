// SPDX-License-Identifier: MIT
// Win32 server sockets (listening, taking connections, waiting on many with
// WSAPoll), IPv6 address text, and the stop request of the console: Ctrl-C,
// Ctrl-Break, the console window closed, the user logging off or the system
// shutting down.
// The console's handler runs in a thread of its own; it sets the stop flag
// and sends one byte over a loopback connection that every wait also
// watches, so that a stop ends the wait at once, even one that began just
// after the flag was looked at.
#include "platform/serve.h"

#include "platform/system.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/socket_address.h"

namespace {

std::atomic<bool> stop_requested{false};
// The wake-up connection: the handler sends on one end, the waits watch the
// other. Both closed when it could not be made; the waits then look at the
// stop flag every WAKE_SLICE_MS instead.
plat_tcp wake_send, wake_receive;
constexpr int WAKE_SLICE_MS = 100;
// How long a handler for the console closing (or a log-off, a shutdown)
// holds the process: the server ends it itself, with status 0, well within
// the seconds the system grants before it ends the process.
constexpr DWORD CLOSE_GRACE_MS = 10000;

SOCKET sock_of(const plat_tcp *s) {
    return static_cast<SOCKET>(s->handle);
}

BOOL WINAPI on_console_event(DWORD event) {
    stop_requested = true;
    if (plat_tcp_is_open(&wake_send))
        send(sock_of(&wake_send), "s", 1, 0);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE; // handled: the server ends by itself
    // Returning would let the system end the process at once, in the middle
    // of closing the receiver.
    Sleep(CLOSE_GRACE_MS);
    return TRUE;
}

// The two ends of a loopback connection made with a listener of its own,
// which takes only the connection made here: its peer must be wake_send.
bool make_wake_connection(void) {
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    plat_tcp listener;
    bool made = plat_listen(&listener, loopback, 0) && plat_tcp_create(&wake_send) &&
                plat_tcp_connect(&wake_send, loopback, plat_local_port(&listener), 1000);
    const uint64_t deadline = plat_monotonic_ms() + 1000;
    while (made && plat_accept(&listener, &wake_receive) == 0 && plat_monotonic_ms() < deadline)
        plat_sock_wait(&listener, false, 100);
    sockaddr_in mine{}, peer{};
    int mine_len = sizeof mine, peer_len = sizeof peer;
    made =
        made && plat_tcp_is_open(&wake_receive) &&
        getsockname(sock_of(&wake_send), reinterpret_cast<sockaddr *>(&mine), &mine_len) == 0 &&
        getpeername(sock_of(&wake_receive), reinterpret_cast<sockaddr *>(&peer), &peer_len) == 0 &&
        mine.sin_port == peer.sin_port;
    plat_tcp_close(&listener);
    if (!made) {
        plat_tcp_close(&wake_send);
        plat_tcp_close(&wake_receive);
    }
    return made;
}

} // namespace

bool plat_ipv6_parse(const char *text, uint8_t bytes[16]) {
    IN6_ADDR a{};
    if (text == nullptr || InetPtonA(AF_INET6, text, &a) != 1)
        return false;
    memcpy(bytes, &a, 16);
    return true;
}

void plat_ip_text(const plat_ip *a, char *out, size_t size) {
    char text[INET6_ADDRSTRLEN];
    if (InetNtopA(a->v6 ? AF_INET6 : AF_INET, a->bytes, text, sizeof text) == nullptr ||
        strlen(text) >= size)
        snprintf(out, size, "?");
    else
        snprintf(out, size, "%s", text);
}

bool plat_listen_on(plat_tcp *s, const plat_ip *addr, uint16_t port) {
    if (!plat_sock_create(s, addr->v6))
        return false;
    sockaddr_storage sa;
    const int sa_len = plat_detail::socket_address(addr, port, &sa);
    // An IPv6 listener takes IPv6 clients only (Windows' default, made sure
    // of): IPv4 ones would reach it from addresses that --allow and the
    // loopback test read as IPv6.
    DWORD one = 1;
    // No SO_REUSEADDR: on Windows it would let this socket take a port that
    // another program listens on. Connections of an earlier run that are
    // still closing do not keep a plain bind from the port here.
    if ((addr->v6 && setsockopt(sock_of(s), IPPROTO_IPV6, IPV6_V6ONLY,
                                reinterpret_cast<const char *>(&one), sizeof one) != 0) ||
        bind(sock_of(s), reinterpret_cast<const sockaddr *>(&sa), sa_len) != 0 ||
        listen(sock_of(s), SOMAXCONN) != 0) {
        int saved = WSAGetLastError();
        plat_tcp_close(s);
        WSASetLastError(saved);
        return false;
    }
    return true;
}

uint16_t plat_local_port(plat_tcp *s) {
    sockaddr_storage sa{};
    int len = sizeof sa;
    if (getsockname(sock_of(s), reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return 0;
    return plat_detail::port_of(sa);
}

int plat_accept_from(plat_tcp *listener, plat_tcp *client, plat_ip *peer) {
    sockaddr_storage sa{};
    int len = sizeof sa;
    SOCKET sock = accept(sock_of(listener), reinterpret_cast<sockaddr *>(&sa), &len);
    if (sock == INVALID_SOCKET)
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    // The listener's non-blocking mode is passed on; made sure of here, as
    // is that child processes get no copy of the socket.
    u_long nonblocking = 1;
    BOOL one = TRUE;
    SetHandleInformation(reinterpret_cast<HANDLE>(sock), HANDLE_FLAG_INHERIT, 0);
    if (ioctlsocket(sock, FIONBIO, &nonblocking) != 0) {
        closesocket(sock);
        return -1;
    }
    // Replies are small and each is written at once: no delay.
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    client->handle = sock;
    if (peer != nullptr)
        *peer = plat_detail::address_of(sa);
    return 1;
}

bool plat_stop_signals_install(void) {
    // Without the wake-up connection a stop still ends every wait, within
    // WAKE_SLICE_MS.
    make_wake_connection();
    return SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
}

bool plat_stop_requested(void) {
    return stop_requested;
}

int plat_serve_wait(plat_wait_item *items, size_t count, int timeout_ms) {
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> item_of; // the item of each entry of fds
    for (size_t i = 0; i < count; i++) {
        items[i].readable = items[i].writable = false;
        if (items[i].sock == nullptr || !plat_tcp_is_open(items[i].sock))
            continue;
        short events = 0;
        if (items[i].want_read)
            events |= POLLRDNORM;
        if (items[i].want_write)
            events |= POLLWRNORM;
        fds.push_back(WSAPOLLFD{sock_of(items[i].sock), events, 0});
        item_of.push_back(i);
    }
    const bool wakes = plat_tcp_is_open(&wake_receive);
    if (wakes)
        fds.push_back(WSAPOLLFD{sock_of(&wake_receive), POLLRDNORM, 0});
    if (stop_requested)
        return 0;
    const uint64_t deadline = plat_monotonic_ms() + static_cast<uint64_t>(timeout_ms);
    for (;;) {
        int slice = timeout_ms;
        if (!wakes) {
            // No wake-up connection: the stop flag is looked at between
            // slices of the wait.
            const uint64_t now = plat_monotonic_ms();
            const uint64_t left = timeout_ms < 0    ? WAKE_SLICE_MS
                                  : now >= deadline ? 0
                                                    : deadline - now;
            slice = static_cast<int>(left < WAKE_SLICE_MS ? left : WAKE_SLICE_MS);
        }
        int r = 0;
        if (fds.empty())
            Sleep(static_cast<DWORD>(slice));
        else
            r = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), slice);
        if (r < 0)
            return -1;
        if (r > 0 || wakes || stop_requested ||
            (timeout_ms >= 0 && plat_monotonic_ms() >= deadline))
            break;
    }
    if (stop_requested)
        return 0;
    int ready = 0;
    for (size_t k = 0; k < item_of.size(); k++) {
        plat_wait_item &item = items[item_of[k]];
        const short got = fds[k].revents;
        // A hang-up, a failure or a socket gone: the next receive says which.
        item.readable = (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0 && item.want_read;
        item.writable = (got & (POLLWRNORM | POLLERR | POLLNVAL)) != 0 && item.want_write;
        ready += item.readable || item.writable ? 1 : 0;
    }
    return ready;
}
