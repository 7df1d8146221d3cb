// SPDX-License-Identifier: MIT
#include "cmdline.h"

#include <cstring>

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Accumulates digits of the given base, holding at `limit`. Returns the
// number of digits taken.
size_t take_digits(const char *&p, unsigned base, uint64_t limit, uint64_t *out) {
    uint64_t v = 0;
    size_t n = 0;
    for (;; p++, n++) {
        int d = hex_digit(*p);
        if (d < 0 || static_cast<unsigned>(d) >= base)
            break;
        if (v > (limit - static_cast<uint64_t>(d)) / base)
            v = limit;
        else
            v = v * base + static_cast<uint64_t>(d);
    }
    *out = v;
    return n;
}

// Skips leading white space and an optional sign; tells whether it was "-".
bool take_sign(const char *&p) {
    while (is_space(*p))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    return negative;
}

} // namespace

bool scan_decimal(const char *text, int64_t *value, const char **end) {
    if (end != nullptr)
        *end = text;
    const char *p = text;
    const bool negative = take_sign(p);
    uint64_t magnitude;
    // A negative number may reach one further than a positive one.
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (take_digits(p, 10, limit, &magnitude) == 0)
        return false;
    *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    if (end != nullptr)
        *end = p;
    return true;
}

bool scan_hex(const char *text, uint64_t *value, const char **end) {
    if (end != nullptr)
        *end = text;
    const char *p = text;
    const bool negative = take_sign(p);
    // "0x" counts as a prefix only when a hex digit follows; otherwise the
    // "0" alone is the number.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0)
        p += 2;
    uint64_t v;
    if (take_digits(p, 16, UINT64_MAX, &v) == 0)
        return false;
    *value = negative ? 0 - v : v;
    if (end != nullptr)
        *end = p;
    return true;
}

bool scan_word(const char *text, char *out, size_t size) {
    const char *p = text;
    while (is_space(*p))
        p++;
    size_t n = 0;
    while (p[n] != '\0' && !is_space(p[n]))
        n++;
    if (n == 0 || size == 0)
        return false;
    if (n > size - 1)
        n = size - 1;
    memcpy(out, p, n);
    out[n] = '\0';
    return true;
}

const char *arg_at(const char *arg, size_t pos) {
    size_t len = strnlen(arg, pos);
    return len < pos ? "" : arg + pos;
}
