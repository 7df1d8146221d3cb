// SPDX-License-Identifier: MIT
// Win32: the system's error codes (GetLastError and Winsock's) in words and
// by kind, what a path names, and what holds a USB receiver back.
#include "platform/diagnose.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "platform/system.h"
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
    case WSAEADDRINUSE:
        return PLAT_ERROR_PORT_IN_USE;
    case WSAEADDRNOTAVAIL:
        return PLAT_ERROR_NOT_LOCAL;
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

const char *plat_error_text(long code) {
    static char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        n--;
    if (n == 0)
        snprintf(text, sizeof text, "Error %ld", code);
    else
        text[n] = '\0';
    return text;
}

void plat_set_condition(plat_condition condition) {
    static constexpr DWORD CODES[] = {0, ERROR_INVALID_PARAMETER, WSAETIMEDOUT, WSAENOTSOCK};
    SetLastError(CODES[condition]);
}

const char *plat_usb_access_advice(void) {
    // Windows needs no rights for a receiver; a program that holds it does
    // keep others out.
    return "close any other program that uses it, or plug it in again";
}
