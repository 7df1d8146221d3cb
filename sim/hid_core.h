// SPDX-License-Identifier: MIT
// The core of the stand-ins for the USB HID library: every hid_* function of
// its 0.13 interface, over a list of simulated receivers instead of USB
// devices. Three thin wrappers give the list and the receivers' behaviour:
//   sim/hid_shim.cpp     receivers from a configuration file, answered by the
//                        receiver model; built as the shared library that
//                        tests preload into kestrel on Linux, and as the
//                        hidapi.dll that stands beside a test copy of
//                        kestrel.exe on Windows
//   fuzz/fake_hidapi.cpp receivers inside a fuzzing process, whose answers
//                        the fuzz input scripts
//
// Kept here for all of them, as the utility relies on it: byte 0 of a
// written report is its report number; an input report numbered 0 arrives
// without its number byte; hid_open with a serial number compares it
// exactly and opens only the first matching device; enumeration lists the
// matching devices in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hidcore {

// One attached receiver, as the wrapper describes it.
struct Device {
    virtual ~Device() = default;
    // A report written (report number first). Returns `length`, or -1 when
    // the write fails.
    virtual int write(const unsigned char *data, size_t length) = 0;
    // The next answer report (report number first) into `out`, waiting at
    // most `timeout_ms` (-1: the device's own longest wait). Returns 1 with
    // `*length` set, 0 when none came in time, -1 on an error.
    virtual int answer(uint8_t *out, size_t capacity, size_t *length, int timeout_ms) = 0;
    // False while the receiver is unplugged: it is not listed and cannot be
    // opened, and a handle opened before fails every transfer from then on,
    // also after it came back.
    virtual bool present() const { return true; }

    std::string path;
    unsigned short vendor_id = 0;
    unsigned short product_id = 0;
    std::optional<std::wstring> serial, product, manufacturer;
    bool openable = true;
    bool one_handle = false; // a second open fails while the device is open
};

// The attached receivers, in order. `prepare` (when set) runs before every
// call that looks at them, so that a wrapper can read its configuration at
// the first use.
struct Attached {
    std::vector<Device *> devices;
    void (*prepare)(void) = nullptr;
};
Attached &attached();

// Handles opened and not closed.
int open_handles();
// Closes every handle still open (for a fuzzing process whose run ended
// where the utility would have exited with the device open).
void close_all_handles();

} // namespace hidcore
