// SPDX-License-Identifier: MIT
// The operating-system services the utility needs, behind one small
// interface: the receiver drive's command files, sector buffers, sleeping,
// the clock and the last error code. The platform layer (src/platform/:
// portable code there, and one folder per system, posix/ or win32/, chosen
// at build time) is the only place that knows the operating system.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PLAT_SECTOR_SIZE = 512;

// A command file on the receiver's drive, opened so that every write reaches
// the drive at once and every read comes from the drive, not from a cache.
struct plat_file {
#ifdef _WIN32
    void *handle = nullptr; // a file handle; null when closed
#else
    int fd = -1;
    bool direct = false; // opened with direct I/O; otherwise cached pages are dropped before reads
#endif
};

// Transfers that bypass the system's cache move whole sectors from and into
// sector-aligned memory; a system may refuse any other (Windows fails them
// with "invalid parameter", Linux with EINVAL). The sector transfers check
// this themselves before they reach the system, so that such a fault shows
// on every system, also where the system would not enforce it.
inline bool plat_sector_transfer_allowed(const void *buffer, size_t size) {
    return buffer != nullptr && reinterpret_cast<uintptr_t>(buffer) % PLAT_SECTOR_SIZE == 0 &&
           size > 0 && size % PLAT_SECTOR_SIZE == 0;
}

// Opens an existing regular file for reading and writing, sharing it with
// nobody (a second opener fails). A link in the last component of `path` is
// never followed, and what was opened is checked to be a regular file before
// anything is read or written: a drive, or a directory given by the user,
// must not be able to send a request sector into a file or a disk that is
// not the receiver's. Links in the directory part of `path` are followed
// (removable drives are often reached through links).
// Returns true on success. On failure `f` stays closed, the last error code
// tells why, and `*refused` (when given) tells whether the file was refused
// for being a link or not a regular file (a device, a FIFO, a directory);
// the last error code is then the system's nearest one.
bool plat_file_open_exclusive(const char *path, plat_file *f, bool *refused = nullptr);
void plat_file_close(plat_file *f);
bool plat_file_valid(const plat_file *f);
// True when the open file has no name left on its drive (removed, the drive
// gone) or cannot be looked at any more.
bool plat_file_gone(const plat_file *f);
// Reads or writes the whole first sector (offset 0) from or into a
// sector buffer. Return true when all 512 bytes moved; a buffer that is not
// sector-aligned fails with the system's "invalid argument" code.
bool plat_file_read_sector(plat_file *f, void *sector);
bool plat_file_write_sector(plat_file *f, const void *sector);

// A 512-byte buffer aligned on 512 bytes, or null.
void *plat_sector_alloc(void);
void plat_sector_free(void *sector);

// Prepares the run: on Windows the timer runs at 1 ms for the run (so that a
// 1 ms sleep is not 15.6 ms) and the command line is taken in its wide form
// and handed on as UTF-8 text, so that no character is lost to the ANSI code
// page. Nothing to do on POSIX.
void plat_start(int *argc, char ***argv);
// Converts command-line text (UTF-8 on Windows, the locale's encoding on
// POSIX) into at most `count` wide characters, as mbstowcs does: the
// terminator is written only when there is room. Returns false when the
// text is not valid in that encoding.
bool plat_text_to_wide(const char *text, wchar_t *out, size_t count);
// Makes sure that standard input, output and error are open, opening each
// one that is closed on the null device. Called first thing, before anything
// is opened: a program started with one of them closed would otherwise get
// that number for the next file it opens (a command file on the receiver's
// drive), and its messages would be written into that file. Returns false
// when a closed one could not be opened.
bool plat_ensure_std_descriptors(void);

void plat_sleep_ms(unsigned ms);
// Milliseconds on a clock that never jumps.
uint64_t plat_monotonic_ms(void);
// The system's code for the last failed call.
long plat_last_error(void);
