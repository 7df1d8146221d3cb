// SPDX-License-Identifier: MIT
// The hint lines that follow a failed open.
#include "fe_access_hint.h"

#include <cstdio>
#include <cstring>

#include "fe_hidapi.h"
#include "platform/backup_file.h"
#include "platform/diagnose.h"
#include "visible_text.h"

namespace {

#ifdef _WIN32
constexpr bool PATH_BACKSLASH_SEPARATES = true;
#else
constexpr bool PATH_BACKSLASH_SEPARATES = false;
#endif

// A path ends in a separator.
bool ends_in_separator(const char *path, size_t length) {
    return length > 0 &&
           (path[length - 1] == '/' || (PATH_BACKSLASH_SEPARATES && path[length - 1] == '\\'));
}

} // namespace

size_t path_folder_length(const char *path, bool backslash_too) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != '\0'; i++)
        if (path[i] == '/' || (backslash_too && path[i] == '\\'))
            folder = i + 1;
    // "C:command.in" is looked for in the current folder of drive C:.
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (backslash_too && folder == 0 && letter && path[1] == ':')
        folder = 2;
    return folder;
}

int HID_Access_Hint(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial) {
    hid_device_info *list = fe_hid_enumerate(vendor_id, product_id);
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
        fprintf(stderr, "Hint: receiver %04hx:%04hx is attached (%s) but cannot be opened; %s\n",
                vendor_id, product_id, path, plat_usb_access_advice());
    }
    fe_hid_free_enumeration(list);
    return seen != nullptr ? 1 : 0;
}

void MSD_Open_Hint(const char *path, const char *file, msd_path_origin origin, long error,
                   bool explained) {
    if (error == 0)
        return;
    const plat_error_kind kind = plat_error_kind_of(error);
    if (origin == MSD_PATH_DEFAULT) {
        if (!explained)
            fputs("kestrel: no receiver found: tried USB HID (no receiver attached) and the "
                  "receiver's drive (no mounted drive holds command.in and command.out); choose "
                  "the transport: -P<dir>/ for the directory of the receiver's drive, "
                  "-T<address> for a receiver on the network, -L to list the USB receivers\n",
                  stderr);
        return;
    }
    // The directory the file was looked for in: the path up to its last
    // separator, or the current directory.
    const size_t folder = path_folder_length(path, PATH_BACKSLASH_SEPARATES);
    const int parent_length = folder > 0 ? static_cast<int>(folder) : 1;
    const char *parent_text = folder > 0 ? path : ".";
    // Names too long for these buffers are too long for the system to look
    // up as well, so they are taken as absent.
    char parent[PLAT_BACKUP_PATH_SIZE];
    char probe[PLAT_BACKUP_PATH_SIZE];
    const bool parent_fits = parent_length < static_cast<int>(sizeof parent);
    if (parent_fits)
        snprintf(parent, sizeof parent, "%.*s", parent_length, parent_text);
    const size_t length = strlen(path);
    // The path may hold a drive's volume label: shown with its control
    // characters made visible, as every drive path kestrel prints.
    char shown_path[visible_size(PLAT_BACKUP_PATH_SIZE)];
    char shown_parent[visible_size(PLAT_BACKUP_PATH_SIZE)];
    visible_text(path, shown_path, sizeof shown_path);
    visible_text(parent_fits ? parent : parent_text, shown_parent, sizeof shown_parent);
    switch (kind) {
    case PLAT_ERROR_NOT_FOUND:
        if (length > 0 && !ends_in_separator(path, length) &&
            static_cast<size_t>(snprintf(probe, sizeof probe, "%s/command.in", path)) <
                sizeof probe &&
            plat_is_file(probe))
            fprintf(stderr,
                    "kestrel: %s%s does not exist, but %s/command.in does: the drive path must "
                    "end in \"/\": write -P%s/\n",
                    shown_path, file, shown_path, shown_path);
        else if (!parent_fits || !plat_is_directory(parent))
            fprintf(stderr,
                    "kestrel: the directory %s does not exist (%s): mount the receiver's drive "
                    "and give its directory, ending in \"/\", as -P<dir>/\n",
                    shown_parent, plat_error_text(error));
        else
            fprintf(stderr,
                    "kestrel: %s holds no %s (%s): give the top directory of the receiver's "
                    "drive, ending in \"/\", as -P<dir>/ (the receiver shows its drive in "
                    "mass-storage mode, -U0)\n",
                    shown_parent, file, plat_error_text(error));
        break;
    case PLAT_ERROR_IN_USE:
        fprintf(stderr,
                "kestrel: the receiver's drive at %s is in use by another kestrel run or by "
                "kestreld (it holds the lock on %s): wait for that run to end, then try "
                "again\n",
                shown_parent, file);
        break;
    case PLAT_ERROR_DENIED:
        fprintf(stderr,
                "kestrel: permission denied on the command files in %s (%s): they must be "
                "readable and writable by you; see who owns them with ls -l %s\n",
                shown_parent, plat_error_text(error), shown_parent);
        break;
    case PLAT_ERROR_READ_ONLY:
        fprintf(stderr,
                "kestrel: the receiver's drive at %s is mounted read-only (%s): mount it "
                "read-write\n",
                shown_parent, plat_error_text(error));
        break;
    default:
        break; // the open's own message shows the code
    }
}

void TCP_Open_Hint(const char *address, unsigned port, bool address_read, long error) {
    if (!address_read) {
        // An address with a port in it has had its own message already.
        if (strchr(address, ':') == nullptr)
            fprintf(stderr,
                    "kestrel: \"%s\" is not an IPv4 address, so no connection was tried: give "
                    "the receiver's address as -T<a.b.c.d> and its port as -P<port>\n",
                    address);
        return;
    }
    const char *reason;
    switch (plat_error_kind_of(error)) {
    case PLAT_ERROR_REFUSED:
        reason = "connection refused: nothing listens at that port";
        break;
    case PLAT_ERROR_TIMED_OUT:
        reason = "timed out: nothing answered";
        break;
    case PLAT_ERROR_UNREACHABLE:
        reason = "unreachable: no route to that network or host";
        break;
    default:
        reason = plat_error_text(error);
        break;
    }
    fprintf(stderr,
            "kestrel: no connection to %s port %u: %s; check that the receiver is on and "
            "connected, and its address and port (-T<address> -P<port>)\n",
            address, port, reason);
}
