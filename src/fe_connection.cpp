// SPDX-License-Identifier: MIT
// The connection to the receiver: settings from the command line, the open
// of one transport (USB HID, the drive's command files, or the TCP tunnel of
// tcp_shell.cpp), and moving one report and one answer through it. The USB
// HID and drive-file transports are here.
#include "fe_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fe_access_hint.h"
#include "fe_hidapi.h"
#include "platform/drive.h"
#include "platform/platform.h"
#include "tcp_shell.h"
#include "visible_text.h"

namespace {

constexpr size_t MSG_SIZE = 128;
constexpr size_t FILE_NAME_SIZE = 256;
constexpr size_t PATH_SIZE = 256;

fe_io nothing_written(const unsigned char *, int) {
    return {0, FE_LINK_FAILED};
}
fe_io nothing_read(unsigned char *, int, int) {
    return {0, FE_LINK_FAILED};
}
int nothing_opened(const fe_endpoint *, char *) {
    return 0;
}
void nothing_to_do(void) {}
const char *no_error(void) {
    return "";
}

// No transport open: nothing is sent, nothing is read.
constexpr fe_transport no_transport = {
    "none", nothing_opened, nothing_written, nothing_read, nothing_to_do, nothing_to_do, no_error,
};

// The connection's whole state; a fresh process starts with it as it is
// here, and HID_Reset_Connection_State() puts it back that way.
struct connection_state {
    const fe_transport *transport = &no_transport;
    int command_size = 7;           // HID_COMMAND_SIZE
    int report_unanswered = 0;      // hid_command_send_state
    char path_name[PATH_SIZE] = {}; // -P: the drive path, "" when none was given
    wchar_t serial_text[256] = {};  // -N: the serial number
    wchar_t *serial = nullptr;      // null: any serial number; else serial_text
    wchar_t product[256] = {};      // the opened HID receiver's product string
    hid_device *hid = nullptr;      // the open USB HID receiver
    plat_file answer_file;          // command.in
    plat_file request_file;         // command.out
    // The drive found among the mounts when no path was given.
    char found_path[PATH_SIZE] = {};
    // How the last exchange ended, and whether the transport has failed
    // since it was opened.
    int last_exchange = FE_ANSWERED;
    bool transport_failed = false;
    // Answers over HID or the drive that ran out of time in a row, and
    // whether the link has been given up: its drive files gone or failing,
    // its USB device gone, or the receiver taken as silent. A link given up
    // sends nothing more, and every later exchange ends at once as
    // `given_up_as`. `failure` says why, in words.
    int timeouts_in_a_row = 0;
    bool link_given_up = false;
    int given_up_as = FE_LINK_FAILED;
    char failure[96] = {};
    // Why the last open failed, for the hint that follows: whether a USB HID
    // receiver was seen but could not be opened, the system's code of the
    // drive-file open (0: none, or a failure with a message of its own), and
    // the command file it concerned.
    bool hid_receiver_seen = false;
    long msd_open_error = 0;
    const char *msd_open_file = "command.in";
    // Why the last open over USB HID and the drive failed (HID_Open_Failure).
    int open_failure = HID_OPEN_NO_RECEIVER;
    // Set by a program that has a console of its own (kestreld): the open
    // then prints none of kestrel's texts.
    bool console_quiet = false;
};

connection_state conn;

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

} // namespace

bool fe_receiver_identity(size_t index, unsigned short *vendor_id, unsigned short *product_id) {
    if (index >= sizeof identities / sizeof identities[0])
        return false;
    *vendor_id = identities[index].vendor_id;
    *product_id = identities[index].product_id;
    return true;
}

