// SPDX-License-Identifier: MIT
// kestrel-sim: a simulated receiver for trying and testing kestrel without
// hardware. See sim/README.md for the options and the state keys.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

#include "sim_server.h"

namespace ksim {

std::vector<Answer> SimContext::take_request(const char *source, const uint8_t *data,
                                             size_t length) {
    if (!log_path.empty())
        append_line(log_path, std::string(source) + " " + hex_bytes(data, length));
    std::vector<Answer> answers = rx.handle(data, length);
    if (!state_out.empty() && !dump_file(rx, state_out))
        fprintf(stderr, "kestrel-sim: cannot write %s\n", state_out.c_str());
    return answers;
}

void SimContext::log_other(const char *source, const uint8_t *data, size_t length) {
    if (!log_path.empty())
        append_line(log_path, std::string(source) + " " + hex_bytes(data, length));
}

} // namespace ksim

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_signal(int) {
    stop_requested = 1;
}

const char usage[] =
    "usage: kestrel-sim [--msd DIR] [--tcp 127.0.0.1:PORT] [options]\n"
    "  --msd DIR          serve command.out / command.in in DIR (created if missing)\n"
    "  --tcp ADDR:PORT    listen for the TCP link (port 0 picks a free port)\n"
    "  --state-in FILE    start from the state in FILE (key value lines)\n"
    "  --state-out FILE   rewrite FILE with the state after every request\n"
    "  --state FILE       both: start from FILE when it exists, keep it up to date\n"
    "  --set KEY=VALUE    set one state key (after --state-in)\n"
    "  --log FILE         append every request to FILE\n"
    "  --ready-file FILE  write FILE once serving (its text is the ready line)\n"
    "  --silent           never answer\n"
    "  --silent-after N   answer the first N requests only\n"
    "  --delay-ms N       answer N ms after each request\n"
    "  --answer-code N    put report code N in every answer\n"
    "  --extra-28         send a code-28 answer before every answer\n"
    "  --stale-answer N   send a user memory answer of value N before the first answer\n"
    "  --tcp-close-after N    TCP: answer N messages, close when the next arrives\n"
    "  --tcp-answer-length N  TCP: pad every answer with zeros to N bytes (up to 8191)\n"
    "  --tcp-split-ms N       TCP: send every answer in two parts, N ms apart\n";

bool file_exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

} // namespace

