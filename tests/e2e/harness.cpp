// SPDX-License-Identifier: MIT
#include "harness.h"

#include "help.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace e2e {

namespace {

// The utility's own clock: it never jumps.
long now_ms() {
    return static_cast<long>(plat_monotonic_ms());
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
}

// Log lines are "<source> <hex bytes>".
std::vector<std::string> log_lines(const std::string &path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> requests_of(const std::string &path, const std::string &source) {
    std::vector<std::string> out;
    for (const std::string &line : log_lines(path)) {
        size_t space = line.find(' ');
        std::string who = line.substr(0, space);
        std::string hex = space == std::string::npos ? "" : line.substr(space + 1);
        if (source.empty() || who == source)
            out.push_back(hex);
    }
    return out;
}

// Starts a server in the background, its output into the two files.
pid_t spawn_server(const std::string &bin, const std::vector<std::string> &args,
                   const std::string &out_file, const std::string &err_file,
                   const std::vector<std::pair<std::string, std::string>> &env = {}) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(bin.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Waits until child `pid` has ended, at most `ms`, and reaps it: woken by the
// process's descriptor becoming readable when it ends. Where the system has
// no process descriptors, looks every 10 ms until the deadline.
bool exited_within(int pid, long ms, int *wstatus) {
    const long deadline = now_ms() + ms;
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool reaped = false;
    for (;;) {
        int got = waitpid(pid, wstatus, WNOHANG);
        reaped = got == pid;
        long left = deadline - now_ms();
        if (reaped || (got < 0 && errno != EINTR) || left <= 0)
            break;
        pollfd p{pidfd, POLLIN, 0};
        if (pidfd < 0 || poll(&p, 1, static_cast<int>(left)) < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 10L)));
    }
    if (pidfd >= 0)
        close(pidfd);
    return reaped;
}

// Stops a server by its process id with `sig`; one that does not end
// within 5 s, or ends with another status than 0 (a crash, a sanitizer
// report), fails the test.
void stop_server(int *pid, const char *name, const std::string &err_file, int sig = SIGTERM) {
    if (*pid <= 0)
        return;
    kill(*pid, sig);
    int wstatus = 0;
    if (exited_within(*pid, 5000, &wstatus)) {
        *pid = -1;
        if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0)
            ADD_FAILURE() << name << " did not end cleanly (status " << wstatus
                          << "): " << read_file(err_file);
        return;
    }
    ADD_FAILURE() << name << " did not stop on SIGTERM";
    kill(*pid, SIGKILL);
    waitpid(*pid, &wstatus, 0);
    *pid = -1;
}

std::map<std::string, std::string> parse_state(const std::string &text) {
    std::map<std::string, std::string> m;
    std::istringstream in(text);
    std::string key, value;
    while (in >> key >> value)
        m[key] = value;
    return m;
}

std::string state_text(const std::map<std::string, std::string> &m) {
    std::string out;
    for (const auto &[k, v] : m)
        out += k + " " + v + "\n";
    return out;
}

std::string faults_text(const Faults &f, const std::string &prefix) {
    std::string out;
    out += prefix + "silent " + (f.silent ? "1" : "0") + "\n";
    if (f.silent_after >= 0)
        out += prefix + "silent_after " + std::to_string(f.silent_after) + "\n";
    out += prefix + "delay_ms " + std::to_string(f.delay_ms) + "\n";
    if (f.answer_code >= 0)
        out += prefix + "answer_code " + std::to_string(f.answer_code) + "\n";
    out += prefix + "extra_28 " + (f.extra_28 ? "1" : "0") + "\n";
    if (f.stale_answer >= 0)
        out += prefix + "stale_answer " + std::to_string(f.stale_answer) + "\n";
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

RunResult run_process(const std::string &binary, const std::vector<std::string> &args,
                      const RunOptions &options) {
    RunResult r;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return r;
    }
    std::vector<std::string> env_strings;
    bool has_lc_all = false;
    for (const auto &[k, v] : options.env)
        has_lc_all = has_lc_all || k == "LC_ALL";
    for (char **e = environ; *e != nullptr; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool overridden = name == "LC_ALL" && !has_lc_all;
        for (const auto &[k, v] : options.env)
            overridden = overridden || k == name;
        if (!overridden)
            env_strings.push_back(entry);
    }
    if (!has_lc_all)
        env_strings.push_back("LC_ALL=C.UTF-8");
    for (const auto &[k, v] : options.env)
        env_strings.push_back(k + "=" + v);

    std::vector<char *> argv, envp;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string &e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const long start = now_ms();
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        return r;
    }
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&r.out, &r.err};
    int open_pipes = 2;
    const long deadline = start + options.timeout_ms;
    while (open_pipes > 0) {
        long left = deadline - now_ms();
        if (left <= 0) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_pipes--;
            }
        }
    }
    for (pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    r.elapsed_ms = now_ms() - start;
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        r.status = 128 + WTERMSIG(wstatus);
    return r;
}

