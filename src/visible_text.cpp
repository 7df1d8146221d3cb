// SPDX-License-Identifier: MIT
// Device texts in a form that cannot steer a terminal.
#include "visible_text.h"

namespace {

bool is_control(unsigned long code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Length of the UTF-8 character that starts at `p` (2 to 4), or 0 when the
// bytes there are not one.
size_t utf8_length(const unsigned char *p) {
    size_t n = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
    if (p[0] >= 0xF5)
        return 0;
    for (size_t i = 1; i < n; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

} // namespace

const char *visible_text(const char *text, char *out, size_t out_size) {
    if (out_size == 0)
        return out;
    size_t n = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p != '\0') {
        size_t len = utf8_length(p);
        unsigned long code = p[0];
        if (len == 2 && p[0] == 0xC2 && p[1] <= 0x9F)
            code = p[1]; // a C1 character written in UTF-8
        else if (len == 0)
            len = 1;
        else
            code = 0xA0; // any other character beyond ASCII: ordinary text
        if (is_control(code)) {
            if (n + 4 >= out_size)
                break;
            snprintf(out + n, 5, "\\x%02lx", code);
            n += 4;
        } else {
            if (n + len >= out_size)
                break;
            for (size_t i = 0; i < len; i++)
                out[n++] = static_cast<char>(p[i]);
        }
        p += len;
    }
    out[n] = '\0';
    return out;
}

void print_visible_wide(FILE *stream, const wchar_t *text) {
    // Ordinary characters go out in runs, each converted as "%ls" does.
    wchar_t run[128];
    size_t n = 0;
    for (const wchar_t *p = text;; p++) {
        bool control = *p != L'\0' && is_control(static_cast<unsigned long>(*p));
        if (*p == L'\0' || control || n == sizeof run / sizeof run[0] - 1) {
            run[n] = L'\0';
            if (n > 0)
                fprintf(stream, "%ls", run);
            n = 0;
        }
        if (*p == L'\0')
            break;
        if (control)
            fprintf(stream, "\\x%02lx", static_cast<unsigned long>(*p));
        else
            run[n++] = *p;
    }
}
