// SPDX-License-Identifier: MIT
// Loading DLLs on Windows. A library is loaded from the program's own
// directory only: the current directory and the PATH are not searched, so
// that no other file of the same name can take its place.
#include "platform/dynlib.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>

namespace {

// The system's description of `code`, without its line end.
void describe(DWORD code, char *why, size_t why_size) {
    if (why_size == 0)
        return;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, why, static_cast<DWORD>(why_size), nullptr);
    if (n == 0) {
        snprintf(why, why_size, "error %lu", static_cast<unsigned long>(code));
        return;
    }
    size_t length = strlen(why);
    while (length > 0 && (why[length - 1] == '\n' || why[length - 1] == '\r' ||
                          why[length - 1] == ' ' || why[length - 1] == '.'))
        why[--length] = '\0';
}

} // namespace

void *plat_process_symbol(const char *library, const char *name) {
    HMODULE module = GetModuleHandleA(library);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(module, name));
}

void *plat_library_load(const char *library, char *why, size_t why_size) {
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t wide_name[MAX_PATH];
    size_t name_length = mbstowcs(wide_name, library, MAX_PATH - 1);
    if (length == 0 || length >= MAX_PATH || name_length == static_cast<size_t>(-1)) {
        describe(ERROR_BAD_PATHNAME, why, why_size);
        return nullptr;
    }
    wide_name[name_length] = L'\0';
    // The program's directory: its file name up to the last separator.
    size_t dir = length;
    while (dir > 0 && path[dir - 1] != L'\\' && path[dir - 1] != L'/')
        dir--;
    if (dir + name_length > MAX_PATH) {
        describe(ERROR_FILENAME_EXCED_RANGE, why, why_size);
        return nullptr;
    }
    wcscpy(path + dir, wide_name);
    HMODULE module = LoadLibraryW(path);
    if (module == nullptr)
        describe(GetLastError(), why, why_size);
    return reinterpret_cast<void *>(module);
}

void *plat_library_symbol(void *handle, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
