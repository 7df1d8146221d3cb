// A hint for the user when a receiver is plugged in but cannot be opened,
// which on Linux nearly always means that its hidraw node belongs to root.
#pragma once

#include <cwchar>

// The udev rules file that gives the logged-in user access to the receivers.
constexpr const char UDEV_RULES_FILE_NAME[] = "60-kestrel.rules";

// Looks whether USB HID enumeration sees a receiver of this identity (and of
// this serial number, when `serial` is not null). If it does, prints one hint
// line on standard error that names the identity and the rules file, and
// returns 1; otherwise prints nothing and returns 0. Called after the open
// of every identity has failed.
int HID_Access_Hint(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial);
