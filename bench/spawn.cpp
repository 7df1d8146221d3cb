// SPDX-License-Identifier: MIT
// bench_spawn: runs commands one after the other, in rounds, and prints for
// every run its wall time and the peak resident memory that the kernel
// recorded for it.
//
//   bench_spawn ROUNDS WARMUP TIMEOUT_S CMD ARGS... [:: CMD ARGS...]...
//
// Every round runs each command once; the first command of a round moves on
// by one each round, so that no command always runs straight after another.
// The first WARMUP rounds are run but not printed. Each measured run prints
// one line:
//
//   <command number from 0> <wall time in ns> <peak resident KiB> <status>
//
// The status is the exit status, or 128 + the signal that ended the run. A
// run still going after TIMEOUT_S seconds is killed (status 128 + 9).
// Standard input, output and error of the runs are /dev/null.
//
// The wall time spans posix_spawn to the end of wait4, so it holds the whole
// process: exec, loading its libraries, the run itself and its exit. The
// peak resident memory is ru_maxrss of the child; it can never be below what
// this spawner itself holds when it starts the child, which is why it links
// nothing but the C library.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int MAX_COMMANDS = 16;

volatile sig_atomic_t running_child = 0;

void on_alarm(int) {
    if (running_child > 0)
        kill(static_cast<pid_t>(running_child), SIGKILL);
}

// Reads a whole decimal number in [min, max]; false for anything else.
bool parse_long(const char *text, long min, long max, long *out) {
    if (text == nullptr || *text == '\0')
        return false;
    errno = 0;
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

uint64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

struct run_result {
    uint64_t ns;
    long maxrss_kb;
    int status;
};

bool run_once(char *const *argv, const posix_spawn_file_actions_t *actions, unsigned timeout_s,
              run_result *result) {
    uint64_t start = now_ns();
    pid_t pid = 0;
    int err = posix_spawnp(&pid, argv[0], actions, nullptr, argv, environ);
    if (err != 0) {
        fprintf(stderr, "bench_spawn: %s: %s\n", argv[0], strerror(err));
        return false;
    }
    running_child = pid;
    alarm(timeout_s);
    int status = 0;
    rusage usage{};
    pid_t r;
    do {
        r = wait4(pid, &status, 0, &usage);
    } while (r < 0 && errno == EINTR);
    uint64_t end = now_ns();
    alarm(0);
    running_child = 0;
    if (r != pid) {
        fprintf(stderr, "bench_spawn: wait4: %s\n", strerror(errno));
        return false;
    }
    result->ns = end - start;
    result->maxrss_kb = usage.ru_maxrss;
    result->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int usage() {
    fputs("usage: bench_spawn ROUNDS WARMUP TIMEOUT_S CMD ARGS... [:: CMD ARGS...]...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    long rounds = 0, warmup = 0, timeout_s = 0;
    if (argc < 5 || !parse_long(argv[1], 1, 1000000, &rounds) ||
        !parse_long(argv[2], 0, 1000000, &warmup) || !parse_long(argv[3], 1, 3600, &timeout_s))
        return usage();

    // Split the rest at "::" into commands; each is terminated in place.
    char **commands[MAX_COMMANDS];
    int count = 0;
    commands[count++] = argv + 4;
    for (int i = 4; i < argc; i++) {
        if (strcmp(argv[i], "::") != 0)
            continue;
        argv[i] = nullptr;
        if (count == MAX_COMMANDS) {
            fprintf(stderr, "bench_spawn: at most %d commands\n", MAX_COMMANDS);
            return 2;
        }
        commands[count++] = argv + i + 1;
    }
    for (int c = 0; c < count; c++)
        if (commands[c][0] == nullptr)
            return usage();

    struct sigaction sa {};
    sa.sa_handler = on_alarm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    for (long round = 0; round < warmup + rounds; round++) {
        for (int k = 0; k < count; k++) {
            int c = static_cast<int>((round + k) % count);
            run_result result{};
            if (!run_once(commands[c], &actions, static_cast<unsigned>(timeout_s), &result))
                return 1;
            if (round >= warmup)
                printf("%d %llu %ld %d\n", c, static_cast<unsigned long long>(result.ns),
                       result.maxrss_kb, result.status);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return fflush(stdout) == 0 ? 0 : 1;
}
