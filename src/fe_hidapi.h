// SPDX-License-Identifier: MIT
// The USB HID library, loaded the first time the USB transport is tried: a
// run over TCP or the drive files neither loads it nor needs it installed.
// A library already in the process (a stand-in preloaded by the tests or by
// the user) is used as it is; the library file is loaded only when the
// process has none.
#pragma once

#include <cstddef>

#include <hidapi.h>

// The library's functions that kestrel calls.
struct fe_hidapi_functions {
    decltype(&::hid_enumerate) enumerate = nullptr;
    decltype(&::hid_free_enumeration) free_enumeration = nullptr;
    decltype(&::hid_open) open = nullptr;
    decltype(&::hid_set_nonblocking) set_nonblocking = nullptr;
    decltype(&::hid_get_product_string) get_product_string = nullptr;
    decltype(&::hid_write) write = nullptr;
    decltype(&::hid_read_timeout) read_timeout = nullptr;
    decltype(&::hid_close) close = nullptr;
};

// The library file that is loaded when the process has no HID library.
#ifdef _WIN32
constexpr const char FE_HIDAPI_LIBRARY[] = "hidapi.dll";
#else
constexpr const char FE_HIDAPI_LIBRARY[] = "libhidapi-hidraw.so.0";
#endif

// The library's functions, found on the first call; null when there is no
// HID library, after one line on standard error that says so (on the first
// call only).
const fe_hidapi_functions *fe_hidapi(void);

// Finds every function: all of them in the process, or else all of them in
// the library file `library`, which is then loaded. Returns false, with the
// reason in `why`, when neither has them all.
bool fe_hidapi_find(const char *library, fe_hidapi_functions *f, char *why, size_t why_size);

// hid_enumerate and hid_free_enumeration through fe_hidapi(): no device is
// listed when there is no HID library.
hid_device_info *fe_hid_enumerate(unsigned short vendor_id, unsigned short product_id);
void fe_hid_free_enumeration(hid_device_info *list);
