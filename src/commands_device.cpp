// SPDX-License-Identifier: MIT
// Receiver discovery (-L), the open at the start of a run, and the one
// answer read after every report, with their console texts.
#include "commands.h"

#include <cstdio>
#include <cstring>

#include "fe_hidapi.h"
#include "fe_interface.h"
#include "visible_text.h"

namespace {

// hidapi may leave a string out; the listing shows it as empty.
const wchar_t *or_empty(const wchar_t *s) {
    return s != nullptr ? s : L"";
}

int list_devices(unsigned short vendor_id, unsigned short product_id) {
    int count = 0;
    hid_device_info *list = fe_hid_enumerate(vendor_id, product_id);
    for (hid_device_info *d = list; d != nullptr; d = d->next) {
        // The device's strings are shown with their control characters
        // escaped: they must not steer the terminal.
        char path[visible_size(1023)];
        printf("Device Found\n  type: %04hx %04hx\n  path: %s\n  serial_number: ", d->vendor_id,
               d->product_id, visible_text(d->path != nullptr ? d->path : "", path, sizeof path));
        print_visible_wide(stdout, or_empty(d->serial_number));
        printf("\n");
        printf("  Manufacturer: ");
        print_visible_wide(stdout, or_empty(d->manufacturer_string));
        printf("\n");
        printf("  Product:      ");
        print_visible_wide(stdout, or_empty(d->product_string));
        printf("\n");
        printf("\n");
        count++;
    }
    fe_hid_free_enumeration(list);
    return count;
}

} // namespace

int enumerate_talmir_devs(void) {
    printf("Trying to enumerate USB-HID devices ->");
    int count = list_devices(0x255D, 0x0002);
    printf("PID(0x0002)=%i , ", count);
    count = list_devices(0x255D, 0x0006);
    printf("PID(0x0006)=%i\n\r", count);
    return count;
}

int initialize_hardware(void) {
    char description[128];
    memset(description, 0, sizeof description);
    printf("Init HID interface - Blocking I/O mode!!! \n");
    if (fe_open(nullptr, 0, description) == FE_OPEN_OK) {
        char shown[visible_size(sizeof description)];
        printf("%s device was found!!!\n", visible_text(description, shown, sizeof shown));
        return 0;
    }
    printf("%s", description);
    return -1;
}

static bool run_has_failed = false;

void mark_run_failed(void) {
    run_has_failed = true;
}

void clear_run_failed(void) {
    run_has_failed = false;
}

int run_exit_status(void) {
    return run_has_failed ? 1 : 0;
}

int status_after_output(int status) {
    const bool out_lost = fflush(stdout) != 0 || ferror(stdout) != 0;
    const bool err_lost = fflush(stderr) != 0 || ferror(stderr) != 0;
    if (out_lost && !err_lost)
        fputs("kestrel: standard output could not be written (a full disk or an I/O error): "
              "what the run printed is incomplete\n",
              stderr);
    return (out_lost || err_lost) && status == 0 ? 1 : status;
}

ack_reply wait_for_ack(void) {
    ack_reply r = read_ack_quiet();
    if (r.result != FE_ANSWERED) {
        printf("USB IO timeout!\r\n");
        mark_run_failed();
    } else if (fe_answers(r, FE_CMD_TRACE))
        printf("ACK rprt=%i, cmd=%i \n\r", r.command, r.value);
    else if (r.kind == FE_ANSWER_FREQUENCY)
        printf("ACK Frequency \n\r");
    return r;
}

int32_t HID_wait_For_ACK(void) {
    return wait_for_ack().value;
}
