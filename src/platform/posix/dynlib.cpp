// SPDX-License-Identifier: MIT
// Loading shared libraries on POSIX systems, through the dynamic loader.
#include "platform/dynlib.h"

#include <cstdio>
#include <cstring>

#include <dlfcn.h>

void *plat_process_symbol(const char *, const char *name) {
    return dlsym(RTLD_DEFAULT, name);
}

void *plat_library_load(const char *library, char *why, size_t why_size) {
    void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && why_size > 0) {
        const char *reason = dlerror();
        if (reason == nullptr)
            reason = "not found";
        // The loader's text begins with the file name, which the caller has.
        size_t length = strlen(library);
        if (strncmp(reason, library, length) == 0 && strncmp(reason + length, ": ", 2) == 0)
            reason += length + 2;
        snprintf(why, why_size, "%s", reason);
    }
    return handle;
}

void *plat_library_symbol(void *handle, const char *name) {
    return dlsym(handle, name);
}
