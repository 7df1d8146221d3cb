// SPDX-License-Identifier: MIT
// Fuzz target: the TCP link's receive path (tcp_shell.cpp over the real
// sockets of platform/socket.cpp) on arbitrary answer byte streams, cut into
// arbitrary pieces.
//
// The target listens on 127.0.0.1 and the link connects to it. The
// receiver's side is played in this process, without threads: the link
// waits for data only in poll(), which this target defines, so each time
// the link would wait the target first takes what the link sent and hands
// over the next piece of the stream. When the pieces run out it closes the
// connection (orderly or by reset), so nothing here ever waits for a
// deadline, and a run is the same every time.
//
// Input: byte 0, bits 0-2: number of messages less one; bit 3: end the
// connection with a reset instead of an orderly close. Then one byte per
// message: bits 0-2 pick it (0 frequency, 1 sample rate, 2 data stream,
// 3 RF gain control items; 4-7 a tunnelled report), the rest is its
// argument. The rest of the input is the stream: pieces of a length byte
// and that many bytes.
//
// What must hold, besides no memory error or undefined behaviour:
// - no exchange waits: the link always reads the data that is there;
// - an exchange succeeds exactly when the bytes handed over while it ran
//   hold a whole message (2 bytes of header, as long as its length field
//   says, at least 2);
// - the answer that a tunnelled report gets is decoded from that message
//   alone: a type-7 message whose first byte is not 0, its bytes from 2 on,
//   bytes it does not have count as 0; anything else (and a failed
//   exchange) gives the time-out value -1. An answer stored for an earlier
//   message must never be taken.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "commands.h"
#include "fake_receiver.h"
#include "fe_interface.h"
#include "loopback.h"
#include "platform/platform.h"
#include "run_state.h"
#include "tcp_shell.h"

namespace {

int listener = -1;
uint16_t listen_port = 0;

// The receiver's side of the current connection.
int peer = -1;
bool playing = false;
bool reset_at_end = false;
const uint8_t *stream = nullptr;
size_t stream_size = 0, stream_pos = 0;
// What was handed over during the current exchange.
std::vector<uint8_t> delivered;

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "tcp_receive_fuzz: %s\n", what);
    abort();
}

int real_poll(pollfd *fds, nfds_t n, int timeout_ms) {
    if (timeout_ms < 0)
        return ppoll(fds, n, nullptr, nullptr);
    timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    return ppoll(fds, n, &ts, nullptr);
}

void end_connection() {
    if (peer < 0)
        return;
    if (reset_at_end) {
        linger l{1, 0};
        setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(peer);
        peer = -1;
    } else {
        shutdown(peer, SHUT_WR);
    }
}

// The link is about to wait for data: take what it sent, then hand over the
// next piece of the stream, or end the connection when there is none.
// Returns false when the piece was empty: the wait then wakes at once with
// nothing, as a wait may.
bool link_waits() {
    if (peer < 0)
        return true;
    uint8_t sink[4096];
    while (recv(peer, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    if (stream_pos >= stream_size) {
        end_connection();
        return true;
    }
    size_t n = stream[stream_pos++];
    n = n < stream_size - stream_pos ? n : stream_size - stream_pos;
    if (n > 0 && send(peer, stream + stream_pos, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
        fail("cannot hand a piece to the link");
    delivered.insert(delivered.end(), stream + stream_pos, stream + stream_pos + n);
    stream_pos += n;
    return n > 0;
}

// How an exchange should end, from the bytes handed over while it ran:
// whether it succeeds, and the tunnel answer value it leaves (-1: none).
struct Expected {
    bool ok;
    int32_t value;
};

Expected expected_exchange(int report_size) {
    Expected e{false, -1};
    if (delivered.size() < 2)
        return e;
    size_t length = (delivered[0] | (delivered[1] << 8)) & 0x1FFF;
    if (length < 2)
        length = 2;
    if (delivered.size() < length)
        return e;
    e.ok = true;
    uint8_t message[32] = {0};
    memcpy(message, delivered.data(), length < 32 ? length : 32);
    if (message[0] == 0 || (message[1] & 0xE0) != 0xE0)
        return e;
    const uint8_t *answer = message + 2;
    if (answer[0] == 6 && report_size >= 6)
        e.value = static_cast<int32_t>(
            static_cast<uint32_t>(answer[2] | answer[3] << 8 | answer[4] << 16) |
            static_cast<uint32_t>(answer[5]) << 24);
    else
        e.value = 0;
    return e;
}

} // namespace

// The link's only wait. Outside a run it is the system's poll. (The C
// library declares the array write-only, which it is not: g++ would warn
// about reading the events asked for.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
extern "C" int poll(pollfd *fds, nfds_t n, int timeout_ms) {
    if (playing && n == 1 && (fds[0].events & POLLIN) && !link_waits())
        timeout_ms = 0;
    return real_poll(fds, n, timeout_ms);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    listener = loopback::listen_on(8, &listen_port);
    if (listener < 0)
        fail("cannot listen on 127.0.0.1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const size_t messages = (data[0] & 0x07) + 1u;
    if (size < 1 + messages)
        return 0;
    reset_at_end = (data[0] & 0x08) != 0;
    const uint8_t *kinds = data + 1;
    stream = data + 1 + messages;
    stream_size = size - 1 - messages;
    stream_pos = 0;

    fuzz::reset_connection_state();
    if (open_tcp_connection("127.0.0.1", listen_port) != 0)
        fail("cannot connect to the target's own listener");
    peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
        fail("accept");

    playing = true;
    for (size_t i = 0; i < messages; i++) {
        delivered.clear();
        const uint8_t kind = kinds[i] & 0x07, arg = kinds[i] >> 3;
        const uint64_t start = plat_monotonic_ms();
        int result = 0;
        bool tunnel = false;
        int32_t value = -1;
        switch (kind) {
        case 0:
            result = tcp_send_frequency(7000000u + arg, arg & 3);
            break;
        case 1:
            result = tcp_send_sample_rate(48000u * (arg + 1u));
            break;
        case 2:
            result = tcp_set_udp_rx_state(arg & 1 ? 2 : 1);
            break;
        case 3:
            result = tcp_set_rf_gain_state(arg & 3, static_cast<int8_t>(arg));
            break;
        default: {
            tunnel = true;
            unsigned char report[7] = {0x02, static_cast<unsigned char>(arg), 0, 0, 0, 0, 0};
            HID_Write_Data(report);
            value = HID_wait_For_ACK();
            break;
        }
        }
        if (plat_monotonic_ms() - start > TCP_ANSWER_TIMEOUT_MS / 2)
            fail("an exchange waited although the data was there");
        const Expected e = expected_exchange(HID_COMMAND_SIZE);
        if (tunnel && value != e.value)
            fail("a tunnelled report got an answer that its own message does not hold");
        if (!tunnel && (result == 0) != e.ok)
            fail("an exchange ended otherwise than the bytes handed over say");
    }
    playing = false;

    // Reset the connection, so that no closed socket lingers, and forget it.
    reset_at_end = true;
    end_connection();
    close_tcp();
    hid_change_tcp_network_flag(0);
    return 0;
}
