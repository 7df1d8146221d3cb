// Win32: the kinds of the system's error codes (GetLastError and Winsock's),
// and what a path names, for the hints that follow a failed open.
#include "platform/diagnose.h"

#include <winsock2.h>
#include <windows.h>

#include "platform/win32/text.h"

plat_error_kind plat_error_kind_of(long code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY: // a removable drive without a medium
        return PLAT_ERROR_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
        return PLAT_ERROR_DENIED;
    case ERROR_WRITE_PROTECT:
        return PLAT_ERROR_READ_ONLY;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return PLAT_ERROR_IN_USE;
    case WSAECONNREFUSED:
        return PLAT_ERROR_REFUSED;
    case WSAETIMEDOUT:
        return PLAT_ERROR_TIMED_OUT;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
        return PLAT_ERROR_UNREACHABLE;
    default:
        return PLAT_ERROR_OTHER;
    }
}

bool plat_is_directory(const char *path) {
    DWORD attributes = GetFileAttributesW(plat_widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool plat_is_file(const char *path) {
    DWORD attributes = GetFileAttributesW(plat_widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
