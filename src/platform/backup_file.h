// The files of the user memory backup: writing a new backup so that the old
// one is replaced whole or not at all, and opening a backup to restore from.
//
// A new backup is written to a temporary file in the directory of the file
// it replaces (".kestrel-backup-" and six more characters), brought to the
// disk, and then put in the old file's place in one step. A target that is
// not a regular file (a terminal, a pipe) is written straight. The bytes
// written are the bytes given: no line-end translation on any system.
//
// Every call that can fail returns 0 on success or the system's error code,
// which plat_error_text() describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t PLAT_BACKUP_PATH_SIZE = 4096;

// What a backup name refers to before the new backup is written.
struct plat_backup_target {
    bool exists = false;  // the name (through any links) refers to something
    bool regular = false; // ... that is a regular file
    // The file to replace: the name itself, or the file its symbolic links
    // lead to.
    char path[PLAT_BACKUP_PATH_SIZE] = {0};
    // The old file's permission bits, owner and group, carried onto the new
    // file where the system has them.
    uint32_t permissions = 0;
    uint32_t owner = 0;
    uint32_t group = 0;
};

// A backup being written.
struct plat_backup_file {
    intptr_t handle = -1; // the open file; -1 when closed
    // The temporary file that will replace the target; empty when the target
    // itself is written.
    char temp[PLAT_BACKUP_PATH_SIZE] = {0};
};

// Looks at `name`. When it exists it must be writable by this run (an old
// backup that cannot be written stays as it is); an error code otherwise.
long plat_backup_inspect(const char *name, plat_backup_target *target);

// Creates the temporary file beside `target->path`, with the old file's
// permissions, owner and group (or those of a newly created file when there
// is no old file).
long plat_backup_create_temp(const plat_backup_target *target, plat_backup_file *file);

// Opens `name` to be written straight, from its start, emptied first (a
// terminal, a pipe).
long plat_backup_open_direct(const char *name, plat_backup_file *file);

// Writes all `size` bytes.
long plat_backup_write(plat_backup_file *file, const void *data, size_t size);

// Brings what was written to the disk.
long plat_backup_sync(plat_backup_file *file);

// Closes the file (a temporary file stays in place).
long plat_backup_close(plat_backup_file *file);

// Puts the closed temporary file in the place of `target_path` in one step
// and makes that step durable. On failure the temporary file stays.
long plat_backup_replace(plat_backup_file *file, const char *target_path);

// Closes the file if it is open and removes the temporary file, if any.
void plat_backup_discard(plat_backup_file *file);

// Opens a backup file for reading. Null on failure, with the error code in
// `*error`.
FILE *plat_backup_open_source(const char *name, long *error);

// The system's description of an error code.
const char *plat_error_text(long code);
