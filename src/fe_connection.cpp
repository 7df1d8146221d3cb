// The connection to the receiver: settings from the command line, the open
// over USB HID or the drive's command files, and moving one report and one
// answer over whichever transport is open (the TCP tunnel included).
#include "fe_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fe_access_hint.h"
#include "platform/drive.h"
#include "platform/platform.h"
#include "tcp_shell.h"
#include "visible_text.h"

// The connection's whole state. Everything here starts as a fresh process
// has it, and HID_Reset_Connection_State() puts it back that way.
volatile int hid_status = 0;
hid_device *fe_handle = nullptr;
int HID_COMMAND_SIZE = 7;
volatile int hid_tcp_network_flag = 0;
unsigned char hid_tcp_packet[32] = {0};
volatile int hid_command_send_state = 0;
char Gpath_name[256] = {0};
const char default_path_name[] = "G:\\";
wchar_t USB_Serial_number[256] = {0};
wchar_t *SerialNumber = nullptr;
wchar_t wstr[256] = {0};

static plat_file msd_handle; // command.in, the answer file
static plat_file CommOut;    // command.out, the request file
// The drive found among the mounts when no path was given.
static char found_path[sizeof Gpath_name];
// How the last exchange ended, and whether the transport has failed since
// it was opened.
static int last_exchange = FE_ANSWERED;
static bool transport_failed = false;
// Answers over HID or the drive that ran out of time in a row, and whether
// the link has been given up: its drive files gone or failing, its USB
// device gone, or the receiver taken as silent. A link given up sends
// nothing more, and every later exchange ends at once as `given_up_as`.
static int timeouts_in_a_row = 0;
static bool link_given_up = false;
static int given_up_as = FE_LINK_FAILED;
// Why the last open failed, for the hint that follows: whether a USB HID
// receiver was seen but could not be opened, the system's code of the
// drive-file open (0: none, or a failure with a message of its own), and
// the command file it concerned.
static bool hid_receiver_seen = false;
static long msd_open_error = 0;
static const char *msd_open_file = "command.in";
// Why the last open over USB HID and the drive failed (HID_Open_Failure).
static int open_failure = HID_OPEN_NO_RECEIVER;
// Set by a program that has a console of its own (kestreld): the open then
// prints none of kestrel's texts.
static bool console_quiet = false;

void HID_Reset_Connection_State(void) {
    HID_Close();
    hid_status = 0;
    fe_handle = nullptr;
    HID_COMMAND_SIZE = 7;
    hid_tcp_network_flag = 0;
    memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
    hid_command_send_state = 0;
    memset(Gpath_name, 0, sizeof Gpath_name);
    wmemset(USB_Serial_number, 0, 256);
    SerialNumber = nullptr;
    wmemset(wstr, 0, 256);
    msd_handle = plat_file{};
    CommOut = plat_file{};
    memset(found_path, 0, sizeof found_path);
    last_exchange = FE_ANSWERED;
    transport_failed = false;
    hid_receiver_seen = false;
    msd_open_error = 0;
    msd_open_file = "command.in";
    open_failure = HID_OPEN_NO_RECEIVER;
    timeouts_in_a_row = 0;
    link_given_up = false;
    given_up_as = FE_LINK_FAILED;
    console_quiet = false;
}

