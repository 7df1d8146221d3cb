// SPDX-License-Identifier: MIT
// POSIX: the run needs no preparation, and command-line text is in the
// locale's encoding.
#include "platform/platform.h"

#include <cstdlib>

void plat_start(int *, char ***) {}

bool plat_text_to_wide(const char *text, wchar_t *out, size_t count) {
    return mbstowcs(out, text, count) != static_cast<size_t>(-1);
}
