// SPDX-License-Identifier: MIT
// Win32 implementation of the backup files. A new backup is written to a
// temporary file beside the old one, flushed to the disk (FlushFileBuffers)
// and put in the old one's place with MoveFileExW, which replaces it in one
// step and returns only once the move is on the disk. The bytes are written
// as given (no text-mode line ends), so a backup is the same file on every
// system. Error codes are the system's (GetLastError).
#include "platform/backup_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>

#include <io.h>

#include "platform/win32/text.h"

namespace {

HANDLE handle_of(const plat_backup_file *file) {
    return reinterpret_cast<HANDLE>(file->handle);
}

long last_error_or(DWORD fallback) {
    DWORD err = GetLastError();
    return static_cast<long>(err != 0 ? err : fallback);
}

// Length of the directory part of `path`, its final separator included; 0
// for a name in the current directory ("C:name" keeps its "C:").
size_t directory_length(const char *path) {
    size_t n = 0;
    for (size_t i = 0; path[i] != '\0'; i++)
        if (path[i] == '/' || path[i] == '\\' || (i == 1 && path[i] == ':'))
            n = i + 1;
    return n;
}

// Whether the name stands for a device that keeps nothing written to it:
// Windows takes NUL, AUX, PRN, COM1, LPT1 and such, in any directory and
// mostly with any extension too ("nul.txt"), for its devices, and
// their full name then begins with "\\.\" with no directory after it. The
// console (CON) and named pipes are written as terminals and pipes are.
bool is_device_name(const std::wstring &wide) {
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH || wcsncmp(full, L"\\\\.\\", 4) != 0 ||
        wcschr(full + 4, L'\\') != nullptr)
        return false;
    return _wcsicmp(full + 4, L"CON") != 0 && _wcsicmp(full + 4, L"CONOUT$") != 0;
}

bool copy_path(char *out, const std::string &path) {
    if (path.size() >= PLAT_BACKUP_PATH_SIZE)
        return false;
    memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

long plat_backup_inspect(const char *name, plat_backup_target *target) {
    *target = plat_backup_target{};
    if (!copy_path(target->path, name))
        return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring wide = plat_widen(name);
    if (is_device_name(wide)) {
        target->exists = target->device = true;
        return 0;
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0; // nothing there yet
    target->exists = true;
    target->permissions = attributes;
    // An old backup that cannot be written stays as it is, as it would if
    // it were opened for writing. The open follows links.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return last_error_or(ERROR_ACCESS_DENIED);
    target->regular =
        GetFileType(h) == FILE_TYPE_DISK && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    // Through a symbolic link the backup is the file it points to.
    if (target->regular && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        wchar_t resolved[PLAT_BACKUP_PATH_SIZE];
        DWORD n = GetFinalPathNameByHandleW(h, resolved, PLAT_BACKUP_PATH_SIZE, 0);
        if (n > 0 && n < PLAT_BACKUP_PATH_SIZE)
            copy_path(target->path, plat_narrow(resolved));
    }
    CloseHandle(h);
    return 0;
}

long plat_backup_create_temp(const plat_backup_target *target, plat_backup_file *file) {
    *file = plat_backup_file{};
    const size_t dir_length = directory_length(target->path);
    // A name nobody else uses: tried afresh while the name is taken.
    static unsigned sequence = 0;
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned tag = (GetCurrentProcessId() * 7919u + GetTickCount() + sequence++) % 1000000u;
        int n = snprintf(file->temp, sizeof file->temp, "%.*s.kestrel-backup-%06u",
                         static_cast<int>(dir_length), target->path, tag);
        if (n < 0 || static_cast<size_t>(n) >= sizeof file->temp) {
            file->temp[0] = '\0';
            return ERROR_FILENAME_EXCED_RANGE;
        }
        HANDLE h = CreateFileW(plat_widen(file->temp).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file->handle = reinterpret_cast<intptr_t>(h);
            return 0;
        }
        DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) {
            file->temp[0] = '\0';
            return static_cast<long>(err);
        }
    }
    file->temp[0] = '\0';
    return ERROR_FILE_EXISTS;
}

