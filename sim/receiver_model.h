// SPDX-License-Identifier: MIT
// The simulated receiver: its settings and identity values, and how it
// answers one front-end report. The transports (drive files, HID library,
// TCP) feed requests in and carry the answers out; they also apply the
// answer delay. The model decodes every report from its own table of the
// receiver's commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ksim {

// One answer report as the receiver sends it: 7 bytes, byte 0 the report code.
using Answer = std::array<uint8_t, 7>;

// Misbehaviour on request, for tests of how the utility copes.
struct Faults {
    bool silent = false;    // never answer
    long silent_after = -1; // answer the first N requests, then none (-1: off)
    int delay_ms = 0;       // each answer is ready this long after its request
    int answer_code = -1;   // replace byte 0 of every answer with this code (-1: off)
    bool extra_28 = false;  // send a code-28 generic answer before every real answer
    // Before the answer to the first request, an answer to a user memory
    // query with this value, as a receiver sends that answers a query of an
    // earlier run too late (-1: off).
    int64_t stale_answer = -1;
};

// Reads one fault setting ("silent 1", "delay_ms 50", ...). Returns false
// for an unknown key or a value that does not fit.
bool set_fault(Faults &faults, const std::string &key, const std::string &value);

// One command of the receiver's catalogue, for listing and tests.
struct CommandInfo {
    uint8_t report_code; // 1, 2 or 3
    uint8_t command;     // command code (byte 1); 0 for the frequency report
    const char *name;
    bool answered; // false for the commands after which the receiver restarts
};
const std::vector<CommandInfo> &command_catalogue();

class Receiver {
  public:
    Receiver();

    // Takes one request exactly as it arrived (any length, any bytes; bytes
    // missing from a short report count as 0), applies it to the state and
    // returns the answers to send, in order: none, one, or two with the
    // extra code-28 answer.
    std::vector<Answer> handle(const uint8_t *data, size_t length);

    // State as `key value` text lines; see sim/README.md for the keys.
    // set() accepts decimal, 0x-prefixed hexadecimal, and dotted quads for
    // the address keys; it refuses unknown keys and values too wide for the
    // key. load() reads lines, skipping blank and '#' lines, and also takes
    // the fault keys (`fault.silent 1`). The error names the first bad line.
    bool set(const std::string &key, const std::string &value);
    bool load(const std::string &text, std::string *error);
    std::optional<std::string> get(const std::string &key) const;
    std::optional<uint32_t> value(const std::string &key) const;
    std::string dump() const;

    Faults faults;
    // Requests taken by handle() in this run (they drive silent_after and
    // the value of the extra code-28 answer).
    uint64_t request_count = 0;

  private:
    std::map<std::string, uint32_t> values_;
    void put(const std::string &key, uint32_t v);
    uint32_t at(const std::string &key) const;
    void bump(const std::string &key);
    void restart();
};

// File helpers shared by the transports. dump_file writes through a
// temporary file and renames it, so a reader never sees half a state.
bool load_file(Receiver &rx, const std::string &path, std::string *error);
bool dump_file(const Receiver &rx, const std::string &path);

// "03 20 26 D7 00 00 00": bytes as upper-case hex pairs separated by blanks.
std::string hex_bytes(const uint8_t *data, size_t length);
// Appends one line to a log file (opened and closed each time, so several
// processes may share one log). Returns false when it cannot be written.
bool append_line(const std::string &path, const std::string &line);

// Fields of a request, least significant byte first, from byte `i` on.
uint32_t u16_at(const uint8_t *r, size_t i);
uint32_t u32_at(const uint8_t *r, size_t i);

// Milliseconds on a clock that never jumps: the one clock of the simulator's
// transports and of its HID stand-in.
uint64_t monotonic_ms();

} // namespace ksim
