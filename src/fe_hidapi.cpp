// SPDX-License-Identifier: MIT
// Finding the USB HID library's functions on first use.
#include "fe_hidapi.h"

#include <cstdio>

#include "platform/dynlib.h"

namespace {

struct entry {
    const char *name;
    void **slot;
};

// Looks every function of `names` up with `find`; false when one is missing.
template <typename Find> bool find_all(const entry *entries, size_t count, Find find) {
    for (size_t i = 0; i < count; i++) {
        *entries[i].slot = find(entries[i].name);
        if (*entries[i].slot == nullptr)
            return false;
    }
    return true;
}

// What the first fe_hidapi() found, kept for the rest of the run.
fe_hidapi_functions found_functions;
int found_state = 0; // 0: not looked for yet, 1: found, -1: missing

} // namespace

bool fe_hidapi_find(const char *library, fe_hidapi_functions *f, char *why, size_t why_size) {
    void *slots[8] = {};
    const entry entries[] = {
        {"hid_enumerate", &slots[0]},
        {"hid_free_enumeration", &slots[1]},
        {"hid_open", &slots[2]},
        {"hid_set_nonblocking", &slots[3]},
        {"hid_get_product_string", &slots[4]},
        {"hid_write", &slots[5]},
        {"hid_read_timeout", &slots[6]},
        {"hid_close", &slots[7]},
    };
    constexpr size_t count = sizeof entries / sizeof entries[0];
    // A library in the process is taken only when it has every function: a
    // program that happens to define one of these names is no HID library.
    bool found = find_all(
        entries, count, [library](const char *name) { return plat_process_symbol(library, name); });
    if (!found) {
        void *handle = plat_library_load(library, why, why_size);
        if (handle == nullptr)
            return false;
        found = find_all(entries, count,
                         [handle](const char *name) { return plat_library_symbol(handle, name); });
        if (!found) {
            for (const entry &e : entries)
                if (*e.slot == nullptr) {
                    snprintf(why, why_size, "it has no function %s", e.name);
                    break;
                }
            return false;
        }
    }
    f->enumerate = reinterpret_cast<decltype(f->enumerate)>(slots[0]);
    f->free_enumeration = reinterpret_cast<decltype(f->free_enumeration)>(slots[1]);
    f->open = reinterpret_cast<decltype(f->open)>(slots[2]);
    f->set_nonblocking = reinterpret_cast<decltype(f->set_nonblocking)>(slots[3]);
    f->get_product_string = reinterpret_cast<decltype(f->get_product_string)>(slots[4]);
    f->write = reinterpret_cast<decltype(f->write)>(slots[5]);
    f->read_timeout = reinterpret_cast<decltype(f->read_timeout)>(slots[6]);
    f->close = reinterpret_cast<decltype(f->close)>(slots[7]);
    return true;
}

const fe_hidapi_functions *fe_hidapi(void) {
    // Looked for once per process: the answer does not change while it runs.
    if (found_state == 0) {
        char why[256] = "";
        found_state = fe_hidapi_find(FE_HIDAPI_LIBRARY, &found_functions, why, sizeof why) ? 1 : -1;
        if (found_state < 0)
            fprintf(stderr,
                    "USB HID is not available: the hidapi library (%s) cannot be loaded (%s); "
                    "the drive and TCP still work\n",
                    FE_HIDAPI_LIBRARY, why);
    }
    return found_state > 0 ? &found_functions : nullptr;
}

hid_device_info *fe_hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    const fe_hidapi_functions *hid = fe_hidapi();
    return hid != nullptr ? hid->enumerate(vendor_id, product_id) : nullptr;
}

void fe_hid_free_enumeration(hid_device_info *list) {
    const fe_hidapi_functions *hid = fe_hidapi();
    if (hid != nullptr)
        hid->free_enumeration(list);
}
