// SPDX-License-Identifier: MIT
// Reading numbers and words out of command-line arguments.
//
// Each reader starts at a position inside an argument and behaves like the C
// library's formatted scan for in-range input: leading white space and a sign
// are allowed and reading stops at the first character that does not belong
// to the number. A reader that finds no number returns false and leaves its
// variable alone. Input out of range has one defined rule: the number is
// taken as a 64-bit value, held at the 64-bit limits when it goes past them,
// and the variable receives its low bits (two's complement), which is what
// the C library does on this platform.
#pragma once

#include <cstddef>
#include <cstdint>

// "%d" / "%ld": a signed decimal number. When `end` is given it receives the
// position just past the number (or `text` when none was read).
bool scan_decimal(const char *text, int64_t *value, const char **end = nullptr);
// "%x": a hexadecimal number with an optional "0x" prefix. `end` as for
// scan_decimal.
bool scan_hex(const char *text, uint64_t *value, const char **end = nullptr);
// "%s": the text up to the first white space, cut to size-1 characters.
bool scan_word(const char *text, char *out, size_t size);

// The argument from position `pos` on, or "" when the argument is shorter.
const char *arg_at(const char *arg, size_t pos);

template <typename T> bool scan_int(const char *text, T *var) {
    int64_t v;
    if (!scan_decimal(text, &v))
        return false;
    *var = static_cast<T>(static_cast<uint64_t>(v));
    return true;
}

template <typename T> bool scan_hex_int(const char *text, T *var) {
    uint64_t v;
    if (!scan_hex(text, &v))
        return false;
    *var = static_cast<T>(v);
    return true;
}
