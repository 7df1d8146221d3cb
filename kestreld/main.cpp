// SPDX-License-Identifier: MIT
// kestreld: keeps one receiver open and serves it to network radio clients
// (Hamlib's "NET rigctl": gpredict, WSJT-X, fldigi, loggers, rigctl, Python).
// Channel n of the receiver is served on port PORT+n. One thread: requests
// from all clients are executed one at a time, each exchange with the
// receiver bounded; sockets never block.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "fe_interface.h"
#include "main.h"
#include "options.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/serve.h"
#include "rig.h"
#include "tcp_shell.h"
#include "rigctl.h"

namespace {

constexpr uint16_t DEFAULT_PORT = 4532;
constexpr size_t MAX_CLIENTS = 32;
// A request line longer than this is refused whole (one "RPRT -1").
constexpr size_t MAX_LINE = 1024;
// Replies not yet taken by a client: beyond this its requests wait.
constexpr size_t MAX_PENDING_OUTPUT = 16384;
// A client that has sent nothing for this long may lose its slot to a new
// one when all are taken, and one that leaves a line unfinished this long is
// closed. The hidden option --test-idle-ms=N sets it, so that the tests need
// not wait 10 s; it is not for users.
uint64_t idle_limit_ms = 10000;

struct client {
    plat_tcp sock;
    rigctl_client state;
    char in[MAX_LINE];
    size_t in_len = 0;
    bool overlong = false; // the line being received went past MAX_LINE
    std::string out;
    bool closing = false;          // close once the output is sent
    bool input_ended = false;      // the client sent all it will send
    uint64_t heard_ms = 0;         // when it connected or last sent something
    uint64_t partial_since_ms = 0; // when its unfinished line began; 0: none
};

plat_tcp listeners[RIGCTL_MAX_CHANNELS];
plat_ip listen_addr; // 127.0.0.1 unless --listen says otherwise
// The networks of --allow: clients from elsewhere are closed at once, unless
// they come from this machine's loopback or kestreld listens on loopback.
struct network {
    plat_ip addr;
    unsigned bits;
};
constexpr size_t MAX_ALLOWED = 64;
network allowed[MAX_ALLOWED];
size_t allowed_count = 0;
int channel_count = 1;
client *clients[MAX_CLIENTS];

const char usage[] =
    "Usage: kestreld [-N<serial>] [-P<dir>/] [-T<address> [-P<port>]]\n"
    "                [--listen ADDRESS:PORT] [-t PORT] [--allow NETWORK/BITS]...\n"
    "                [--channels N]\n"
    "Serves the receiver to Hamlib network radio clients (NET rigctl).\n"
    "  -N<serial>            the USB receiver with this serial number\n"
    "  -P<dir>/              the receiver's drive mounted at <dir>/\n"
    "  -T<address> -P<port>  the networked receiver at <address>:<port> (port 50000)\n"
    "  --listen ADDRESS:PORT where clients connect (default 127.0.0.1:4532; IPv6 as\n"
    "                        [ADDRESS]:PORT)\n"
    "  -t PORT, --port PORT  the port only (the last port given is used)\n"
    "  --allow NETWORK/BITS  off loopback, take clients from this network only\n"
    "                        (repeatable; loopback clients are always taken)\n"
    "  --channels N          serve channels 0 to N-1 on ports PORT to PORT+N-1 (1 to 4)\n"
    "  --help, --version\n"
    "See kestreld(1). The protocol has no authentication: listen on loopback only\n"
    "unless the network is trusted.\n";

// Reads an IPv4 address written as four decimal numbers 0 to 255 and
// nothing else: no shortened forms ("127.1"), no single number, no hex, and
// no leading zeros, which some readers take as octal.
bool parse_dotted_quad(const char *text, uint8_t bytes[4]) {
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return false;
        const char *digits = p;
        unsigned value = 0;
        while (*p >= '0' && *p <= '9' && p - digits < 4)
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
        size_t count = static_cast<size_t>(p - digits);
        if (count == 0 || count > 3 || value > 255 || (count > 1 && digits[0] == '0'))
            return false;
        bytes[i] = static_cast<uint8_t>(value);
    }
    return *p == '\0';
}