namespace {

struct receiver_identity {
    unsigned short vendor_id;
    unsigned short product_id;
    int command_size;
};

// Tried in this order; the first that opens wins.
constexpr receiver_identity identities[] = {
    {0x0483, 0x5932, 5},
    {0x255D, 0x0002, 7},
    {0x255D, 0x0001, 5},
    {0x255D, 0x0006, 7},
};

constexpr size_t MSG_SIZE = 128;
constexpr size_t FILE_NAME_SIZE = 256;

// Copies `text` into the caller's 128-byte message buffer, cut to fit.
void put_msg(char *msg, const char *text) {
    snprintf(msg, MSG_SIZE, "%s", text);
}

// A zeroed, aligned sector buffer for one drive-file transfer, or null after
// telling the user that none could be had.
unsigned char *new_sector(void) {
    unsigned char *sector = static_cast<unsigned char *>(plat_sector_alloc());
    if (sector == nullptr) {
        if (!console_quiet)
            printf("Cannot allocate buffer!\r\n");
        return nullptr;
    }
    memset(sector, 0, PLAT_SECTOR_SIZE);
    return sector;
}

void note_exchange(int result) {
    last_exchange = result;
    if (result == FE_LINK_FAILED)
        transport_failed = true;
}

// A transport has just been opened: nothing has failed on it yet.
void note_opened(void) {
    last_exchange = FE_ANSWERED;
    transport_failed = false;
    timeouts_in_a_row = 0;
    link_given_up = false;
    given_up_as = FE_LINK_FAILED;
}

// Opens one command file and keeps the system's error code of a failure in
// `err`. A link or anything but a regular file is refused with a line that
// names it; the caller then reports the failed open as any other.
bool open_drive_file(const char *name, plat_file *f, long *err) {
    bool refused = false;
    bool opened = plat_file_open_exclusive(name, f, &refused);
    *err = opened ? 0 : plat_last_error();
    if (refused && !console_quiet) {
        char shown[visible_size(FILE_NAME_SIZE)];
        fprintf(stderr, "The drive file %s is a link or not a regular file: not opened\n",
                visible_text(name, shown, sizeof shown));
    }
    return opened;
}

// Gives the link up, saying why once (a program with a console of its own
// sees it through HID_Link_Down()); the exchange, and every later one, ends
// as `result`.
void give_up_link(const char *why, int result) {
    if (!link_given_up && !console_quiet)
        fprintf(stderr, "%s: the remaining exchanges with the receiver fail at once\n", why);
    link_given_up = true;
    given_up_as = result;
    hid_command_send_state = 0;
    note_exchange(result);
}

// An answer wait that ran out of time. A receiver that lets
// SILENT_AFTER_TIMEOUTS answers in a row run out is taken as silent; one
// that answers late still answers within that many waits and is never cut
// short.
void answer_timed_out(void) {
    note_exchange(FE_TIMED_OUT);
    if (++timeouts_in_a_row >= SILENT_AFTER_TIMEOUTS) {
        char why[96];
        snprintf(why, sizeof why, "The receiver answered none of the last %d reports",
                 SILENT_AFTER_TIMEOUTS);
        give_up_link(why, FE_TIMED_OUT);
    }
}

// Clears an answer left waiting in `f` by an earlier run (or a request the
// receiver has not taken yet), so that it cannot pass for an answer of this
// run.
void clear_drive_file(plat_file *f) {
    unsigned char *sector = static_cast<unsigned char *>(plat_sector_alloc());
    if (sector == nullptr)
        return;
    if (plat_file_read_sector(f, sector) && sector[0] != 0) {
        memset(sector, 0, PLAT_SECTOR_SIZE);
        plat_file_write_sector(f, sector);
    }
    plat_sector_free(sector);
}

} // namespace

void HID_Set_Console_Quiet(int quiet) {
    console_quiet = quiet != 0;
}

int HID_Open_Failure(void) {
    return open_failure;
}

int HID_Last_Exchange(void) {
    return last_exchange;
}

int HID_Link_Down(void) {
    if (hid_tcp_network_flag == 1)
        return tcp_link_open() ? 0 : 1;
    if (hid_status == 0 || transport_failed || link_given_up)
        return 1;
    return 0;
}

void MSD_Envy_Init(void) {
    memset(Gpath_name, 0, sizeof Gpath_name);
}

int SetMSDPath(const char *p_name) {
    memset(Gpath_name, 0, sizeof Gpath_name);
    if (p_name != nullptr)
        strncpy(Gpath_name, p_name, sizeof Gpath_name - 1);
    return 0;
}

int Set_USB_Serial_number(wchar_t *serial) {
    if (serial == nullptr)
        return -1;
    SerialNumber = USB_Serial_number;
    wmemset(USB_Serial_number, 0, 256);
    wcsncpy(USB_Serial_number, serial, 255);
    return 0;
}

int HID_Device_Enumerate(void) {
    // Only the first three identities are probed; the first hit ends the probe.
    for (int i = 0; i < 3; i++) {
        hid_device_info *list = hid_enumerate(identities[i].vendor_id, identities[i].product_id);
        if (list != nullptr) {
            hid_free_enumeration(list);
            return 1;
        }
    }
    return 0;
}

