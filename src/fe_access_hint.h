// SPDX-License-Identifier: MIT
// Hints for the user when the receiver cannot be opened: one line on
// standard error, after the open's own messages, that says why in words and
// what to do next. A receiver that is plugged in but cannot be opened nearly
// always means, on Linux, that its hidraw node belongs to root.
#pragma once

#include <cstddef>
#include <cwchar>

// The udev rules file that gives the logged-in user access to the receivers.
constexpr const char UDEV_RULES_FILE_NAME[] = "60-kestrel.rules";

// Looks whether USB HID enumeration sees a receiver of this identity (and of
// this serial number, when `serial` is not null). If it does, prints one hint
// line on standard error that names the identity and the rules file, and
// returns 1; otherwise prints nothing and returns 0. Called after the open
// of every identity has failed.
int HID_Access_Hint(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial);

// The length of the folder part of `path`: up to and with its last
// separator, or 0 when it has none. With `backslash_too` (Windows), "\\"
// separates as "/" does, and a drive letter ("C:name") is a folder of its own.
size_t path_folder_length(const char *path, bool backslash_too);

// How the drive path of a failed drive-file open was chosen.
enum msd_path_origin {
    MSD_PATH_GIVEN,   // by -P
    MSD_PATH_FOUND,   // among the mounted drives
    MSD_PATH_DEFAULT, // none found: the traditional default
};

// After the command file `file` of the drive at `path` failed to open with
// the system's code `error` (0: a failure that has its own message). With no
// receiver found at all, names the transports that were tried and how to
// choose one, unless `explained`: a line that says why has been given
// already (a USB HID receiver that cannot be opened, a drive passed over).
void MSD_Open_Hint(const char *path, const char *file, msd_path_origin origin, long error,
                   bool explained);

// After a TCP connection to `address` at `port` failed with the system's
// code `error`; `address_read` false when the text is not an IPv4 address.
void TCP_Open_Hint(const char *address, unsigned port, bool address_read, long error);
