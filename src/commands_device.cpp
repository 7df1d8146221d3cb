// Receiver discovery (-L), the open at the start of a run, and the one
// answer read after every report.
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
    HID_Device_Enumerate();
    if (HID_Device_Init(description) != 0) {
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

bool run_failed(void) {
    return run_has_failed;
}

void clear_run_failed(void) {
    run_has_failed = false;
}

int run_exit_status(void) {
    return run_has_failed ? 1 : 0;
}

// What the last answer wait read: whether an answer came at all (its -1
// alone cannot tell a time-out from an answer whose value has all bits set),
// and the command code of a generic answer, -1 for any other answer.
static ack_reply last_reply = {FE_TIMED_OUT, 0, 0, -1};

bool ack_answered(void) {
    return last_reply.result == FE_ANSWERED;
}

int ack_generic_command(void) {
    return last_reply.command;
}

ack_reply read_ack_quiet(void) {
    unsigned char answer[64];
    memset(answer, 0, sizeof answer);
    last_reply = {FE_TIMED_OUT, -1, 0, -1};
    if (HID_Read_Data(reinterpret_cast<char *>(answer)) <= 0) {
        // A read that failed without saying why (no transport) counts as
        // a failed link.
        int how = HID_Last_Exchange();
        last_reply.result = how == FE_ANSWERED ? FE_LINK_FAILED : how;
        return last_reply;
    }
    last_reply.result = FE_ANSWERED;
    last_reply.kind = answer[0];
    last_reply.value = 0;
    if (answer[0] == 6) {
        unsigned char command = 0;
        last_reply.value = static_cast<int32_t>(HID_Get_Generic_Report(&command, answer));
        last_reply.command = command;
    }
    return last_reply;
}

int32_t HID_wait_For_ACK(void) {
    ack_reply r = read_ack_quiet();
    if (r.result != FE_ANSWERED) {
        printf("USB IO timeout!\r\n");
        mark_run_failed();
    } else if (r.kind == 6 && r.command == 28)
        printf("ACK rprt=%i, cmd=%i \n\r", r.command, r.value);
    else if (r.kind == 7)
        printf("ACK Frequency \n\r");
    return r.value;
}