int HID_Device_Init_HID(char *msg) {
    fe_handle = nullptr;
    for (const receiver_identity &id : identities) {
        fe_handle = hid_open(id.vendor_id, id.product_id, SerialNumber);
        if (fe_handle != nullptr) {
            HID_COMMAND_SIZE = id.command_size;
            break;
        }
    }
    if (fe_handle == nullptr) {
        // A receiver that is plugged in but cannot be opened gets one hint line.
        hid_receiver_seen = false;
        for (const receiver_identity &id : identities)
            if (HID_Access_Hint(id.vendor_id, id.product_id, SerialNumber) != 0) {
                hid_receiver_seen = true;
                break;
            }
        put_msg(msg, "Unable to open device!");
        hid_status = 0;
        return 0;
    }
    hid_status = 1;
    note_opened();
    // Input reports already queued (answers to an earlier run's reports)
    // are no answers of this run.
    unsigned char stale[64];
    for (int i = 0; i < 64 && hid_read_timeout(fe_handle, stale, sizeof stale, 0) > 0; i++) {
    }
    wmemset(wstr, 0, 256);
    hid_set_nonblocking(fe_handle, 0);
    if (hid_get_product_string(fe_handle, wstr, 255) < 0) {
        put_msg(msg, "Unable to read product string");
    } else {
        wstr[255] = L'\0';
        // Narrow the product string character by character; anything that
        // is not plain ASCII shows as '?'.
        size_t n = 0;
        for (; n < MSG_SIZE - 1 && wstr[n] != L'\0'; n++)
            msg[n] = (wstr[n] > 0 && wstr[n] < 0x80) ? static_cast<char>(wstr[n]) : '?';
        msg[n] = '\0';
    }
    hid_set_nonblocking(fe_handle, 0);
    return 1;
}

int HID_Device_Init_MSD(char *msg, const char *path_name) {
    // Drive files still open from an earlier open are released first.
    plat_file_close(&msd_handle);
    plat_file_close(&CommOut);
    msd_open_error = 0;
    char in_name[FILE_NAME_SIZE];
    char out_name[FILE_NAME_SIZE];
    int in_len = snprintf(in_name, sizeof in_name, "%scommand.in", path_name);
    int out_len = snprintf(out_name, sizeof out_name, "%scommand.out", path_name);
    if (in_len < 0 || out_len < 0 || static_cast<size_t>(out_len) >= sizeof out_name ||
        static_cast<size_t>(in_len) >= sizeof in_name) {
        // The names would not fit: open nothing rather than a cut name.
        put_msg(msg, "Unable to open Input device!\r\n");
        if (!console_quiet)
            fprintf(stderr, "The TALMIR path is too long: %zu characters, at most 244 fit\n",
                    strlen(path_name));
        hid_status = 0;
        return 0;
    }
    long err = 0;
    if (!open_drive_file(in_name, &msd_handle, &err)) {
        msd_open_error = err;
        msd_open_file = "command.in";
        put_msg(msg, "Unable to open Input device!\r\n");
        if (!console_quiet) {
            char shown[visible_size(FILE_NAME_SIZE)];
            fprintf(stderr, "Input file %s open  error %li\n\r",
                    visible_text(in_name, shown, sizeof shown), err);
        }
        hid_status = 0;
        return 0;
    }
    if (!open_drive_file(out_name, &CommOut, &err)) {
        msd_open_error = err;
        msd_open_file = "command.out";
        plat_file_close(&msd_handle);
        put_msg(msg, "Unable to open Output device!\r\n");
        hid_status = 0;
        if (!console_quiet)
            fprintf(stderr, "Output file error %li\n\r", err);
        return 0;
    }
    clear_drive_file(&msd_handle);
    clear_drive_file(&CommOut);
    HID_COMMAND_SIZE = 7;
    put_msg(msg, "TALMIR MSD Device");
    if (!console_quiet)
        printf("%s\n", msg);
    hid_status = 2;
    note_opened();
    return 1;
}

