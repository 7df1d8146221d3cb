// SPDX-License-Identifier: MIT
// UTF-8 and wide text in the Win32 platform layer: the utility's text is
// UTF-8 (see plat_start), the system's names are wide.
#pragma once

#include <string>

// Invalid UTF-8 becomes replacement characters; null becomes "".
std::wstring plat_widen(const char *text);
std::string plat_narrow(const wchar_t *text);
