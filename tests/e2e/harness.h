// SPDX-License-Identifier: MIT
// End-to-end test harness: runs the built `kestrel` against simulated
// receivers and captures what it prints, byte for byte.
//
// Running a program
//   RunResult r = run_kestrel({"-F14100000"}, sim);   // with the HID receivers of `sim`
//   RunResult r = run_kestrel({"-P" + msd.drive()});  // no HID receiver attached
//   r.out, r.err      stdout and stderr, separately, byte for byte
//   r.status          exit status as the shell sees it (-2 -> 254, -1 -> 255;
//                     128+N when killed by signal N)
//   r.timed_out       the run outlived RunOptions::timeout_ms and was killed
//   r.elapsed_ms      wall time of the run
//   RunOptions{.env = {{"NAME", "value"}}, .timeout_ms = 5000, .cwd = dir}
//   run_process(path, args, options) runs any other binary the same way.
//   Every run gets LC_ALL=C.UTF-8 unless its options set LC_ALL.
//
// Against the Windows kestrel.exe (the Windows build's ctest sets these):
//   KESTREL_E2E_WINDOWS_EXE=.../bin/hidsim/kestrel.exe (beside the hidapi.dll
//   stand-in), KESTREL_E2E_WINE_RUN=cmake/wine-run.sh and
//   KESTREL_E2E_WINE_PREFIX=<its wine prefix> make run_kestrel run kestrel.exe
//   under wine. Its output comes in text mode ("\n" as "\r\n"); run_kestrel
//   checks that and hands back the text as the Linux program writes it, so
//   the same expectations hold.
//
// HID receivers (the hidapi stand-in loaded into kestrel with LD_PRELOAD)
//   HidSim sim;                                  // no receiver attached yet
//   sim.add_device();                            // 0x255D/0x0002, serial "0001",
//                                                // product "TALMIR SDR", id "dev1"
//   sim.add_device({.id = "b", .vid = 0x0483, .pid = 0x5932, .serial = std::nullopt,
//                   .faults = {.delay_ms = 30}, .state = {{"freq.0", "7000000"}}});
//   sim.requests()            every report kestrel wrote, in order, as hex
//                             ("03 20 26 D7 00 00 00"), all devices
//   sim.requests("b")         only those written to device "b"
//   sim.state("freq.0")       one state key of the (first) device after the run
//   sim.state("mem.20", "b")  ... of device "b"
//   sim.set_state("fw", "0xFFFFFFFF", "b")   change a key between runs
//   sim.set_faults({.silent = true}, "b")    change faults between runs
//   sim.clear_requests()      forget the requests logged so far
//   The state persists from run to run, like a receiver's.
//   Devices with .openable = false are listed but fail to open.
//
// The drive files (a kestrel-sim process serving command.out/command.in)
//   MsdSim msd;                               // starts serving; stops in the destructor
//   MsdSim msd({.faults = {.delay_ms = 50}, .state = {{"fw", "0x01020304"}}});
//   msd.drive()               the drive directory, ending in "/", for -P
//   msd.requests() / msd.state(key)            as for HidSim
//   msd.stop()                stop serving now (the files stay)
//   MsdSim({.tcp = true}) also listens on 127.0.0.1 at msd.tcp_port(); its
//   requests are logged under "tcp" (tunnelled reports) and "tcp-control";
//   every whole message as it arrived under "tcp-in", every answer as sent
//   under "tcp-out".
//   MsdSim({.tcp = true, .tcp_faults = {.close_after = 2}})   the link's own
//   faults: close after N answered messages, answers padded to
//   .answer_length bytes, answers sent in two parts .split_ms apart.
//
// Scratch space
//   ScratchDir dir;           a fresh directory, removed afterwards (kept
//                             when KESTREL_E2E_KEEP is set)
//   dir.path(), dir.file("x") (the full name), dir.write("x", text),
//   dir.read("x"), dir.exists("x"), dir.subdir("drive") (created; its name ends in "/")
//
// Expected text pieces
//   banner()                  "kestrel v.1.27\n\r"
//   hid_open_text(product)    the start-up lines of a HID open
//   msd_open_text(path)       the start-up lines of an open over the drive files at -P path
//   no_receiver_text(path)    stdout of a run that opens nothing (path "" = default)
//   help_screen()             the version line and the help text, as -H prints them
//   no_receiver_hint(), drive_hint(drive, file, why)   stderr hints of a failed open
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> env;
    int timeout_ms = 20000;
    std::string cwd;
};

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;
    bool timed_out = false;
    long elapsed_ms = 0;
};

RunResult run_process(const std::string &binary, const std::vector<std::string> &args,
                      const RunOptions &options = {});

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;
    bool exists(const std::string &name) const;
    // Creates the directory `name` inside and returns its full path with "/".
    std::string subdir(const std::string &name) const;

  private:
    std::string path_;
};

// Misbehaviour of a simulated receiver.
struct Faults {
    bool silent = false;    // never answers
    long silent_after = -1; // answers the first N requests of a run, then none
    int delay_ms = 0;       // each answer comes this long after its request
    int answer_code = -1;   // every answer carries this report code instead
    bool extra_28 = false;  // a code-28 generic answer comes before every answer
    long stale_answer = -1; // a user memory answer of this value comes before the first answer
};

