// SPDX-License-Identifier: MIT
// The files of the user memory backup: writing a new backup so that the old
// one is replaced whole or not at all, and opening a backup to restore from.
//
// A new backup is written to a temporary file in the directory of the file
// it replaces (".kestrel-backup-" and six more characters), brought to the
// disk, and then put in the old file's place in one step. A run ended by an
// interrupt, termination, hang-up or file-size signal while the temporary
// file exists removes it first. Where no temporary file can be made (a
// directory the user cannot write) or the old file's owner and group could
// not be kept on a new file, the old file is rewritten in place instead,
// once the whole new text is at hand. A target that is not a regular file (a
// terminal, a pipe) is written straight. The bytes written are the bytes
// given: no line-end translation on any system.
//
// Every call that can fail returns 0 on success or the system's error code,
// which plat_error_text() describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/diagnose.h" // plat_error_text()

constexpr size_t PLAT_BACKUP_PATH_SIZE = 4096;

// What a backup name refers to before the new backup is written.
struct plat_backup_target {
    bool exists = false;  // the name (through any links) refers to something
    bool regular = false; // ... that is a regular file
    // ... that is a device which keeps nothing written to it and is no
    // terminal or pipe (Windows' NUL, AUX, COM1 and such, also as "nul.txt"):
    // no backup is written there.
    bool device = false;
    // The file to replace: the name itself, or the file its symbolic links
    // lead to (which need not exist yet); the links stay.
    char path[PLAT_BACKUP_PATH_SIZE] = {0};
    // The old file's permission bits, owner and group, carried onto the new
    // file where the system has them. Set-user-ID, set-group-ID and sticky
    // bits are never carried.
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
// is no old file), and arms its removal on the signals that end a run.
// Fails, leaving nothing behind, when the owner or group cannot be kept.
long plat_backup_create_temp(const plat_backup_target *target, plat_backup_file *file);

// Opens the existing regular file `target->path` to be rewritten in place
// by plat_backup_overwrite(); nothing in it changes before that.
long plat_backup_open_in_place(const plat_backup_target *target, plat_backup_file *file);

// Makes `data` the whole content of a file opened in place: room for it is
// taken first (so that a full disk or a file-size limit leaves the old
// content as it was), then it is written from the start, the rest cut off,
// and all of it brought to the disk, with the signals that end a run held
// back meanwhile.
long plat_backup_overwrite(plat_backup_file *file, const void *data, size_t size);

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
// and makes that step durable. On failure the temporary file stays (and
// plat_backup_discard() removes it).
long plat_backup_replace(plat_backup_file *file, const char *target_path);

// Closes the file if it is open and removes the temporary file, if any.
void plat_backup_discard(plat_backup_file *file);

// What opening a backup to restore from found.
struct plat_backup_source {
    long error = 0;           // the error code when the open failed
    bool not_regular = false; // the name is no regular file (a device, a FIFO, a directory)
    uint64_t size = 0;        // the file's size when it was opened
};

// Opens a backup file for reading, but only a regular file: the open never
// waits (for the writer of a FIFO, say), and anything else is closed again
// and refused. Null on failure or refusal, with `*source` saying which.
FILE *plat_backup_open_source(const char *name, plat_backup_source *source);
