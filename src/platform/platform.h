// The operating-system services the utility needs, behind one small
// interface: the receiver drive's command files, sector buffers, sleeping,
// the clock and the last error code. This file and its POSIX implementation
// are the only places that know the operating system.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PLAT_SECTOR_SIZE = 512;

// A command file on the receiver's drive, opened so that every write reaches
// the drive at once and every read comes from the drive, not from a cache.
struct plat_file {
    int fd = -1;
    bool direct = false; // opened with direct I/O; otherwise cached pages are dropped before reads
};

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
// sector buffer. Return true when all 512 bytes moved.
bool plat_file_read_sector(plat_file *f, void *sector);
bool plat_file_write_sector(plat_file *f, const void *sector);

// A 512-byte buffer aligned on 512 bytes, or null.
void *plat_sector_alloc(void);
void plat_sector_free(void *sector);

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

// Socket layer start and stop. POSIX has no such layer: start always succeeds.
int plat_socket_startup(void);
void plat_socket_cleanup(void);
