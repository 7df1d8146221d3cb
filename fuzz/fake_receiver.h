// SPDX-License-Identifier: MIT
// The receiver that the fuzz targets talk to, inside the fuzzing process:
// the simulator's receiver model, with a script of bytes from the fuzz input
// deciding how each answer is delivered. The stand-ins for the HID library,
// the drive files and the TCP link (fake_*.cpp) all go through here, so one
// input reaches every transport the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "receiver_model.h"

namespace fuzz {

// --- The script: the part of the fuzz input that plays the receiver ------

void script_begin(const uint8_t *data, size_t size);
// The next byte, or `at_end` once the script is used up.
uint8_t script_byte(uint8_t at_end);
// Copies up to `n` bytes into `out`; returns how many there were.
size_t script_bytes(uint8_t *out, size_t n);
size_t script_left();

// --- The receiver ---------------------------------------------------------

// A fresh receiver for the next run: default state, nothing pending, no
// requests seen.
void receiver_reset();
ksim::Receiver &receiver();
// A request arrives (any length); the model's answers wait in a queue.
void receiver_take(const uint8_t *report, size_t length);
// Every request of this run, as it arrived.
const std::vector<std::vector<uint8_t>> &receiver_requests();
// The transports count every report or message the utility tried to send,
// whether or not it arrived, with the longest wait for its answer that the
// utility allows on that transport (and the link's connect its own).
void note_send_attempt(uint64_t allowed_wait_ms);
uint64_t send_attempts();
// The sum of those waits: how long a run may wait in all.
uint64_t allowed_wait_ms();

// How the next answer comes, decided by one script byte:
//   0x00-0x7F  the model's next answer (nothing when none is waiting);
//   0x80-0xBF  (byte & 0x0F) raw bytes taken from the script, while the
//              model's answers stay queued (they come late or never);
//   0xC0-0xEF  nothing yet (a time-out);
//   0xF0-0xFF  a transport error.
// At the end of the script the model answers.
enum class Delivery { answer, nothing, error };
// Fills `out` (up to `capacity` bytes) and sets `length` for an answer.
Delivery receiver_answer(uint8_t *out, size_t capacity, size_t *length);

// The model's next waiting answer, without a script byte (for transports
// that script their answers themselves). False when none is waiting.
bool receiver_model_answer(uint8_t out[7]);

// A private scratch directory for files the targets need (created once).
const std::string &scratch_dir();

// Sends the utility's standard output to /dev/null (its printing is not
// what is fuzzed, and it would flood the fuzzer's console).
void silence_stdout();

} // namespace fuzz