namespace {

// Copies `text` into the caller's 128-byte message buffer, cut to fit.
void put_msg(char *msg, const char *text) {
    snprintf(msg, MSG_SIZE, "%s", text);
}

// A zeroed, aligned sector buffer for one drive-file transfer, or null after
// telling the user that none could be had.
unsigned char *new_sector(void) {
    unsigned char *sector = static_cast<unsigned char *>(plat_sector_alloc());
    if (sector == nullptr) {
        if (!conn.console_quiet)
            printf("Cannot allocate buffer!\r\n");
        return nullptr;
    }
    memset(sector, 0, PLAT_SECTOR_SIZE);
    return sector;
}

void note_exchange(int result) {
    conn.last_exchange = result;
    if (result == FE_LINK_FAILED)
        conn.transport_failed = true;
}

// Gives the local link up, saying why once (a program with a console of
// its own sees it through HID_Link_Down()); the exchange, and every later
// one, ends as `result`.
void give_up_link(const char *why, int result) {
    if (!conn.link_given_up && !conn.console_quiet)
        fprintf(stderr, "%s: the remaining exchanges with the receiver fail at once\n", why);
    snprintf(conn.failure, sizeof conn.failure, "%s", why);
    conn.link_given_up = true;
    conn.given_up_as = result;
    conn.report_unanswered = 0;
    note_exchange(result);
}

// A link given up ends every write (`write` true) or read at once.
bool refused_after_giving_up(bool write, fe_io *io) {
    if (!conn.link_given_up)
        return false;
    if (write)
        conn.report_unanswered = 0;
    *io = {write ? 0 : -1, conn.given_up_as};
    return true;
}

// An answer wait that ran out of time. A receiver that lets
// SILENT_AFTER_TIMEOUTS answers in a row run out is taken as silent; one
// that answers late still answers within that many waits and is never cut
// short.
void answer_timed_out(void) {
    note_exchange(FE_TIMED_OUT);
    if (++conn.timeouts_in_a_row >= SILENT_AFTER_TIMEOUTS) {
        char why[96];
        snprintf(why, sizeof why, "The receiver answered none of the last %d reports",
                 SILENT_AFTER_TIMEOUTS);
        give_up_link(why, FE_TIMED_OUT);
    }
}

const char *local_failure(void) {
    return conn.failure;
}

// ---------------------------------------------------------------------------
// USB HID
// ---------------------------------------------------------------------------

void hid_close_device(void) {
    if (conn.hid != nullptr) {
        const fe_hidapi_functions *hid = fe_hidapi();
        if (hid != nullptr)
            hid->close(conn.hid);
        conn.hid = nullptr;
    }
}

int hid_open_receiver(const fe_endpoint *where, char *msg) {
    hid_close_device();
    const fe_hidapi_functions *hid = fe_hidapi();
    if (hid != nullptr)
        for (const receiver_identity &id : identities) {
            conn.hid = hid->open(id.vendor_id, id.product_id, where->serial);
            if (conn.hid != nullptr) {
                conn.command_size = id.command_size;
                break;
            }
        }
    if (conn.hid == nullptr) {
        // A receiver that is plugged in but cannot be opened gets one hint line.
        conn.hid_receiver_seen = false;
        if (hid != nullptr)
            for (const receiver_identity &id : identities)
                if (HID_Access_Hint(id.vendor_id, id.product_id, where->serial) != 0) {
                    conn.hid_receiver_seen = true;
                    break;
                }
        put_msg(msg, "Unable to open device!");
        return 0;
    }
    wmemset(conn.product, 0, 256);
    hid->set_nonblocking(conn.hid, 0);
    if (hid->get_product_string(conn.hid, conn.product, 255) < 0) {
        put_msg(msg, "Unable to read product string");
    } else {
        conn.product[255] = L'\0';
        // Narrow the product string character by character; anything that
        // is not plain ASCII shows as '?'.
        size_t n = 0;
        for (; n < MSG_SIZE - 1 && conn.product[n] != L'\0'; n++)
            msg[n] = (conn.product[n] > 0 && conn.product[n] < 0x80)
                         ? static_cast<char>(conn.product[n])
                         : '?';
        msg[n] = '\0';
    }
    hid->set_nonblocking(conn.hid, 0);
    return 1;
}

// Input reports already queued (answers to an earlier run's reports) are
// no answers of this run.
void hid_drain(void) {
    const fe_hidapi_functions *hid = fe_hidapi();
    if (conn.hid == nullptr || hid == nullptr)
        return;
    unsigned char stale[64];
    for (int i = 0; i < 64 && hid->read_timeout(conn.hid, stale, sizeof stale, 0) > 0; i++) {
    }
}

fe_io hid_write_report(const unsigned char *report, int size) {
    fe_io io;
    if (refused_after_giving_up(true, &io))
        return io;
    const fe_hidapi_functions *hid = fe_hidapi();
    if (conn.hid == nullptr || hid == nullptr)
        return {0, FE_LINK_FAILED};
    int result = hid->write(conn.hid, report, static_cast<size_t>(size));
    if (result < 0) {
        give_up_link("The USB receiver cannot be written to", FE_LINK_FAILED);
        return {result, FE_LINK_FAILED};
    }
    if (result == 0)
        conn.report_unanswered = 0;
    return {result, FE_ANSWERED};
}

fe_io hid_read_answer(unsigned char *buf, int size, int timeout_ms) {
    fe_io io;
    if (refused_after_giving_up(false, &io))
        return io;
    const fe_hidapi_functions *hid = fe_hidapi();
    if (conn.hid == nullptr || hid == nullptr)
        return {0, FE_LINK_FAILED};
    hid->set_nonblocking(conn.hid, 0);
    int result = hid->read_timeout(conn.hid, buf, static_cast<size_t>(size), timeout_ms);
    if (result < 0)
        give_up_link("The USB receiver cannot be read from", FE_LINK_FAILED);
    else if (result == 0)
        answer_timed_out();
    else
        conn.timeouts_in_a_row = 0;
    if (result < 5) // nothing, an error, or too short to be an answer
        return {-1, result < 0 ? FE_LINK_FAILED : FE_TIMED_OUT};
    return {result, FE_ANSWERED};
}

constexpr fe_transport usb_hid = {
    "USB HID", hid_open_receiver, hid_write_report, hid_read_answer,
    hid_drain, hid_close_device,  local_failure,
};

// ---------------------------------------------------------------------------
// The drive's command files
// ---------------------------------------------------------------------------

// Opens one command file and keeps the system's error code of a failure in
// `err`. A link or anything but a regular file is refused with a line that
// names it; the caller then reports the failed open as any other.
bool open_drive_file(const char *name, plat_file *f, long *err) {
    bool refused = false;
    bool opened = plat_file_open_exclusive(name, f, &refused);
    *err = opened ? 0 : plat_last_error();
    if (refused && !conn.console_quiet) {
        char shown[visible_size(FILE_NAME_SIZE)];
        fprintf(stderr, "The drive file %s is a link or not a regular file: not opened\n",
                visible_text(name, shown, sizeof shown));
    }
    return opened;
}

void drive_close(void) {
    plat_file_close(&conn.answer_file);
    plat_file_close(&conn.request_file);
}

int drive_open(const fe_endpoint *where, char *msg) {
    // Drive files still open from an earlier open are released first.
    drive_close();
    const char *path_name = where->path;
    conn.msd_open_error = 0;
    char in_name[FILE_NAME_SIZE];
    char out_name[FILE_NAME_SIZE];
    int in_len = snprintf(in_name, sizeof in_name, "%scommand.in", path_name);
    int out_len = snprintf(out_name, sizeof out_name, "%scommand.out", path_name);
    if (in_len < 0 || out_len < 0 || static_cast<size_t>(out_len) >= sizeof out_name ||
        static_cast<size_t>(in_len) >= sizeof in_name) {
        // The names would not fit: open nothing rather than a cut name.
        put_msg(msg, "Unable to open Input device!\r\n");
        if (!conn.console_quiet)
            fprintf(stderr, "The TALMIR path is too long: %zu characters, at most 244 fit\n",
                    strlen(path_name));
        return 0;
    }
    long err = 0;
    if (!open_drive_file(in_name, &conn.answer_file, &err)) {
        conn.msd_open_error = err;
        conn.msd_open_file = "command.in";
        put_msg(msg, "Unable to open Input device!\r\n");
        if (!conn.console_quiet) {
            char shown[visible_size(FILE_NAME_SIZE)];
            fprintf(stderr, "Input file %s open  error %li\n\r",
                    visible_text(in_name, shown, sizeof shown), err);
        }
        return 0;
    }
    if (!open_drive_file(out_name, &conn.request_file, &err)) {
        conn.msd_open_error = err;
        conn.msd_open_file = "command.out";
        plat_file_close(&conn.answer_file);
        put_msg(msg, "Unable to open Output device!\r\n");
        if (!conn.console_quiet)
            fprintf(stderr, "Output file error %li\n\r", err);
        return 0;
    }
    conn.command_size = 7;
    put_msg(msg, "TALMIR MSD Device");
    if (!conn.console_quiet)
        printf("%s\n", msg);
    return 1;
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

void drive_drain(void) {
    clear_drive_file(&conn.answer_file);
    clear_drive_file(&conn.request_file);
}

fe_io drive_write(const unsigned char *report, int size) {
    fe_io io;
    if (refused_after_giving_up(true, &io))
        return io;
    if (!plat_file_valid(&conn.request_file))
        return {0, FE_LINK_FAILED};
    unsigned char *sector = new_sector();
    if (sector == nullptr)
        return {-1, FE_LINK_FAILED};
    memcpy(sector, report, static_cast<size_t>(size));
    bool ok = plat_file_write_sector(&conn.request_file, sector);
    plat_sector_free(sector);
    if (!ok) {
        give_up_link("The receiver's request file cannot be written", FE_LINK_FAILED);
        return {0, FE_LINK_FAILED};
    }
    return {1, FE_ANSWERED};
}

// Polls the answer file every millisecond, for as long as a HID read would
// wait: a receiver that never answers ends as a time-out. A file that cannot
// be read, or that has gone from the drive, gives the link up.
fe_io drive_read(unsigned char *buf, int size, int timeout_ms) {
    fe_io io;
    if (refused_after_giving_up(false, &io))
        return io;
    if (!plat_file_valid(&conn.answer_file))
        return {0, FE_LINK_FAILED};
    unsigned char *sector = new_sector();
    if (sector == nullptr)
        return {-1, FE_LINK_FAILED};
    const uint64_t deadline = plat_monotonic_ms() + static_cast<uint64_t>(timeout_ms);
    for (;;) {
        if (!plat_file_read_sector(&conn.answer_file, sector)) {
            give_up_link("The receiver's answer file cannot be read", FE_LINK_FAILED);
            break;
        }
        if (sector[0] != 0) {
            memcpy(buf, sector, static_cast<size_t>(size));
            sector[0] = 0;
            bool ok = plat_file_write_sector(&conn.answer_file, sector);
            plat_sector_free(sector);
            conn.report_unanswered = 0;
            conn.timeouts_in_a_row = 0;
            if (!ok) {
                give_up_link("The receiver's answer file cannot be written", FE_LINK_FAILED);
                return {0, FE_LINK_FAILED};
            }
            return {1, FE_ANSWERED};
        }
        if (plat_monotonic_ms() >= deadline) {
            if (plat_file_gone(&conn.answer_file) || plat_file_gone(&conn.request_file))
                give_up_link("The receiver's drive files are gone", FE_LINK_FAILED);
            else
                answer_timed_out();
            break;
        }
        plat_sleep_ms(1);
    }
    plat_sector_free(sector);
    return {-1, conn.last_exchange};
}

constexpr fe_transport drive_files = {
    "drive files", drive_open, drive_write, drive_read, drive_drain, drive_close, local_failure,
};

bool is_local(const fe_transport *t) {
    return t == &usb_hid || t == &drive_files;
}

// Opens `t` towards `where` and makes it the open transport; when it does
// not open, no transport is open.
int open_transport(const fe_transport *t, const fe_endpoint *where, char *msg) {
    if (t->open(where, msg) != 1) {
        conn.transport = &no_transport;
        return 0;
    }
    conn.transport = t;
    conn.last_exchange = FE_ANSWERED;
    conn.transport_failed = false;
    conn.timeouts_in_a_row = 0;
    conn.link_given_up = false;
    conn.given_up_as = FE_LINK_FAILED;
    conn.failure[0] = '\0';
    t->drain();
    return 1;
}

} // namespace

// ---------------------------------------------------------------------------
// The names that the other modules and the tests use: views of the state
// above.
// ---------------------------------------------------------------------------

fe_transport_flag hid_status = {0};
fe_transport_flag hid_tcp_network_flag = {1};
hid_device *&fe_handle = conn.hid;
int &HID_COMMAND_SIZE = conn.command_size;
int &hid_command_send_state = conn.report_unanswered;
char (&Gpath_name)[256] = conn.path_name;
const char default_path_name[] = "G:\\";
wchar_t (&USB_Serial_number)[256] = conn.serial_text;
wchar_t *&SerialNumber = conn.serial;
wchar_t (&wstr)[256] = conn.product;

fe_transport_flag::operator int() const {
    if (tunnel != 0)
        return conn.transport == &fe_tcp_tunnel ? 1 : 0;
    return conn.transport == &usb_hid ? 1 : conn.transport == &drive_files ? 2 : 0;
}

fe_transport_flag &fe_transport_flag::operator=(int value) {
    if (tunnel != 0) {
        if (value == 1)
            conn.transport = &fe_tcp_tunnel;
        else if (conn.transport == &fe_tcp_tunnel)
            conn.transport = &no_transport;
    } else if (conn.transport != &fe_tcp_tunnel || value != 0) {
        conn.transport = value == 1 ? &usb_hid : value == 2 ? &drive_files : &no_transport;
    }
    return *this;
}

void HID_Reset_Connection_State(void) {
    HID_Close();
    conn = connection_state{};
}

void HID_Set_Console_Quiet(int quiet) {
    conn.console_quiet = quiet != 0;
}

int HID_Open_Failure(void) {
    return conn.open_failure;
}

int HID_Last_Exchange(void) {
    return conn.last_exchange;
}

int HID_Link_Down(void) {
    if (conn.transport == &fe_tcp_tunnel)
        return tcp_link_open() ? 0 : 1;
    if (conn.transport == &no_transport || conn.transport_failed || conn.link_given_up)
        return 1;
    return 0;
}

const char *HID_Transport_Name(void) {
    return conn.transport->name;
}

const char *HID_Transport_Error(void) {
    return conn.transport->last_error();
}

void HID_Drain_Answers(void) {
    conn.transport->drain();
}

void MSD_Envy_Init(void) {
    memset(conn.path_name, 0, sizeof conn.path_name);
}

int SetMSDPath(const char *p_name) {
    memset(conn.path_name, 0, sizeof conn.path_name);
    if (p_name != nullptr)
        strncpy(conn.path_name, p_name, sizeof conn.path_name - 1);
    return 0;
}

int Set_USB_Serial_number(wchar_t *serial) {
    if (serial == nullptr)
        return -1;
    conn.serial = conn.serial_text;
    wmemset(conn.serial_text, 0, 256);
    wcsncpy(conn.serial_text, serial, 255);
    return 0;
}

int HID_Device_Enumerate(void) {
    // Only the first three identities are probed; the first hit ends the probe.
    for (int i = 0; i < 3; i++) {
        hid_device_info *list = fe_hid_enumerate(identities[i].vendor_id, identities[i].product_id);
        if (list != nullptr) {
            fe_hid_free_enumeration(list);
            return 1;
        }
    }
    return 0;
}

int HID_Device_Init_HID(char *msg) {
    fe_endpoint where;
    where.serial = conn.serial;
    return open_transport(&usb_hid, &where, msg);
}

int HID_Device_Init_MSD(char *msg, const char *path_name) {
    fe_endpoint where;
    where.path = path_name;
    return open_transport(&drive_files, &where, msg);
}

int HID_Device_Init(char *msg) {
    if (HID_Device_Init_HID(msg) == 1)
        return 1;
    const char *path;
    // Paths are shown with control characters escaped: a drive's volume
    // label becomes part of its mount point.
    char shown[visible_size(PATH_SIZE)];
    msd_path_origin origin = MSD_PATH_GIVEN;
    bool explained = conn.hid_receiver_seen;
    if (conn.path_name[0] != '\0') {
        if (!conn.console_quiet)
            printf("The TALMIR path is: %s\n\r", visible_text(conn.path_name, shown, sizeof shown));
        path = conn.path_name;
    } else {
        // On Linux the receiver's drive is looked for among the mounts first.
        plat_drive_search search;
        path = plat_find_receiver_drive(conn.found_path, sizeof conn.found_path, &search)
                   ? conn.found_path
                   : default_path_name;
        if (path != conn.found_path && search.untrusted[0] != '\0' && !conn.console_quiet)
            fprintf(stderr,
                    "The drive at %s holds the command files but is not used: its top "
                    "directory must belong to you or to root and be writable by nobody else "
                    "(give it with -P to use it anyway)\n",
                    visible_text(search.untrusted, shown, sizeof shown));
        if (search.timed_out && !conn.console_quiet)
            fprintf(stderr,
                    "The search for the receiver's drive was stopped after %u ms: a mounted "
                    "drive did not answer (give the drive with -P)\n",
                    search.limit_ms);
        origin = path == conn.found_path ? MSD_PATH_FOUND : MSD_PATH_DEFAULT;
        // Either line says why no drive was found.
        explained = explained || search.untrusted[0] != '\0' || search.timed_out;
        if (!conn.console_quiet)
            printf("The TALMIR path was not defined, use default: %s\n\r",
                   visible_text(path, shown, sizeof shown));
    }
    int opened = HID_Device_Init_MSD(msg, path);
    if (opened == 0 && !conn.console_quiet)
        MSD_Open_Hint(path, conn.msd_open_file, origin, conn.msd_open_error, explained);
    if (opened == 0)
        conn.open_failure = conn.hid_receiver_seen       ? HID_OPEN_USB_NOT_OPENABLE
                            : origin != MSD_PATH_DEFAULT ? HID_OPEN_DRIVE_NOT_OPENABLE
                                                         : HID_OPEN_NO_RECEIVER;
    return opened;
}

int open_tcp_connection(const char *ip, int port) {
    fe_endpoint where;
    where.address = ip;
    where.port = port;
    char msg[MSG_SIZE] = {};
    return open_transport(&fe_tcp_tunnel, &where, msg) == 1 ? 0 : -1;
}

int HID_Close(void) {
    // Both local transports are closed, so that this process or another can
    // open the device and the drive again.
    hid_close_device();
    drive_close();
    if (is_local(conn.transport))
        conn.transport = &no_transport;
    return 0;
}

fe_io HID_Write_Report(unsigned char *report) {
    fe_io io = conn.transport->write(report, conn.command_size);
    note_exchange(io.how);
    if (io.result > 0)
        conn.report_unanswered = 1;
    return io;
}

fe_io HID_Read_Answer(char *buf) {
    buf[0] = 0;
    fe_io io = conn.transport->read(reinterpret_cast<unsigned char *>(buf), conn.command_size,
                                    HID_READ_TIMEOUT_MS);
    note_exchange(io.how);
    if (io.result > 0)
        conn.report_unanswered = 0;
    return io;
}

int HID_Write_Data(unsigned char *report) {
    return HID_Write_Report(report).result;
}

int HID_Read_Data(char *buf) {
    return HID_Read_Answer(buf).result;
}

int HID_Pause_After_Report(void) {
    // Nothing else runs meanwhile that could read the answer: this is a
    // plain pause, or none.
    if (conn.report_unanswered == 0)
        return 0;
    plat_sleep_ms(REPORT_PAUSE_MS);
    return -1;
}

void hid_change_tcp_network_flag(int state) {
    hid_tcp_network_flag = state;
}
