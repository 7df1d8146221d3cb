// The hint line for a receiver that is plugged in but cannot be opened.
#include "fe_access_hint.h"

#include <cstdio>

#include <hidapi.h>

#include "visible_text.h"

int HID_Access_Hint(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial) {
    hid_device_info *list = hid_enumerate(vendor_id, product_id);
    const hid_device_info *seen = nullptr;
    for (const hid_device_info *d = list; d != nullptr && seen == nullptr; d = d->next) {
        // With -N only the receiver of that serial number counts: another
        // one that is plugged in was not asked for.
        if (serial == nullptr ||
            (d->serial_number != nullptr && wcscmp(d->serial_number, serial) == 0))
            seen = d;
    }
    if (seen != nullptr) {
        char path[visible_size(1023)];
        visible_text(seen->path != nullptr ? seen->path : "", path, sizeof path);
        fprintf(stderr,
                "Hint: receiver %04hx:%04hx is attached (%s) but cannot be opened; to open it "
                "without root, install the udev rules file %s and plug it in again "
                "(see PERMISSIONS in kestrel(1))\n",
                vendor_id, product_id, path, UDEV_RULES_FILE_NAME);
    }
    hid_free_enumeration(list);
    return seen != nullptr ? 1 : 0;
}