int HID_Device_Init(char *msg) {
    if (HID_Device_Init_HID(msg) == 1)
        return 1;
    const char *path;
    // Paths are shown with control characters escaped: a drive's volume
    // label becomes part of its mount point.
    char shown[visible_size(sizeof Gpath_name)];
    msd_path_origin origin = MSD_PATH_GIVEN;
    bool explained = hid_receiver_seen;
    if (Gpath_name[0] != '\0') {
        if (!console_quiet)
            printf("The TALMIR path is: %s\n\r", visible_text(Gpath_name, shown, sizeof shown));
        path = Gpath_name;
    } else {
        // On Linux the receiver's drive is looked for among the mounts first.
        plat_drive_search search;
        path = plat_find_receiver_drive(found_path, sizeof found_path, &search) ? found_path
                                                                                : default_path_name;
        if (path != found_path && search.untrusted[0] != '\0' && !console_quiet)
            fprintf(stderr,
                    "The drive at %s holds the command files but is not used: its top "
                    "directory must belong to you or to root and be writable by nobody else "
                    "(give it with -P to use it anyway)\n",
                    visible_text(search.untrusted, shown, sizeof shown));
        if (search.timed_out && !console_quiet)
            fprintf(stderr,
                    "The search for the receiver's drive was stopped after %u ms: a mounted "
                    "drive did not answer (give the drive with -P)\n",
                    search.limit_ms);
        origin = path == found_path ? MSD_PATH_FOUND : MSD_PATH_DEFAULT;
        // Either line says why no drive was found.
        explained = explained || search.untrusted[0] != '\0' || search.timed_out;
        if (!console_quiet)
            printf("The TALMIR path was not defined, use default: %s\n\r",
                   visible_text(path, shown, sizeof shown));
    }
    int opened = HID_Device_Init_MSD(msg, path);
    if (opened == 0 && !console_quiet)
        MSD_Open_Hint(path, msd_open_file, origin, msd_open_error, explained);
    if (opened == 0)
        open_failure = hid_receiver_seen            ? HID_OPEN_USB_NOT_OPENABLE
                       : origin != MSD_PATH_DEFAULT ? HID_OPEN_DRIVE_NOT_OPENABLE
                                                    : HID_OPEN_NO_RECEIVER;
    return opened;
}

int HID_Device_Reconnect(char *msg) {
    if (hid_status != 0)
        HID_Close();
    return HID_Device_Init(msg);
}

int HID_Close(void) {
    if (fe_handle != nullptr) {
        hid_close(fe_handle);
        fe_handle = nullptr;
    }
    // The drive files are released too, so that this process or another can
    // open the drive again.
    plat_file_close(&msd_handle);
    plat_file_close(&CommOut);
    hid_status = 0;
    return 0;
}

int HID_Write_Data(unsigned char *report) {
    if (hid_tcp_network_flag == 1) {
        unsigned char message[16] = {0};
        message[0] = static_cast<unsigned char>(HID_COMMAND_SIZE + 2);
        message[1] = 0xE0;
        memcpy(message + 2, report, static_cast<size_t>(HID_COMMAND_SIZE));
        // A tunnel answer stored before this report went out (a receiver
        // that answered a control item as a tunnel message) is no answer to
        // it: only what the link receives for this report may be read.
        hid_tcp_packet[0] = 0;
        tcp_send_hid_command(message, HID_COMMAND_SIZE + 2);
        note_exchange(tcp_last_result());
        hid_command_send_state = 1;
        return 1;
    }
    if (link_given_up && (hid_status == 1 || hid_status == 2)) {
        hid_command_send_state = 0;
        note_exchange(given_up_as);
        return 0;
    }
    if (hid_status == 1) {
        if (fe_handle == nullptr) {
            note_exchange(FE_LINK_FAILED);
            return 0;
        }
        int result = hid_write(fe_handle, report, static_cast<size_t>(HID_COMMAND_SIZE));
        hid_command_send_state = result > 0 ? 1 : 0;
        if (result < 0)
            give_up_link("The USB receiver cannot be written to", FE_LINK_FAILED);
        else
            note_exchange(FE_ANSWERED);
        return result;
    }
    if (hid_status == 2 && plat_file_valid(&CommOut)) {
        unsigned char *sector = new_sector();
        if (sector == nullptr) {
            note_exchange(FE_LINK_FAILED);
            return -1;
        }
        memcpy(sector, report, static_cast<size_t>(HID_COMMAND_SIZE));
        bool ok = plat_file_write_sector(&CommOut, sector);
        plat_sector_free(sector);
        hid_command_send_state = ok ? 1 : 0;
        if (!ok)
            give_up_link("The receiver's request file cannot be written", FE_LINK_FAILED);
        else
            note_exchange(FE_ANSWERED);
        return ok ? 1 : 0;
    }
    note_exchange(FE_LINK_FAILED);
    return 0;
}

