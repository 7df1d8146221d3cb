// SPDX-License-Identifier: MIT
// Text that comes from a device (the strings of a USB receiver, a path that
// holds a drive's volume label), made safe to print on a terminal: a device
// must not be able to retitle, clear or recolour the user's terminal with
// escape sequences in its strings.
//
// A control character (C0: codes 0 to 31, DEL: 127, C1: 128 to 159) is
// shown as a backslash, "x" and two lower-case hexadecimal digits of its
// code: ESC shows as \x1b. Everything else, letters beyond ASCII included,
// stays byte for byte. A backslash stays as it is, so the shown form is for
// reading, not for reading back.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cwchar>

// Room for any text of `n` bytes in its shown form, terminator included.
constexpr size_t visible_size(size_t n) {
    return 4 * n + 1;
}

// Puts the shown form of a narrow text into `out` (at most `out_size` bytes,
// terminator included; a control character is shown whole or not at all)
// and returns `out`. In narrow text, C1 characters are those that UTF-8
// writes as C2 80 to C2 9F, and single bytes 80 to 9F that are not part of
// a UTF-8 character (some terminals take them as C1 too).
const char *visible_text(const char *text, char *out, size_t out_size);

// Prints the shown form of a wide text (hidapi's strings), converted as
// "%ls" converts it.
void print_visible_wide(FILE *stream, const wchar_t *text);
