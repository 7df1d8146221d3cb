// SPDX-License-Identifier: MIT
// Win32 implementation of the platform layer.
//
// The drive's command files are opened without sharing, with write-through
// and without system buffering, so that every request reaches the drive at
// once and every answer is read from the drive. Without system buffering
// Windows moves only whole sectors from and into sector-aligned memory; the
// transfers check that themselves (plat_sector_transfer_allowed), since not
// every system that runs this program enforces it.
#include "platform/system.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

#include <malloc.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/win32/text.h"

namespace {

HANDLE handle_of(const plat_file *f) {
    return static_cast<HANDLE>(f->handle);
}

// Sets the position to the file's start: every transfer is of sector 0.
bool rewind_file(HANDLE h) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) != 0;
}

void end_timer_period(void) {
    timeEndPeriod(1);
}

} // namespace

std::wstring plat_widen(const char *text) {
    if (text == nullptr)
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string plat_narrow(const wchar_t *text) {
    if (text == nullptr)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// The system's nearest code for what is not a regular file.
static DWORD not_regular_error(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_CANT_ACCESS_FILE; // a symbolic link or a junction
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_ACCESS_DENIED; // what opening a directory as a file says
    return ERROR_BAD_FILE_TYPE;     // a device (COM1, NUL, ...)
}

bool plat_file_open_exclusive(const char *path, plat_file *f, bool *refused) {
    f->handle = nullptr;
    bool not_regular = false;
    if (refused == nullptr)
        refused = &not_regular;
    *refused = false;
    const std::wstring name = plat_widen(path);
    // Look before opening, so that a device is not even opened.
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes &
        (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        *refused = true;
        SetLastError(not_regular_error(attributes));
        return false;
    }
    // A link put in its place since is opened as itself, and refused below.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING |
                               FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // What counts is what was opened.
    DWORD error = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error = ERROR_BAD_FILE_TYPE;
        *refused = true;
    } else if (!GetFileInformationByHandle(h, &info)) {
        error = GetLastError();
    } else if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        error = not_regular_error(info.dwFileAttributes);
        *refused = true;
    }
    if (error != 0) {
        CloseHandle(h);
        SetLastError(error);
        return false;
    }
    f->handle = h;
    return true;
}

void plat_file_close(plat_file *f) {
    if (f->handle != nullptr)
        CloseHandle(handle_of(f));
    f->handle = nullptr;
}

bool plat_file_valid(const plat_file *f) {
    return f->handle != nullptr;
}

bool plat_file_gone(const plat_file *f) {
    BY_HANDLE_FILE_INFORMATION info{};
    return f->handle == nullptr || !GetFileInformationByHandle(handle_of(f), &info) ||
           info.nNumberOfLinks == 0;
}

bool plat_sector_read(plat_file *f, void *sector) {
    DWORD n = 0;
    if (!rewind_file(handle_of(f)) ||
        !ReadFile(handle_of(f), sector, static_cast<DWORD>(PLAT_SECTOR_SIZE), &n, nullptr))
        return false;
    return n == PLAT_SECTOR_SIZE;
}

bool plat_sector_write(plat_file *f, const void *sector) {
    DWORD n = 0;
    if (!rewind_file(handle_of(f)) ||
        !WriteFile(handle_of(f), sector, static_cast<DWORD>(PLAT_SECTOR_SIZE), &n, nullptr))
        return false;
    return n == PLAT_SECTOR_SIZE;
}

void *plat_sector_alloc(void) {
    return _aligned_malloc(PLAT_SECTOR_SIZE, PLAT_SECTOR_SIZE);
}

void plat_sector_free(void *sector) {
    _aligned_free(sector);
}

bool plat_ensure_std_descriptors(void) {
    // The drive's command files are system handles, never C runtime
    // descriptor numbers, so a closed standard descriptor cannot become one:
    // what is printed to it is lost, nothing else.
    return true;
}

void plat_start(int *argc, char ***argv) {
    // No "insert a disk" box for a removable drive without a medium: the
    // call fails and the run goes on.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (timeBeginPeriod(1) == TIMERR_NOERROR)
        atexit(end_timer_period);
    int n = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr || n < 1)
        return; // the C runtime's arguments stay
    // Kept for the whole run, as the C runtime's own arguments are.
    static std::string *texts = new std::string[static_cast<size_t>(n)];
    static char **args = new char *[static_cast<size_t>(n) + 1];
    for (int i = 0; i < n; i++) {
        texts[i] = plat_narrow(wide[i]);
        args[i] = texts[i].data();
    }
    args[n] = nullptr;
    LocalFree(wide);
    *argc = n;
    *argv = args;
}

bool plat_text_to_wide(const char *text, wchar_t *out, size_t count) {
    if (count == 0)
        return true;
    size_t length = strlen(text);
    if (length == 0) {
        out[0] = L'\0';
        return true;
    }
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                     nullptr, 0);
    if (needed <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), wide.data(),
                        needed);
    size_t n = wide.size() < count ? wide.size() : count;
    wmemcpy(out, wide.data(), n);
    if (n < count)
        out[n] = L'\0';
    return true;
}

void plat_sleep_ms(unsigned ms) {
    Sleep(ms);
}

uint64_t plat_monotonic_ms(void) {
    // The performance counter, not the tick count: the tick count moves in
    // steps of the default timer period (15.6 ms) whatever the run asked for.
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    const uint64_t per_second = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / per_second * 1000u + ticks % per_second * 1000u / per_second;
}

long plat_last_error(void) {
    return static_cast<long>(GetLastError());
}