// The Windows kestrel.exe, when the tests run against it (under wine).
const char *windows_exe() {
    const char *exe = getenv("KESTREL_E2E_WINDOWS_EXE");
    return exe != nullptr && *exe != '\0' ? exe : nullptr;
}

bool windows_target() {
    return windows_exe() != nullptr;
}

// The build of another system (arm64, armhf) whose programs the tests run,
// under qemu-user, instead of this build's.
static std::string target_build(const char *file, const char *own) {
    const char *dir = getenv("KESTREL_E2E_TARGET_BUILD");
    return dir != nullptr && *dir != '\0' ? std::string(dir) + "/" + file : own;
}

std::string kestrel_binary() {
    return windows_exe() != nullptr ? windows_exe() : target_build("kestrel", KESTREL_BINARY);
}
std::string kestreld_binary() {
    return target_build("kestreld/kestreld", KESTRELD_BINARY);
}

std::string sim_binary() {
    return target_build("sim/kestrel-sim", KESTREL_SIM_BINARY);
}
std::string hid_library() {
    return target_build("sim/libkestrel_sim_hid.so", KESTREL_SIM_HID_LIBRARY);
}

// The Windows kestreld.exe, when the tests run against it.
const char *windows_kestreld() {
    const char *exe = getenv("KESTREL_E2E_WINDOWS_KESTRELD");
    return exe != nullptr && *exe != '\0' ? exe : nullptr;
}

// The command line that runs a Windows program under wine.
std::vector<std::string> under_wine(const char *exe, const std::vector<std::string> &args) {
    std::vector<std::string> wine_args = {getenv("KESTREL_E2E_WINE_PREFIX"), exe};
    wine_args.insert(wine_args.end(), args.begin(), args.end());
    return wine_args;
}

std::string drive_option(const std::string &dir) {
    return "-P" + (windows_target() ? "Z:" + dir : dir);
}

// kestrel.exe writes through the C runtime's text mode: every "\n" reaches
// a pipe as "\r\n". Checks that it did and takes the added "\r" away, so
// that the expectations of the Linux program apply as they are.
std::string from_text_mode(const std::string &text, const char *stream) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n') {
            if (out.empty() || out.back() != '\r') {
                ADD_FAILURE() << stream << " has a \"\\n\" without \"\\r\" at byte " << i;
                return text;
            }
            out.pop_back();
        }
        out += text[i];
    }
    return out;
}

RunResult run_kestrel(const std::vector<std::string> &args, const HidSim &sim, RunOptions options) {
    const char *exe = windows_exe();
    for (auto &kv : sim.env())
        if (exe == nullptr || kv.first != "LD_PRELOAD")
            options.env.push_back(kv);
    if (exe == nullptr)
        return run_process(kestrel_binary(), args, options);
    // The simulated receivers reach kestrel.exe through the hidapi.dll
    // stand-in beside it, which reads the same configuration.
    RunResult r = run_process(getenv("KESTREL_E2E_WINE_RUN"), under_wine(exe, args), options);
    r.out = from_text_mode(r.out, "stdout");
    r.err = from_text_mode(r.err, "stderr");
    return r;
}

RunResult run_kestreld(const std::vector<std::string> &args, RunOptions options) {
    const char *exe = windows_kestreld();
    if (exe == nullptr)
        return run_process(kestreld_binary(), args, options);
    RunResult r = run_process(getenv("KESTREL_E2E_WINE_RUN"), under_wine(exe, args), options);
    r.out = from_text_mode(r.out, "stdout");
    r.err = from_text_mode(r.err, "stderr");
    return r;
}

