// SPDX-License-Identifier: MIT
// bench_streamer: a client that sends bytes without a line end, as fast as
// the server takes them, for a bounded time. The benchmark runs three
// beside a client whose reply time it measures.
//
//   bench_streamer PORT SECONDS
//
// Connects to 127.0.0.1:PORT and sends until SECONDS have passed or the
// server closes the connection. Exit status 0, or 2 for bad use or no
// connection.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    long port = strtol(argv[1], nullptr, 10), seconds = strtol(argv[2], nullptr, 10);
    if (port < 1 || port > 65535 || seconds < 1 || seconds > 600)
        return 2;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return 2;
    timeval bound{0, 200000}; // each send waits at most this long
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    static char chunk[65536];
    memset(chunk, 'F', sizeof chunk);
    time_t end = time(nullptr) + seconds;
    while (time(nullptr) < end)
        if (send(fd, chunk, sizeof chunk, MSG_NOSIGNAL) < 0 && errno != EAGAIN &&
            errno != EWOULDBLOCK)
            break; // closed by the server
    close(fd);
    return 0;
}
