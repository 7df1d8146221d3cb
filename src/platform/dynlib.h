// SPDX-License-Identifier: MIT
// Shared libraries that the program loads while it runs, so that a library
// it needs for one transport only (the USB HID library) costs nothing to a
// run that does not use that transport, and is not needed on a machine that
// never uses it.
#pragma once

#include <cstddef>

// The address of the function `name` when a library already in the process
// provides it: on POSIX any library of the process (one the program was
// linked with, or one preloaded into it), or the program itself; on
// Windows the library `library` when it has been loaded. Null otherwise.
void *plat_process_symbol(const char *library, const char *name);

// Loads the library `library` and returns its handle: on POSIX found as the
// dynamic loader finds libraries, on Windows beside the program's own file.
// Null when it cannot be loaded, with the system's reason in `why` (cut to
// `why_size` bytes).
void *plat_library_load(const char *library, char *why, size_t why_size);

// The address of the function `name` in a library loaded above, or null.
void *plat_library_symbol(void *handle, const char *name);