int HID_Read_Data(char *buf) {
    buf[0] = 0;
    if (hid_tcp_network_flag == 1) {
        if ((hid_tcp_packet[1] & 0xE0) == 0xE0 && hid_tcp_packet[0] != 0) {
            memcpy(buf, hid_tcp_packet + 2, static_cast<size_t>(HID_COMMAND_SIZE));
            hid_tcp_packet[0] = 0;
            note_exchange(FE_ANSWERED);
            return HID_COMMAND_SIZE;
        }
        // The link's own failure, or an answer that was no tunnel answer.
        int link = tcp_last_result();
        note_exchange(link != FE_ANSWERED ? link : FE_TIMED_OUT);
        return 0;
    }
    if (link_given_up && (hid_status == 1 || hid_status == 2)) {
        note_exchange(given_up_as);
        return -1;
    }
    if (hid_status == 1 && fe_handle != nullptr) {
        hid_set_nonblocking(fe_handle, 0);
        int result = hid_read_timeout(fe_handle, reinterpret_cast<unsigned char *>(buf),
                                      static_cast<size_t>(HID_COMMAND_SIZE), HID_READ_TIMEOUT_MS);
        if (result < 0)
            give_up_link("The USB receiver cannot be read from", FE_LINK_FAILED);
        else if (result == 0)
            answer_timed_out();
        else
            timeouts_in_a_row = 0;
        if (result < 5) {
            if (result > 0)
                note_exchange(FE_TIMED_OUT); // too short to be an answer
            return -1;
        }
        hid_command_send_state = 0;
        note_exchange(FE_ANSWERED);
        return result;
    }
    if (hid_status == 2 && plat_file_valid(&msd_handle)) {
        unsigned char *sector = new_sector();
        if (sector == nullptr) {
            note_exchange(FE_LINK_FAILED);
            return -1;
        }
        // Poll the answer file every millisecond, for as long as a HID read
        // would wait: a receiver that never answers ends as a time-out. A
        // file that cannot be read, or that has gone from the drive, gives
        // the link up.
        const uint64_t deadline = plat_monotonic_ms() + HID_READ_TIMEOUT_MS;
        for (;;) {
            if (!plat_file_read_sector(&msd_handle, sector)) {
                give_up_link("The receiver's answer file cannot be read", FE_LINK_FAILED);
                break;
            }
            if (sector[0] != 0) {
                memcpy(buf, sector, static_cast<size_t>(HID_COMMAND_SIZE));
                sector[0] = 0;
                bool ok = plat_file_write_sector(&msd_handle, sector);
                plat_sector_free(sector);
                hid_command_send_state = 0;
                timeouts_in_a_row = 0;
                if (!ok)
                    give_up_link("The receiver's answer file cannot be written", FE_LINK_FAILED);
                else
                    note_exchange(FE_ANSWERED);
                return ok ? 1 : 0;
            }
            if (plat_monotonic_ms() >= deadline) {
                if (plat_file_gone(&msd_handle) || plat_file_gone(&CommOut))
                    give_up_link("The receiver's drive files are gone", FE_LINK_FAILED);
                else
                    answer_timed_out();
                break;
            }
            plat_sleep_ms(1);
        }
        plat_sector_free(sector);
        return -1;
    }
    note_exchange(FE_LINK_FAILED);
    return 0;
}

int HID_wait_device_answer(void) {
    // Bounded by the clock, not by a count of sleeps: a sleep may last much
    // longer than asked (15.6 ms at Windows' default timer period).
    const uint64_t deadline = plat_monotonic_ms() + 1000;
    while (hid_command_send_state != 0) {
        if (plat_monotonic_ms() >= deadline)
            return -1;
        plat_sleep_ms(1);
    }
    return 0;
}

void hid_change_tcp_network_flag(int state) {
    hid_tcp_network_flag = state;
}

int hid_save_recieved_tcp_packet(char *data, int size) {
    if (data == nullptr || size <= 0)
        return 0;
    size_t n = static_cast<size_t>(size) < sizeof hid_tcp_packet ? static_cast<size_t>(size)
                                                                 : sizeof hid_tcp_packet;
    // A message shorter than the packet keeps no bytes of an earlier one.
    memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
    memcpy(hid_tcp_packet, data, n);
    return 0;
}
