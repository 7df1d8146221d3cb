// SPDX-License-Identifier: MIT
// A stand-in for the operating-system layer (platform.h) inside the fuzzing
// process: the receiver drive's command files live in memory and are served
// by the fuzz receiver (fake_receiver.h), and the clock only moves when the
// utility sleeps, so a receiver that never answers costs no real time.
#pragma once

#include <cstdint>

namespace fuzz {

// How the drive behaves in the next run, from one byte:
//   bit 0  command.in is missing      bit 1  command.out is missing
//   bit 2  sector reads fail          bit 3  writing an answer back fails
//   bit 4  request writes fail        bit 5  no sector buffer can be had
void drive_configure(uint8_t config);
// Milliseconds the utility slept or waited in this run.
uint64_t slept_ms();
// For the other stand-ins: a wait that lasts until `deadline_ms` on the
// stand-in clock, and the code that plat_last_error() gives next.
void wait_until(uint64_t deadline_ms);
void set_last_error(long code);

} // namespace fuzz