int main(int argc, char **argv) {
    ksim::SimContext ctx;
    std::string msd_dir, tcp_addr, state_in, ready_file;
    std::vector<std::string> sets;

    for (int i = 1; i < argc; i++) {
        std::string opt = argv[i];
        auto need_value = [&](std::string &into) {
            if (i + 1 >= argc) {
                fprintf(stderr, "kestrel-sim: %s needs a value\n%s", opt.c_str(), usage);
                exit(2);
            }
            into = argv[++i];
        };
        auto fault = [&](const char *key, const std::string &value) {
            if (!ksim::set_fault(ctx.rx.faults, key, value)) {
                fprintf(stderr, "kestrel-sim: bad value for %s: %s\n", opt.c_str(), value.c_str());
                exit(2);
            }
        };
        std::string v;
        if (opt == "--msd") {
            need_value(msd_dir);
        } else if (opt == "--tcp") {
            need_value(tcp_addr);
        } else if (opt == "--state-in") {
            need_value(state_in);
        } else if (opt == "--state-out") {
            need_value(ctx.state_out);
        } else if (opt == "--state") {
            need_value(ctx.state_out);
            if (file_exists(ctx.state_out))
                state_in = ctx.state_out;
        } else if (opt == "--set") {
            need_value(v);
            sets.push_back(v);
        } else if (opt == "--log") {
            need_value(ctx.log_path);
        } else if (opt == "--ready-file") {
            need_value(ready_file);
        } else if (opt == "--silent") {
            fault("silent", "1");
        } else if (opt == "--silent-after") {
            need_value(v);
            fault("silent_after", v);
        } else if (opt == "--delay-ms") {
            need_value(v);
            fault("delay_ms", v);
        } else if (opt == "--answer-code") {
            need_value(v);
            fault("answer_code", v);
        } else if (opt == "--extra-28") {
            fault("extra_28", "1");
        } else if (opt == "--stale-answer") {
            need_value(v);
            fault("stale_answer", v);
        } else if (opt == "--tcp-close-after" || opt == "--tcp-answer-length" ||
                   opt == "--tcp-split-ms") {
            need_value(v);
            char *end = nullptr;
            errno = 0;
            long n = strtol(v.c_str(), &end, 10);
            long most = opt == "--tcp-answer-length" ? 0x1FFF : 600000;
            if (v.empty() || *end != '\0' || errno != 0 || n < 0 || n > most) {
                fprintf(stderr, "kestrel-sim: bad value for %s: %s\n", opt.c_str(), v.c_str());
                return 2;
            }
            if (opt == "--tcp-close-after")
                ctx.tcp_faults.close_after = n;
            else if (opt == "--tcp-answer-length")
                ctx.tcp_faults.answer_length = static_cast<int>(n);
            else
                ctx.tcp_faults.split_ms = static_cast<int>(n);
        } else if (opt == "--help" || opt == "-h") {
            fputs(usage, stdout);
            return 0;
        } else {
            fprintf(stderr, "kestrel-sim: unknown option %s\n%s", opt.c_str(), usage);
            return 2;
        }
    }
    if (msd_dir.empty() && tcp_addr.empty()) {
        fprintf(stderr, "kestrel-sim: give --msd DIR or --tcp ADDR:PORT\n%s", usage);
        return 2;
    }

    std::string error;
    if (!state_in.empty() && !ksim::load_file(ctx.rx, state_in, &error)) {
        fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
        return 2;
    }
    for (const std::string &s : sets) {
        size_t eq = s.find('=');
        if (eq == std::string::npos || !ctx.rx.set(s.substr(0, eq), s.substr(eq + 1))) {
            fprintf(stderr, "kestrel-sim: cannot set %s\n", s.c_str());
            return 2;
        }
    }
    if (!ctx.state_out.empty() && !ksim::dump_file(ctx.rx, ctx.state_out)) {
        fprintf(stderr, "kestrel-sim: cannot write %s\n", ctx.state_out.c_str());
        return 2;
    }

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<ksim::Transport>> transports;
    std::string ready = "kestrel-sim: serving";
    if (!msd_dir.empty()) {
        auto t = ksim::make_msd_transport(ctx, msd_dir, &error);
        if (!t) {
            fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
            return 1;
        }
        transports.push_back(std::move(t));
        ready += " msd " + msd_dir;
    }
    if (!tcp_addr.empty()) {
        std::string bound;
        auto t = ksim::make_tcp_transport(ctx, tcp_addr, &bound, &error);
        if (!t) {
            fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
            return 1;
        }
        transports.push_back(std::move(t));
        ready += " tcp " + bound;
    }
    ready += "\n";
    fputs(ready.c_str(), stdout);
    fflush(stdout);
    if (!ready_file.empty()) {
        // Written under another name and renamed, so it appears complete.
        std::string tmp = ready_file + ".tmp";
        FILE *f = fopen(tmp.c_str(), "w");
        if (f == nullptr || fputs(ready.c_str(), f) < 0 || fclose(f) != 0 ||
            rename(tmp.c_str(), ready_file.c_str()) != 0) {
            fprintf(stderr, "kestrel-sim: cannot write %s\n", ready_file.c_str());
            return 1;
        }
    }

    std::vector<pollfd> fds;
    while (!stop_requested) {
        fds.clear();
        int timeout = -1;
        for (auto &t : transports)
            t->prepare(fds, timeout);
        if (timeout < 0 || timeout > 100)
            timeout = 100; // a stop request is noticed within this time
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            perror("kestrel-sim: poll");
            return 1;
        }
        if (stop_requested)
            break;
        for (auto &t : transports)
            t->service(fds);
    }
    return 0;
}
