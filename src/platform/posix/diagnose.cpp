// SPDX-License-Identifier: MIT
// POSIX: error codes (errno's) in words and by kind, what a path names, and
// the access to USB receivers that the udev rules give.
#include "platform/diagnose.h"

#include <cerrno>
#include <cstring>

#include "platform/system.h"

#include <sys/stat.h>

plat_error_kind plat_error_kind_of(long code) {
    switch (code) {
    case ENOENT:
    case ENOTDIR:
        return PLAT_ERROR_NOT_FOUND;
    case EACCES:
    case EPERM:
        return PLAT_ERROR_DENIED;
    case EROFS:
        return PLAT_ERROR_READ_ONLY;
    case EWOULDBLOCK:
        return PLAT_ERROR_IN_USE;
    case ECONNREFUSED:
        return PLAT_ERROR_REFUSED;
    case ETIMEDOUT:
        return PLAT_ERROR_TIMED_OUT;
    case ENETUNREACH:
    case EHOSTUNREACH:
#ifdef ENETDOWN
    case ENETDOWN:
#endif
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
        return PLAT_ERROR_UNREACHABLE;
    case EADDRINUSE:
        return PLAT_ERROR_PORT_IN_USE;
    case EADDRNOTAVAIL:
        return PLAT_ERROR_NOT_LOCAL;
    default:
        return PLAT_ERROR_OTHER;
    }
}

bool plat_is_directory(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool plat_is_file(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

const char *plat_error_text(long code) {
    return strerror(static_cast<int>(code));
}

void plat_set_condition(plat_condition condition) {
    static constexpr int CODES[] = {0, EINVAL, ETIMEDOUT, EBADF};
    errno = CODES[condition];
}

const char *plat_usb_access_advice(void) {
    return "to open it without root, install the udev rules file 60-kestrel.rules and plug it in "
           "again; over SSH, also join the group plugdev (see PERMISSIONS in kestrel(1))";
}
