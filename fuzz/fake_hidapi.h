// SPDX-License-Identifier: MIT
// A stand-in for the USB HID library inside the fuzzing process: every
// hid_* function of its interface, backed by the fuzz receiver
// (fake_receiver.h) instead of USB devices. Nothing here reaches a real
// device.
#pragma once

#include <cstdint>

namespace fuzz {

// Which receivers are attached for the next run, from one byte:
//   bits 0-1  identity of the first receiver (0483:5932, 255D:0002,
//             255D:0001, 255D:0006)
//   bit 2     no receiver attached at all
//   bit 3     the first receiver is listed but cannot be opened
//   bit 4     its product string cannot be read
//   bit 5     every report write fails
//   bit 6     it has no serial number (otherwise "0001")
//   bit 7     a second receiver, of the next identity, serial "0002"
void hid_configure(uint8_t config);
// Devices opened and not closed (the utility closes what it opens, except
// where the run ends with the receiver restarting).
int hid_open_devices();

} // namespace fuzz