RunResult run_kestrel(const std::vector<std::string> &args, RunOptions options) {
    HidSim none;
    return run_kestrel(args, none, std::move(options));
}

// ---------------------------------------------------------------------------
// Scratch directories
// ---------------------------------------------------------------------------

ScratchDir::ScratchDir() {
    const char *tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kestrel-e2e-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    path_ = buf.data();
}

ScratchDir::~ScratchDir() {
    if (getenv("KESTREL_E2E_KEEP") != nullptr)
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void ScratchDir::write(const std::string &name, const std::string &content) const {
    write_file(file(name), content);
}

std::string ScratchDir::read(const std::string &name) const {
    return read_file(file(name));
}

bool ScratchDir::exists(const std::string &name) const {
    return access(file(name).c_str(), F_OK) == 0;
}

std::string ScratchDir::subdir(const std::string &name) const {
    std::error_code ec;
    std::filesystem::create_directories(file(name), ec);
    if (ec)
        ADD_FAILURE() << "cannot create " << file(name) << ": " << ec.message();
    return file(name) + "/";
}

// ---------------------------------------------------------------------------
// HID receivers
// ---------------------------------------------------------------------------

HidSim::HidSim() = default;

std::string HidSim::add_device(HidDevice device) {
    const size_t n = devices_.size() + 1;
    if (device.id.empty())
        device.id = "dev" + std::to_string(n);
    if (device.path.empty())
        device.path = "sim-hid-" + std::to_string(n);
    if (!device.state.empty())
        write_file(state_file(device.id), state_text(device.state));
    devices_.push_back(device);
    return device.id;
}

std::string HidSim::state_file(const std::string &device) const {
    std::string id = device;
    if (id.empty() && !devices_.empty())
        id = devices_.front().id;
    return dir_.file(id + ".state");
}

void HidSim::write_config() const {
    std::string text = "log " + dir_.file("requests.log") + "\n";
    for (const HidDevice &d : devices_) {
        char ids[64];
        snprintf(ids, sizeof ids, "vid 0x%04X\npid 0x%04X\n", d.vid, d.pid);
        text += "device " + d.id + "\n" + ids;
        if (d.serial)
            text += "serial " + *d.serial + "\n";
        if (d.product)
            text += "product " + *d.product + "\n";
        if (d.manufacturer)
            text += "manufacturer " + *d.manufacturer + "\n";
        text += "path " + d.path + "\n";
        text += std::string("open ") + (d.openable ? "1" : "0") + "\n";
        if (!d.unplugged.empty())
            text += "unplugged " + d.unplugged + "\n";
        text += "state " + state_file(d.id) + "\n";
        text += faults_text(d.faults, "fault.");
    }
    write_file(dir_.file("hid.conf"), text);
}

std::vector<std::pair<std::string, std::string>> HidSim::env() const {
    write_config();
    std::string preload = hid_library();
    if (std::string(KESTREL_PRELOAD_FIRST) != "")
        preload = std::string(KESTREL_PRELOAD_FIRST) + ":" + preload;
    return {{"KESTREL_SIM_HID_CONFIG", dir_.file("hid.conf")}, {"LD_PRELOAD", preload}};
}

std::vector<std::string> HidSim::requests(const std::string &device) const {
    return requests_of(dir_.file("requests.log"), device);
}

std::vector<std::string> HidSim::request_lines() const {
    return log_lines(dir_.file("requests.log"));
}

void HidSim::clear_requests() {
    unlink(dir_.file("requests.log").c_str());
}

std::map<std::string, std::string> HidSim::state_map(const std::string &device) const {
    return parse_state(read_file(state_file(device)));
}

std::string HidSim::state(const std::string &key, const std::string &device) const {
    auto m = state_map(device);
    auto it = m.find(key);
    if (it == m.end()) {
        ADD_FAILURE() << "no state key " << key << " for device '" << device
                      << "' (the device's state is written by its first run)";
        return "";
    }
    return it->second;
}

void HidSim::set_state(const std::string &key, const std::string &value,
                       const std::string &device) {
    auto m = state_map(device);
    m[key] = value;
    write_file(state_file(device), state_text(m));
}

void HidSim::set_faults(const Faults &faults, const std::string &device) {
    for (HidDevice &d : devices_) {
        if (device.empty() || d.id == device) {
            d.faults = faults;
            return;
        }
    }
    ADD_FAILURE() << "no device " << device;
}

// ---------------------------------------------------------------------------
// The drive files served by kestrel-sim
// ---------------------------------------------------------------------------

MsdSim::MsdSim(MsdOptions options) {
    drive_ = dir_.subdir("drive");
    if (!options.state.empty())
        dir_.write("state.in", state_text(options.state));
    std::vector<std::string> args = {"--msd",        drive_,
                                     "--log",        dir_.file("requests.log"),
                                     "--state-out",  dir_.file("state"),
                                     "--ready-file", dir_.file("ready")};
    if (!options.state.empty()) {
        args.push_back("--state-in");
        args.push_back(dir_.file("state.in"));
    }
    if (options.tcp) {
        args.push_back("--tcp");
        args.push_back("127.0.0.1:0");
    }
    const Faults &f = options.faults;
    if (f.silent)
        args.push_back("--silent");
    if (f.silent_after >= 0) {
        args.push_back("--silent-after");
        args.push_back(std::to_string(f.silent_after));
    }
    if (f.delay_ms > 0) {
        args.push_back("--delay-ms");
        args.push_back(std::to_string(f.delay_ms));
    }
    if (f.answer_code >= 0) {
        args.push_back("--answer-code");
        args.push_back(std::to_string(f.answer_code));
    }
    if (f.extra_28)
        args.push_back("--extra-28");
    if (f.stale_answer >= 0) {
        args.push_back("--stale-answer");
        args.push_back(std::to_string(f.stale_answer));
    }
    const TcpFaults &t = options.tcp_faults;
    if (t.close_after >= 0) {
        args.push_back("--tcp-close-after");
        args.push_back(std::to_string(t.close_after));
    }
    if (t.answer_length > 0) {
        args.push_back("--tcp-answer-length");
        args.push_back(std::to_string(t.answer_length));
    }
    if (t.split_ms >= 0) {
        args.push_back("--tcp-split-ms");
        args.push_back(std::to_string(t.split_ms));
    }

    pid_ = spawn_server(sim_binary(), args, "/dev/null", dir_.file("sim.stderr"));
    // Serving once the ready file appears; bounded.
    for (int i = 0; i < 500; i++) {
        if (dir_.exists("ready"))
            break;
        int wstatus;
        if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
            pid_ = -1;
            ADD_FAILURE() << "kestrel-sim ended before serving: " << dir_.read("sim.stderr");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string ready = dir_.read("ready");
    if (ready.empty())
        ADD_FAILURE() << "kestrel-sim did not become ready: " << dir_.read("sim.stderr");
    size_t tcp = ready.find(" tcp 127.0.0.1:");
    if (tcp != std::string::npos)
        tcp_port_ = atoi(ready.c_str() + tcp + strlen(" tcp 127.0.0.1:"));
}

MsdSim::~MsdSim() {
    stop();
}

void MsdSim::stop() {
    stop_server(&pid_, "kestrel-sim", dir_.file("sim.stderr"));
}

std::vector<std::string> MsdSim::requests(const std::string &source) const {
    return requests_of(dir_.file("requests.log"), source);
}

std::vector<std::string> MsdSim::request_lines() const {
    return log_lines(dir_.file("requests.log"));
}

std::map<std::string, std::string> MsdSim::state_map() const {
    return parse_state(dir_.read("state"));
}

std::string MsdSim::state(const std::string &key) const {
    auto m = state_map();
    auto it = m.find(key);
    if (it == m.end()) {
        ADD_FAILURE() << "no state key " << key;
        return "";
    }
    return it->second;
}

// ---------------------------------------------------------------------------
// kestreld
// ---------------------------------------------------------------------------

Kestreld::Kestreld(const std::vector<std::string> &args,
                   const std::vector<std::pair<std::string, std::string>> &env) {
    std::vector<std::string> all = {"--listen", "127.0.0.1:0"}; // args may name another
    all.insert(all.end(), args.begin(), args.end());
    const char *exe = windows_kestreld();
    if (exe == nullptr) {
        pid_ = spawn_server(kestreld_binary(), all, dir_.file("out"), dir_.file("err"), env);
    } else {
        // The simulated receivers reach kestreld.exe through the hidapi.dll
        // stand-in beside it.
        std::vector<std::pair<std::string, std::string>> windows_env;
        for (const auto &kv : env)
            if (kv.first != "LD_PRELOAD")
                windows_env.push_back(kv);
        pid_ = spawn_server(getenv("KESTREL_E2E_WINE_RUN"), under_wine(exe, all), dir_.file("out"),
                            dir_.file("err"), windows_env);
    }
    // Serving once the ready line is out (127.0.0.1:PORT, or [::1]:PORT);
    // bounded (wine takes longer to start).
    const std::string ready = "kestreld: serving ";
    for (int i = 0; i < (exe == nullptr ? 500 : 2000) && port_ == 0; i++) {
        std::string out = dir_.read("out");
        if (out.rfind(ready, 0) == 0 && out.find('\n') != std::string::npos) {
            const size_t bracket = out.find(']');
            port_ = atoi(out.c_str() +
                         out.find(':', bracket == std::string::npos ? ready.size() : bracket) + 1);
            ready_line_ = out.substr(0, out.find('\n') + 1);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (port_ == 0)
        ADD_FAILURE() << "kestreld did not start serving: " << dir_.read("err");
}

Kestreld::~Kestreld() {
    stop();
}

void Kestreld::signal(int sig) const {
    if (pid_ > 0)
        kill(pid_, sig);
}

std::string Kestreld::log() const {
    return dir_.read("err");
}

void Kestreld::stop(int sig) {
    if (pid_ <= 0)
        return;
    // Wine ends at once on SIGTERM; SIGINT reaches kestreld.exe as Ctrl-C.
    if (windows_kestreld() != nullptr && sig == SIGTERM)
        sig = SIGINT;
    stop_server(&pid_, "kestreld", dir_.file("err"), sig);
    // None of kestrel's console texts: standard output is the ready line,
    // standard error kestreld's own log.
    EXPECT_EQ(dir_.read("out"), ready_line_);
    for (const std::string &line : log_lines(dir_.file("err")))
        EXPECT_EQ(line.rfind("kestreld: ", 0), 0u) << line;
}

// ---------------------------------------------------------------------------
// Expected text
// ---------------------------------------------------------------------------

std::string banner() {
    return std::string("kestrel v.") + KESTREL_VERSION_TEXT + "\n\r";
}

std::string help_screen() {
    return std::string("Kestrel utility version ") + KESTREL_VERSION_TEXT + "\n\r" + help_text +
           "\n\r";
}

std::string hid_open_text(const std::string &product) {
    return "Init HID interface - Blocking I/O mode!!! \n" + product + " device was found!!!\n";
}

std::string msd_open_text(const std::string &path) {
    return "Init HID interface - Blocking I/O mode!!! \nThe TALMIR path is: " + path +
           "\n\rTALMIR MSD Device\nTALMIR MSD Device device was found!!!\n";
}

std::string no_receiver_text(const std::string &path) {
    std::string where = path.empty()
                            ? std::string("The TALMIR path was not defined, use default: G:\\\n\r")
                            : "The TALMIR path is: " + path + "\n\r";
    return "Init HID interface - Blocking I/O mode!!! \n" + where +
           "Unable to open Input device!\r\nCannot open TALMIR SDR!\n\r";
}

std::string no_receiver_hint() {
    return "kestrel: no receiver found: tried USB HID (no receiver attached) and the receiver's "
           "drive (no mounted drive holds command.in and command.out); choose the transport: "
           "-P<dir>/ for the directory of the receiver's drive, -T<address> for a receiver on "
           "the network, -L to list the USB receivers\n";
}

std::string drive_hint(const std::string &drive, const std::string &file, const std::string &why) {
    if (why == "in use")
        return "kestrel: the receiver's drive at " + drive +
               " is in use by another kestrel run or by kestreld (it holds the lock on " + file +
               "): wait for that run to end, then try again\n";
    if (why == "read-only")
        return "kestrel: the receiver's drive at " + drive +
               " is mounted read-only (Read-only file system): mount it read-write\n";
    return "kestrel: " + drive + " holds no " + file +
           " (No such file or directory): give the top directory of the receiver's drive, ending "
           "in \"/\", as -P<dir>/ (the receiver shows its drive in mass-storage mode, -U0)\n";
}

} // namespace e2e
