// SPDX-License-Identifier: MIT
// The help text shown by -H and by an empty command line.
#pragma once

extern const char help_text[];
