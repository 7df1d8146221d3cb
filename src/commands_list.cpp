// SPDX-License-Identifier: MIT
// --list: what is attached and mounted, without opening any receiver. Every
// USB receiver of the identities the open accepts, then every mounted drive
// that holds the command files and what the drive search makes of it.
#include "commands.h"

#include <cstdio>

#include "fe_hidapi.h"
#include "fe_operations.h"
#include "platform/drive.h"
#include "visible_text.h"

namespace {

// Prints one line per string, its control characters escaped as -L does:
// a device must not steer the terminal. Returns the receivers listed.
int list_identity(unsigned short vendor_id, unsigned short product_id) {
    int count = 0;
    hid_device_info *list = fe_hid_enumerate(vendor_id, product_id);
    for (const hid_device_info *d = list; d != nullptr; d = d->next, count++) {
        char path[visible_size(1023)];
        printf("Receiver %04hx:%04hx\n  serial_number: ", d->vendor_id, d->product_id);
        print_visible_wide(stdout, d->serial_number != nullptr ? d->serial_number : L"");
        printf("\n  product: ");
        print_visible_wide(stdout, d->product_string != nullptr ? d->product_string : L"");
        printf("\n  path: %s\n",
               visible_text(d->path != nullptr ? d->path : "", path, sizeof path));
    }
    fe_hid_free_enumeration(list);
    return count;
}

const char *verdict_text(plat_drive_verdict verdict) {
    switch (verdict) {
    case PLAT_DRIVE_USED:
        return "used when no -P is given";
    case PLAT_DRIVE_NOT_FIRST:
        return "not used: a drive listed before it is used";
    case PLAT_DRIVE_OWNED_BY_OTHERS:
        return "not used: its top directory belongs to another user (give it with -P to use it)";
    case PLAT_DRIVE_WRITABLE_BY_OTHERS:
        return "not used: others may write its top directory (give it with -P to use it)";
    }
    return "";
}

} // namespace

int list_receivers_and_drives(void) {
    int receivers = 0;
    unsigned short vendor_id = 0, product_id = 0;
    // Without the HID library, fe_hidapi() says so in one line on stderr.
    const bool usb = fe_hidapi() != nullptr;
    for (size_t i = 0; usb && fe_receiver_identity(i, &vendor_id, &product_id); i++)
        receivers += list_identity(vendor_id, product_id);

    plat_drive_listing drives;
    plat_drive_search search;
    search.listing = &drives;
    char dir[256];
    plat_find_receiver_drive(dir, sizeof dir, &search);
    for (size_t i = 0; i < drives.count; i++) {
        char shown[visible_size(sizeof drives.drives[i].dir)];
        printf("Drive %s: %s\n", visible_text(drives.drives[i].dir, shown, sizeof shown),
               verdict_text(drives.drives[i].verdict));
    }
    if (drives.more)
        printf("More drives hold the command files than are listed here\n");
    if (search.timed_out)
        printf("The drive search stopped after %u ms: a mounted filesystem did not answer\n",
               search.limit_ms);
    if (receivers == 0 && drives.count == 0)
        printf("%s\n", usb ? "No receiver is attached and no mounted drive holds command.in and "
                             "command.out"
                           : "No mounted drive holds command.in and command.out");
    return 0;
}
