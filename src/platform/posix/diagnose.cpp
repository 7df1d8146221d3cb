#include "platform/diagnose.h"

#include <cerrno>

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