// Reads a TCP port to listen on: 0 to 65535 in decimal digits only (0: a
// free port).
bool parse_port(const char *text, long *port) {
    char *end = nullptr;
    *port = strtol(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && *end == '\0' && *port >= 0 && *port <= 65535;
}

// Reads an address: IPv4 as a dotted quad, or IPv6 (without brackets).
bool parse_address(const char *text, plat_ip *a) {
    *a = plat_ip{};
    a->v6 = strchr(text, ':') != nullptr;
    return a->v6 ? plat_ipv6_parse(text, a->bytes) : parse_dotted_quad(text, a->bytes);
}

// Reads "ADDRESS:PORT" or "[ADDRESS]:PORT": a dotted-quad IPv4 or an IPv6
// address of this machine's own (0.0.0.0 or :: for all of them; no
// multicast or broadcast address, no IPv4 address written as IPv6), and
// the port.
bool parse_listen(const char *text, plat_ip *addr, long *port) {
    const char *colon = strrchr(text, ':');
    const bool bracketed = text[0] == '[';
    if (colon == nullptr || colon == text || static_cast<size_t>(colon - text) >= 64 ||
        bracketed != (colon[-1] == ']'))
        return false;
    char host[64];
    const size_t host_len = static_cast<size_t>(colon - text) - (bracketed ? 2 : 0);
    memcpy(host, text + (bracketed ? 1 : 0), host_len);
    host[host_len] = '\0';
    if (!parse_port(colon + 1, port) || !parse_address(host, addr) || addr->v6 != bracketed)
        return false;
    static const uint8_t v4_mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return addr->v6 ? addr->bytes[0] != 0xff && memcmp(addr->bytes, v4_mapped, 12) != 0
                    : addr->bytes[0] < 224;
}

// Reads "NETWORK/BITS": an address as parse_address reads it, and 0 to 32
// (IPv4) or 0 to 128 (IPv6) bits, written without leading zeros. The
// address's bits past BITS must be zero (192.168.1.0/24, not
// 192.168.1.7/24), so that a mistyped length is not taken silently.
bool parse_network(const char *text, network *n) {
    const char *slash = strchr(text, '/');
    if (slash == nullptr || static_cast<size_t>(slash - text) >= 64)
        return false;
    char host[64];
    memcpy(host, text, static_cast<size_t>(slash - text));
    host[slash - text] = '\0';
    const char *digits = slash + 1;
    size_t count = strspn(digits, "0123456789");
    if (count == 0 || count > 3 || digits[count] != '\0' || (count > 1 && digits[0] == '0') ||
        !parse_address(host, &n->addr))
        return false;
    n->bits = static_cast<unsigned>(atoi(digits));
    const unsigned length = n->addr.v6 ? 128 : 32;
    if (n->bits > length)
        return false;
    for (unsigned bit = n->bits; bit < length; bit++)
        if ((n->addr.bytes[bit / 8] >> (7 - bit % 8)) & 1)
            return false;
    return true;
}

// The address for the log and the ready line: IPv6 in brackets.
std::string address_text(const plat_ip &a) {
    char text[64], bracketed[68];
    plat_ip_text(&a, text, sizeof text);
    if (!a.v6)
        return text;
    snprintf(bracketed, sizeof bracketed, "[%s]", text);
    return bracketed;
}

// Whether a client from `peer` is taken: always from loopback, and from
// elsewhere when no --allow was given or one of its networks holds it.
// On a loopback listen every client is a loopback one.
bool client_allowed(const plat_ip &peer) {
    if (allowed_count == 0 || plat_ip_is_loopback(&peer))
        return true;
    for (size_t i = 0; i < allowed_count; i++)
        if (plat_ip_in_network(&peer, &allowed[i].addr, allowed[i].bits))
            return true;
    return false;
}

void drop_client(size_t i) {
    plat_tcp_close(&clients[i]->sock);
    delete clients[i];
    clients[i] = nullptr;
}

// A free slot for a new client: an empty one, or else the slot of the
// client that has sent nothing for the longest time, past the idle limit,
// which is closed. MAX_CLIENTS when every client is busier than that.
size_t slot_for_new_client(uint64_t now) {
    size_t slot = MAX_CLIENTS;
    for (size_t i = 0; i < MAX_CLIENTS; i++) {
        if (clients[i] == nullptr)
            return i;
        if (now - clients[i]->heard_ms > idle_limit_ms &&
            (slot == MAX_CLIENTS || clients[i]->heard_ms < clients[slot]->heard_ms))
            slot = i;
    }
    if (slot != MAX_CLIENTS)
        drop_client(slot);
    return slot;
}

uint64_t refused_since_report = 0; // new clients refused since the last log line
uint64_t last_refusal_report_ms = 0;

void accept_clients(int channel) {
    for (;;) {
        plat_tcp sock;
        plat_ip peer;
        if (plat_accept_from(&listeners[channel], &sock, &peer) != 1)
            return;
        if (!client_allowed(peer)) {
            // Closed before any byte is read, and before it can take the
            // slot of an idle client.
            fprintf(stderr, "kestreld: refused a client from %s: not in a network of --allow\n",
                    address_text(peer).c_str());
            plat_tcp_close(&sock);
            continue;
        }
        uint64_t now = plat_monotonic_ms();
        size_t slot = slot_for_new_client(now);
        if (slot == MAX_CLIENTS) {
            // Full: the client sees its connection closed at once. Logged
            // (first) at most once per idle limit, so that a flood of
            // connections does not flood the log.
            refused_since_report++;
            if (last_refusal_report_ms == 0 || now - last_refusal_report_ms > idle_limit_ms) {
                fprintf(stderr,
                        "kestreld: all %zu client slots are taken by active clients: refused "
                        "%llu new connection(s)\n",
                        MAX_CLIENTS, static_cast<unsigned long long>(refused_since_report));
                refused_since_report = 0;
                last_refusal_report_ms = now;
            }
            plat_tcp_close(&sock);
            continue;
        }
        client *c = new client;
        c->sock = sock;
        c->state.channel = channel;
        c->heard_ms = now;
        clients[slot] = c;
    }
}

// Sends what the client's socket takes now; false when the client is gone.
bool flush_output(client *c) {
    while (!c->out.empty()) {
        long n = plat_send_now(&c->sock, c->out.data(), c->out.size());
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        c->out.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// Executes the first whole request line waiting in the client's input, if
// any, and starts sending its reply. Returns true when a line was taken.
bool execute_one_line(client *c) {
    if (c->closing || c->out.size() + RIGCTL_MAX_REPLY > MAX_PENDING_OUTPUT)
        return false;
    char *nl = static_cast<char *>(memchr(c->in, '\n', c->in_len));
    if (nl == nullptr)
        return false;
    size_t length = static_cast<size_t>(nl - c->in);
    if (c->overlong) {
        c->overlong = false;
        c->out.append("RPRT -1\n");
    } else if (memchr(c->in, '\0', length) != nullptr) {
        // Text after a NUL byte would be dropped unseen by the request's
        // reading: the whole line is refused instead.
        c->out.append("RPRT -1\n");
    } else if (!rigctl_execute(&c->state, c->in, length, &c->out)) {
        c->closing = true;
    }
    c->in_len -= length + 1;
    memmove(c->in, nl + 1, c->in_len);
    // An unfinished line that waited behind whole ones is timed from now:
    // its rest may still be waiting unread.
    if (c->partial_since_ms != 0 && memchr(c->in, '\n', c->in_len) == nullptr)
        c->partial_since_ms = plat_monotonic_ms();
    return true;
}

// Takes what the client sent, at most one buffer: a client that sends
// without pause must not keep the others waiting. False when the connection
// failed. A client that closed its sending side still gets the replies to
// its whole lines.
bool receive_input(client *c, uint64_t now) {
    if (c->in_len == sizeof c->in) {
        // No end of line in a whole buffer: the line is too long. Its
        // bytes are dropped up to its end, which gets one refusal.
        char *nl = static_cast<char *>(memchr(c->in, '\n', c->in_len));
        if (nl != nullptr)
            return true; // lines are waiting to be executed first
        c->overlong = true;
        c->in_len = 0;
    }
    size_t old_len = c->in_len;
    long n = plat_recv_now(&c->sock, c->in + c->in_len, sizeof c->in - c->in_len);
    if (n == -1)
        return true;
    if (n == 0) {
        c->input_ended = true;
        return true;
    }
    if (n < 0)
        return false;
    c->in_len += static_cast<size_t>(n);
    c->heard_ms = now;
    // The unfinished line's start: now when these bytes end a line and begin
    // another, or begin one after whole lines.
    size_t end = c->in_len;
    while (end > old_len && c->in[end - 1] != '\n')
        end--;
    if (end > old_len)
        c->partial_since_ms = end < c->in_len ? now : 0;
    else if (c->partial_since_ms == 0)
        c->partial_since_ms = now;
    if (c->overlong) {
        char *nl = static_cast<char *>(memchr(c->in, '\n', c->in_len));
        if (nl == nullptr) {
            c->in_len = 0;
        } else {
            // Keep the end of line of the long line, so it gets its reply.
            size_t keep = c->in_len - static_cast<size_t>(nl - c->in);
            memmove(c->in, nl, keep);
            c->in_len = keep;
        }
    }
    return true;
}

// How long the wait may last: until the first unfinished line reaches the
// idle limit (-1: no such line).
int wait_limit_ms(uint64_t now) {
    uint64_t limit = UINT64_MAX;
    for (client *c : clients)
        if (c != nullptr && !c->closing && c->partial_since_ms != 0 &&
            memchr(c->in, '\n', c->in_len) == nullptr) {
            uint64_t held = now - c->partial_since_ms;
            limit = std::min(limit, held > idle_limit_ms ? 0 : idle_limit_ms - held + 1);
        }
    return limit == UINT64_MAX ? -1 : static_cast<int>(std::min<uint64_t>(limit, 60000));
}

void serve(void) {
    plat_wait_item items[RIGCTL_MAX_CHANNELS + MAX_CLIENTS];
    client *item_client[RIGCTL_MAX_CHANNELS + MAX_CLIENTS];
    while (!plat_stop_requested()) {
        // Whole lines waiting: executed one per client in turn before waiting.
        bool busy = false;
        for (client *c : clients)
            if (c != nullptr && !c->closing &&
                c->out.size() + RIGCTL_MAX_REPLY <= MAX_PENDING_OUTPUT &&
                memchr(c->in, '\n', c->in_len) != nullptr)
                busy = true;
        size_t n = 0;
        for (int ch = 0; ch < channel_count; ch++) {
            item_client[n] = nullptr;
            items[n++] = plat_wait_item{&listeners[ch], true, false};
        }
        for (client *c : clients) {
            if (c == nullptr)
                continue;
            item_client[n] = c;
            bool room = c->in_len < sizeof c->in || memchr(c->in, '\n', c->in_len) == nullptr;
            items[n++] =
                plat_wait_item{&c->sock, !c->closing && !c->input_ended && room, !c->out.empty()};
        }
        if (plat_serve_wait(items, n, busy ? 0 : wait_limit_ms(plat_monotonic_ms())) < 0)
            break;
        uint64_t now = plat_monotonic_ms();
        for (size_t i = static_cast<size_t>(channel_count); i < n; i++) {
            client *c = item_client[i];
            bool alive = true;
            if (items[i].readable)
                alive = receive_input(c, now);
            if (alive && items[i].writable)
                alive = flush_output(c);
            if (alive && c->partial_since_ms != 0 && now - c->partial_since_ms > idle_limit_ms &&
                memchr(c->in, '\n', c->in_len) == nullptr)
                alive = false; // a line left unfinished past the idle limit
            if (!alive)
                c->closing = true, c->out.clear(), c->in_len = 0;
        }
        // New clients after the clients' items: taking a slot may close one.
        for (int ch = 0; ch < channel_count; ch++)
            if (items[ch].readable)
                accept_clients(ch);
        for (size_t i = 0; i < MAX_CLIENTS; i++) {
            client *c = clients[i];
            if (c == nullptr)
                continue;
            // After a stop request no new exchange starts, whatever is queued.
            if (plat_stop_requested())
                return;
            if (execute_one_line(c) && !flush_output(c))
                c->closing = true, c->out.clear();
            if (c->input_ended && memchr(c->in, '\n', c->in_len) == nullptr)
                c->closing = true; // nothing more will come: done once replied
            if (c->closing && c->out.empty())
                drop_client(i);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    plat_start(&argc, &argv); // Windows: the command line as UTF-8, the 1 ms timer
    // Before anything is opened: a closed standard descriptor must not
    // become a command file of the receiver's drive or a client's socket.
    if (!plat_ensure_std_descriptors()) {
        fputs("kestreld: standard input, output or error is closed and cannot be opened on the "
              "null device\n",
              stderr);
        return 1;
    }
    setlocale(LC_CTYPE, ""); // serial numbers are read as kestrel reads them
    // The receiver options are read as kestrel reads them.
    receiver_choice receiver = fresh_receiver_choice();
    listen_addr.bytes[0] = 127, listen_addr.bytes[3] = 1;
    long listen_port = DEFAULT_PORT;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        const char *value = nullptr;
        if (strncmp(a, "--test-idle-ms=", 15) == 0) { // for the tests: see idle_limit_ms
            char *end = nullptr;
            long long ms = strtoll(a + 15, &end, 10);
            if (a[15] < '0' || a[15] > '9' || *end != '\0' || ms < 1 || ms > 3600000) {
                fprintf(stderr, "kestreld: %s: 1 to 3600000\n", a);
                return 2;
            }
            idle_limit_ms = static_cast<uint64_t>(ms);
            continue;
        }
        if (strcmp(a, "--help") == 0) {
            fputs(usage, stdout);
            return 0;
        }
        if (strcmp(a, "--version") == 0) {
            printf("kestreld %s\n", kestrel_version);
            return 0;
        }
        // The listen port as rigctld users write it; the port given last,
        // here or in --listen, is the one listened on.
        if (strncmp(a, "-t", 2) == 0 || strcmp(a, "--port") == 0 || strncmp(a, "--port=", 7) == 0) {
            bool joined = a[1] == 't' ? a[2] != '\0' : a[6] == '=';
            value = joined ? a + (a[1] == 't' ? 2 : 7) : i + 1 < argc ? argv[++i] : nullptr;
            if (value == nullptr) {
                fprintf(stderr, "kestreld: %s needs a value\n%s", a, usage);
                return 2;
            }
            if (!parse_port(value, &listen_port)) {
                fprintf(stderr, "kestreld: %s %s: the port is a whole number from 0 to 65535\n",
                        a[1] == 't' ? "-t" : "--port", value);
                return 2;
            }
            continue;
        }
        if (strncmp(a, "--listen", 8) == 0 || strncmp(a, "--channels", 10) == 0 ||
            strncmp(a, "--allow", 7) == 0) {
            bool is_listen = a[2] == 'l', is_allow = a[2] == 'a';
            const char *rest = a + (is_listen ? 8 : is_allow ? 7 : 10);
            if (rest[0] == '=')
                value = rest + 1;
            else if (rest[0] == '\0' && i + 1 < argc)
                value = argv[++i];
            if (value == nullptr) {
                fprintf(stderr, "kestreld: %s needs a value\n%s", a, usage);
                return 2;
            }
            if (is_listen && !parse_listen(value, &listen_addr, &listen_port)) {
                fprintf(stderr,
                        "kestreld: --listen %s: not ADDRESS:PORT with a dotted-quad IPv4 address "
                        "of this machine (such as 127.0.0.1:4532) or [ADDRESS]:PORT with an "
                        "IPv6 one (such as [::1]:4532), and a port 0 to 65535\n",
                        value);
                return 2;
            }
            if (is_allow && (allowed_count == MAX_ALLOWED ||
                             !parse_network(value, &allowed[allowed_count++]))) {
                fprintf(stderr,
                        "kestreld: --allow %s: not NETWORK/BITS with a dotted-quad IPv4 network "
                        "and 0 to 32 bits (such as 192.168.1.0/24) or an IPv6 one and 0 to 128 "
                        "(such as fd00::/8), no address bits past BITS; at most %zu of them\n",
                        value, MAX_ALLOWED);
                return 2;
            }
            if (!is_listen && !is_allow) {
                char *end = nullptr;
                long n = strtol(value, &end, 10);
                if (*end != '\0' || n < 1 || n > RIGCTL_MAX_CHANNELS) {
                    fprintf(stderr, "kestreld: --channels %s: 1 to %d\n", value,
                            RIGCTL_MAX_CHANNELS);
                    return 2;
                }
                channel_count = static_cast<int>(n);
            }
            continue;
        }
        const parsed_option o = read_option(argc, argv, i);
        if (o.row == nullptr || o.row->pass != option_pass::first || o.row->letter == 'L') {
            fprintf(stderr, "kestreld: unknown option %s\n%s", a, usage);
            return 2;
        }
        read_receiver_option(o, &receiver);
    }
    // A serial number or path too long to take whole, or a port that does
    // not exist, names no receiver.
    if (!choose_receiver_port(&receiver) || receiver.refused != nullptr) {
        if (strlen(receiver.refused) - 2 >= RECEIVER_TEXT_SIZE)
            fprintf(stderr, "kestreld: %s: longer than %zu characters\n%s", receiver.refused,
                    RECEIVER_TEXT_SIZE - 1, usage);
        else
            fprintf(stderr, "kestreld: %s: with -T the TCP port is a number from 1 to 65535\n%s",
                    receiver.refused, usage);
        return 2;
    }
    if (listen_port + channel_count - 1 > 65535 || (listen_port == 0 && channel_count > 1)) {
        fprintf(stderr, "kestreld: ports %ld to %ld do not all exist\n", listen_port,
                listen_port + channel_count - 1);
        return 2;
    }

    // The receiver, reached as kestrel reaches it, without kestrel's console
    // texts: standard output carries only the ready line.
    HID_Set_Console_Quiet(1);
    tcp_set_console_quiet(1);
    static wchar_t wide_serial[256];
    if (receiver.serial[0] != '\0') {
        // A serial number that cannot be read must not let another receiver
        // be opened in its place.
        if (!plat_text_to_wide(receiver.serial, wide_serial, 255)) {
            fprintf(stderr, "kestreld: -N%s: not valid text in this locale\n", receiver.serial);
            return 2;
        }
        Set_USB_Serial_number(wide_serial);
    }
    if (receiver.network) {
        rig_configure(receiver.address, receiver.port);
    } else {
        SetMSDPath(receiver.path);
        rig_configure(nullptr, 0);
    }

    if (!plat_stop_signals_install()) {
        fputs("kestreld: cannot set up the stop signals\n", stderr);
        return 1;
    }
    const std::string listen_text = address_text(listen_addr);
    for (int ch = 0; ch < channel_count; ch++) {
        uint16_t port = static_cast<uint16_t>(listen_port + ch);
        if (!plat_listen_on(&listeners[ch], &listen_addr, port)) {
            fprintf(stderr, "kestreld: cannot listen on %s:%u: %s\n", listen_text.c_str(), port,
                    plat_listen_error_text(plat_last_error()));
            return 1;
        }
        if (listen_port == 0)
            listen_port = plat_local_port(&listeners[ch]);
    }
    // On a loopback address every client is a loopback one: --allow has no
    // effect there.
    if (plat_ip_is_loopback(&listen_addr))
        allowed_count = 0;
    else
        fputs("kestreld: listening beyond this machine; the protocol has no authentication\n",
              stderr);
    rig_open(); // a receiver that is not there yet is tried again by each request
    printf("kestreld: serving %s:%ld channels %d\n", listen_text.c_str(), listen_port,
           channel_count);
    fflush(stdout);

    serve();

    for (size_t i = 0; i < MAX_CLIENTS; i++)
        if (clients[i] != nullptr)
            drop_client(i);
    for (int ch = 0; ch < channel_count; ch++)
        plat_tcp_close(&listeners[ch]);
    rig_close();
    return 0;
}
