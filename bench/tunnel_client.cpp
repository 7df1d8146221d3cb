// SPDX-License-Identifier: MIT
// bench_tunnel_client: the least a client can do to exchange report tunnel
// messages with a networked receiver. It connects, sends each message of
// FILE in turn and reads its answer, and does nothing else: no banner, no
// decoding, no output. The benchmark times it as a whole process beside
// kestrel sending the same messages.
//
//   bench_tunnel_client IPV4 PORT FILE
//
// FILE holds one message a line, as hexadecimal bytes separated by blanks
// ("09 E0 02 09 00 00 00 00 00"). The exit status is 0 when every message
// got a report tunnel answer (header type 7), 1 otherwise, 2 for bad use.
// Every wait on the socket is bounded by a 2 s time-out.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr size_t MAX_FILE = 256 * 1024;
constexpr int MAX_MESSAGES = 4096;
constexpr int MAX_MESSAGE_BYTES = 32;
constexpr size_t MAX_ANSWER = 0x1FFF; // the largest length a header can give

struct message {
    unsigned char bytes[MAX_MESSAGE_BYTES];
    int size;
};

message messages[MAX_MESSAGES];
char file_text[MAX_FILE + 1];

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the message file; returns the number of messages, or -1 with a
// message on standard error.
int read_messages(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "bench_tunnel_client: %s: %s\n", path, strerror(errno));
        return -1;
    }
    size_t length = 0;
    for (;;) {
        ssize_t n = read(fd, file_text + length, MAX_FILE - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        length += static_cast<size_t>(n);
        if (length == MAX_FILE) {
            close(fd);
            fprintf(stderr, "bench_tunnel_client: %s: larger than %zu bytes\n", path, MAX_FILE);
            return -1;
        }
    }
    close(fd);
    file_text[length] = '\0';

    int count = 0;
    int line = 1;
    for (const char *p = file_text; *p != '\0';) {
        message &m = messages[count];
        m.size = 0;
        while (*p != '\0' && *p != '\n') {
            if (*p == ' ' || *p == '\t' || *p == '\r') {
                p++;
                continue;
            }
            int hi = hex_digit(p[0]);
            int lo = hi < 0 ? -1 : hex_digit(p[1]);
            if (lo < 0 || m.size == MAX_MESSAGE_BYTES) {
                fprintf(stderr, "bench_tunnel_client: %s:%d: want up to %d hex bytes\n", path, line,
                        MAX_MESSAGE_BYTES);
                return -1;
            }
            m.bytes[m.size++] = static_cast<unsigned char>(hi << 4 | lo);
            p += 2;
        }
        if (*p == '\n') {
            p++;
            line++;
        }
        if (m.size == 0)
            continue; // blank line
        if (++count == MAX_MESSAGES && *p != '\0') {
            fprintf(stderr, "bench_tunnel_client: %s: more than %d messages\n", path, MAX_MESSAGES);
            return -1;
        }
    }
    return count;
}

bool send_all(int fd, const unsigned char *data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads one whole answer message; returns its header's second byte, or -1.
int read_answer(int fd) {
    static unsigned char answer[MAX_ANSWER];
    size_t got = 0;
    size_t want = 2;
    while (got < want) {
        ssize_t n = recv(fd, answer + got, want == 2 ? sizeof answer - got : want - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        got += static_cast<size_t>(n);
        if (want == 2 && got >= 2) {
            want = (answer[0] | answer[1] << 8) & 0x1FFF;
            if (want < 2)
                return -1;
        }
    }
    return answer[1];
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        fputs("usage: bench_tunnel_client IPV4 PORT FILE\n", stderr);
        return 2;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    char *end = nullptr;
    errno = 0;
    long port = strtol(argv[2], &end, 10);
    if (inet_pton(AF_INET, argv[1], &addr.sin_addr) != 1 || errno != 0 || *end != '\0' ||
        port < 1 || port > 65535) {
        fputs("bench_tunnel_client: want an IPv4 address and a port from 1 to 65535\n", stderr);
        return 2;
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int count = read_messages(argv[3]);
    if (count < 0)
        return 2;

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{2, 0};
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
        connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        fprintf(stderr, "bench_tunnel_client: connect: %s\n", strerror(errno));
        return 1;
    }
    for (int i = 0; i < count; i++) {
        if (!send_all(fd, messages[i].bytes, static_cast<size_t>(messages[i].size))) {
            fprintf(stderr, "bench_tunnel_client: send of message %d: %s\n", i + 1,
                    strerror(errno));
            return 1;
        }
        int type_byte = read_answer(fd);
        if (type_byte < 0 || (type_byte & 0xE0) != 0xE0) {
            fprintf(stderr, "bench_tunnel_client: no tunnel answer to message %d\n", i + 1);
            return 1;
        }
    }
    close(fd);
    return 0;
}
