// SPDX-License-Identifier: MIT
// Each message the utility sends is answered by a script byte from the fuzz
// receiver:
//   0x00-0x7F  the proper answer: a tunnelled report gets "09 E0" and the
//              model's answer (nothing when none is waiting), a control
//              item gets "04 00" and its code;
//   0x80-0xBF  (byte & 0x3F) raw bytes from the script;
//   0xC0-0xEF  nothing: the receive runs into its deadline;
//   0xF0-0xFF  the receiver closes the connection.
#include "fake_net.h"

#include <cerrno>
#include <cstring>
#include <deque>

#include <arpa/inet.h>

#include "fake_platform.h"
#include "fake_receiver.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "tcp_shell.h"

namespace fuzz {

namespace {

constexpr int LINK_FD = 2000;

uint8_t link = 0;
std::deque<uint8_t> incoming; // bytes on their way to the utility
bool peer_closed = false;

void answer_message(const uint8_t *message, size_t size) {
    const bool tunnel = size >= 2 && (message[1] & 0xE0) == 0xE0;
    if (tunnel)
        receiver_take(message + 2, size - 2);
    const uint8_t how = script_byte(0x00);
    if (how < 0x80) {
        if (tunnel) {
            uint8_t answer[7];
            if (receiver_model_answer(answer)) {
                incoming.insert(incoming.end(), {0x09, 0xE0});
                incoming.insert(incoming.end(), answer, answer + 7);
            }
        } else {
            incoming.insert(incoming.end(), {0x04, 0x00, size > 2 ? message[2] : uint8_t{0},
                                             size > 3 ? message[3] : uint8_t{0}});
        }
    } else if (how < 0xC0) {
        uint8_t raw[64];
        size_t n = script_bytes(raw, how & 0x3F);
        incoming.insert(incoming.end(), raw, raw + n);
    } else if (how >= 0xF0) {
        peer_closed = true;
    }
}

bool closed(const plat_tcp *s) {
    if (s->fd >= 0)
        return false;
    set_last_error(EBADF);
    return true;
}

} // namespace

void link_configure(uint8_t config) {
    link = config;
    incoming.clear();
    peer_closed = false;
}

} // namespace fuzz

using namespace fuzz;

bool plat_tcp_create(plat_tcp *s) {
    if (link & 0x10) {
        s->fd = -1;
        set_last_error(EMFILE);
        return false;
    }
    s->fd = LINK_FD;
    incoming.clear();
    peer_closed = false;
    return true;
}

bool plat_tcp_is_open(const plat_tcp *s) {
    return s->fd >= 0;
}

bool plat_tcp_get_keepalive(plat_tcp *s, int *value) {
    if (closed(s))
        return false;
    if (link & 0x04) {
        set_last_error(ENOPROTOOPT);
        return false;
    }
    *value = 0;
    return true;
}

bool plat_tcp_set_keepalive(plat_tcp *s, int) {
    if (closed(s))
        return false;
    if (link & 0x08) {
        set_last_error(ENOPROTOOPT);
        return false;
    }
    return true;
}

bool plat_tcp_connect(plat_tcp *s, uint32_t, uint16_t, unsigned timeout_ms) {
    note_send_attempt(timeout_ms);
    if (closed(s))
        return false;
    if (link & 0x01) {
        set_last_error(ECONNREFUSED);
        return false;
    }
    if (link & 0x02) {
        wait_until(plat_monotonic_ms() + timeout_ms);
        set_last_error(ETIMEDOUT);
        return false;
    }
    return true;
}

bool plat_tcp_send_all(plat_tcp *s, const void *data, size_t size, uint64_t) {
    note_send_attempt(TCP_ANSWER_TIMEOUT_MS);
    if (closed(s))
        return false;
    if ((link & 0x20) || peer_closed) {
        set_last_error(EPIPE);
        return false;
    }
    answer_message(static_cast<const uint8_t *>(data), size);
    return true;
}

long plat_tcp_recv_some(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed(s))
        return -1;
    if (incoming.empty()) {
        if (peer_closed) {
            set_last_error(0);
            return 0;
        }
        wait_until(deadline_ms);
        set_last_error(ETIMEDOUT);
        return -1;
    }
    uint8_t *p = static_cast<uint8_t *>(data);
    size_t got = 0;
    for (; got < size && !incoming.empty(); got++) {
        p[got] = incoming.front();
        incoming.pop_front();
    }
    return static_cast<long>(got);
}

long plat_tcp_recv_exact(plat_tcp *s, void *data, size_t size, uint64_t deadline_ms) {
    if (closed(s))
        return -1;
    uint8_t *p = static_cast<uint8_t *>(data);
    for (size_t got = 0; got < size; got++) {
        if (incoming.empty()) {
            if (peer_closed) {
                set_last_error(0);
                return 0;
            }
            wait_until(deadline_ms);
            set_last_error(ETIMEDOUT);
            return -1;
        }
        p[got] = incoming.front();
        incoming.pop_front();
    }
    return static_cast<long>(size);
}

size_t plat_tcp_discard_pending(plat_tcp *s) {
    if (s->fd < 0)
        return 0;
    size_t n = incoming.size();
    incoming.clear();
    return n;
}

void plat_tcp_close(plat_tcp *s) {
    s->fd = -1;
}