struct HidDevice {
    std::string id; // name in the request log; "dev1", "dev2", ... when empty
    uint16_t vid = 0x255D;
    uint16_t pid = 0x0002;
    std::optional<std::string> serial = "0001";
    std::optional<std::string> product = "TALMIR SDR";
    std::optional<std::string> manufacturer = "TALMIR";
    std::string path; // "sim-hid-N" when empty
    bool openable = true;
    std::string unplugged; // a file: while it exists, the receiver is unplugged
    Faults faults;
    std::map<std::string, std::string> state; // initial state keys
};

class HidSim {
  public:
    HidSim();
    // Attaches a receiver; returns its id.
    std::string add_device(HidDevice device = {});

    std::vector<std::string> requests(const std::string &device = "") const;
    std::vector<std::string> request_lines() const; // "<id> <hex>" lines
    void clear_requests();
    std::string state(const std::string &key, const std::string &device = "") const;
    std::map<std::string, std::string> state_map(const std::string &device = "") const;
    void set_state(const std::string &key, const std::string &value,
                   const std::string &device = "");
    void set_faults(const Faults &faults, const std::string &device = "");

    // The environment that loads the stand-in with these receivers into a
    // program (writes the configuration file).
    std::vector<std::pair<std::string, std::string>> env() const;
    const ScratchDir &dir() const { return dir_; }

  private:
    std::string state_file(const std::string &device) const;
    void write_config() const;
    ScratchDir dir_;
    std::vector<HidDevice> devices_;
};

// Misbehaviour of the simulated receiver's TCP link.
struct TcpFaults {
    long close_after = -1; // answers N messages, then closes when the next arrives
    int answer_length = 0; // every answer padded with zeros to this many bytes
    int split_ms = -1;     // every answer sent in two parts, this long apart
};

struct MsdOptions {
    Faults faults;
    std::map<std::string, std::string> state;
    bool tcp = false; // also listen on 127.0.0.1 (a free port)
    TcpFaults tcp_faults;
};

class MsdSim {
  public:
    explicit MsdSim(MsdOptions options = {});
    ~MsdSim();
    MsdSim(const MsdSim &) = delete;
    MsdSim &operator=(const MsdSim &) = delete;

    std::string drive() const { return drive_; }
    int tcp_port() const { return tcp_port_; }
    std::vector<std::string> requests(const std::string &source = "") const;
    std::vector<std::string> request_lines() const;
    std::string state(const std::string &key) const;
    std::map<std::string, std::string> state_map() const;
    void stop();
    const ScratchDir &dir() const { return dir_; }

  private:
    ScratchDir dir_;
    std::string drive_;
    int pid_ = -1;
    int tcp_port_ = 0;
};

// kestreld serving on 127.0.0.1 (a free port, unless `args` give --listen)
// until the end of the test,
// then stopped by its process id with SIGTERM; it must end with status 0,
// having printed nothing but its ready line on standard output and its
// own log lines on standard error. With KESTREL_E2E_WINDOWS_KESTRELD set
// (beside the variables of kestrel.exe below) it is kestreld.exe under
// wine, stopped with SIGINT, which wine turns into the console's Ctrl-C.
//   Kestreld server({"-T127.0.0.1", "-P" + std::to_string(sim.tcp_port())});
//   Kestreld server({}, hid.env());                  // the HID receivers of `hid`
//   server.port()             the port of channel 0 (server.ready_line(): its line)
//   server.stop(SIGHUP)       stop it with this signal (SIGTERM by default)
//   server.signal(SIGUSR1), server.log()   send a signal; its standard error
//   run_kestreld(args)        a run that is to end by itself (a refused command line)
class Kestreld {
  public:
    explicit Kestreld(const std::vector<std::string> &args,
                      const std::vector<std::pair<std::string, std::string>> &env = {});
    ~Kestreld();
    Kestreld(const Kestreld &) = delete;
    Kestreld &operator=(const Kestreld &) = delete;
    int port() const { return port_; }
    const std::string &ready_line() const { return ready_line_; }
    void stop(int sig = 15); // SIGTERM by default; fails the test unless it ends with 0
    void signal(int sig) const;
    std::string log() const; // its standard error so far

  private:
    ScratchDir dir_;
    int pid_ = -1;
    int port_ = 0;
    std::string ready_line_;
};

// Runs kestreld, or kestreld.exe under wine, to its end.
RunResult run_kestreld(const std::vector<std::string> &args, RunOptions options = {});

// Runs kestrel with the given HID receivers (none when `sim` is null).
RunResult run_kestrel(const std::vector<std::string> &args, const HidSim &sim,
                      RunOptions options = {});
RunResult run_kestrel(const std::vector<std::string> &args, RunOptions options = {});

std::string banner();
std::string hid_open_text(const std::string &product = "TALMIR SDR");
std::string msd_open_text(const std::string &path);
std::string no_receiver_text(const std::string &path = "");
std::string help_screen();
// The hint lines after a failed open: no receiver at all; the drive at
// `drive` whose `file` "holds no" such file, is "in use" or "read-only".
std::string no_receiver_hint();
std::string drive_hint(const std::string &drive, const std::string &file, const std::string &why);

// True when the tests run against the Windows kestrel.exe; `system_code`
// picks the error number that the system running kestrel uses for a fault.
bool windows_target();
inline long system_code(long posix, long windows) {
    return windows_target() ? windows : posix;
}

// The drive at `dir` as -P gives it: on Windows through wine's Z: drive.
std::string drive_option(const std::string &dir);

// Paths of the built programs.
std::string kestrel_binary();
std::string sim_binary();
std::string kestreld_binary();
std::string hid_library();

} // namespace e2e