namespace {

// Opens `name`, which exists, for writing, sharing it as `share` allows.
long open_existing_for_writing(const char *name, DWORD share, plat_backup_file *file) {
    *file = plat_backup_file{};
    HANDLE h = CreateFileW(plat_widen(name).c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return last_error_or(ERROR_OPEN_FAILED);
    file->handle = reinterpret_cast<intptr_t>(h);
    return 0;
}

} // namespace

long plat_backup_open_in_place(const plat_backup_target *target, plat_backup_file *file) {
    return open_existing_for_writing(target->path, FILE_SHARE_READ, file);
}

long plat_backup_overwrite(plat_backup_file *file, const void *data, size_t size) {
    HANDLE h = handle_of(file);
    LARGE_INTEGER old_size{}, new_size{}, zero{};
    new_size.QuadPart = static_cast<LONGLONG>(size);
    if (!GetFileSizeEx(h, &old_size))
        return last_error_or(ERROR_WRITE_FAULT);
    // Room first: a full disk fails here, with the old text as it was.
    if (new_size.QuadPart > old_size.QuadPart &&
        (!SetFilePointerEx(h, new_size, nullptr, FILE_BEGIN) || !SetEndOfFile(h))) {
        long err = last_error_or(ERROR_DISK_FULL);
        if (SetFilePointerEx(h, old_size, nullptr, FILE_BEGIN))
            SetEndOfFile(h);
        return err;
    }
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN))
        return last_error_or(ERROR_WRITE_FAULT);
    if (long err = plat_backup_write(file, data, size); err != 0)
        return err;
    if (!SetEndOfFile(h) || !FlushFileBuffers(h))
        return last_error_or(ERROR_WRITE_FAULT);
    return 0;
}

long plat_backup_open_direct(const char *name, plat_backup_file *file) {
    // Only for what is not a regular file (the console, a pipe): it exists.
    return open_existing_for_writing(name, FILE_SHARE_READ | FILE_SHARE_WRITE, file);
}

long plat_backup_write(plat_backup_file *file, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD n = 0;
        if (!WriteFile(handle_of(file), p, chunk, &n, nullptr))
            return last_error_or(ERROR_WRITE_FAULT);
        if (n == 0)
            return ERROR_WRITE_FAULT;
        p += n;
        size -= n;
    }
    return 0;
}

long plat_backup_sync(plat_backup_file *file) {
    return FlushFileBuffers(handle_of(file)) ? 0 : last_error_or(ERROR_WRITE_FAULT);
}

long plat_backup_close(plat_backup_file *file) {
    HANDLE h = handle_of(file);
    file->handle = -1;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    return CloseHandle(h) ? 0 : last_error_or(ERROR_WRITE_FAULT);
}

long plat_backup_replace(plat_backup_file *file, const char *target_path) {
    if (!MoveFileExW(plat_widen(file->temp).c_str(), plat_widen(target_path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return last_error_or(ERROR_WRITE_FAULT);
    file->temp[0] = '\0';
    return 0;
}

void plat_backup_discard(plat_backup_file *file) {
    plat_backup_close(file);
    if (file->temp[0] != '\0')
        DeleteFileW(plat_widen(file->temp).c_str());
    file->temp[0] = '\0';
}

FILE *plat_backup_open_source(const char *name, plat_backup_source *source) {
    *source = plat_backup_source{};
    const std::wstring wide = plat_widen(name);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        source->not_regular = true;
        return nullptr;
    }
    // Binary: the reader takes lines ending in CR LF, LF or CR alike, and a
    // Ctrl-Z in the file is no end of it.
    SetLastError(0);
    FILE *file = _wfopen(wide.c_str(), L"rb");
    if (file == nullptr) {
        source->error = last_error_or(ERROR_OPEN_FAILED);
        return nullptr;
    }
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK) { // a device such as CON or a pipe
        fclose(file);
        source->not_regular = true;
        return nullptr;
    }
    if (GetFileSizeEx(h, &size))
        source->size = static_cast<uint64_t>(size.QuadPart);
    return file;
}
