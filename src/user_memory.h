// SPDX-License-Identifier: MIT
// The receiver's user memory cells and the lines of the backup file: which
// cells exist, which values a cell can hold over the open transport, and how
// one line of a backup file is read.
#pragma once

#include <cstddef>
#include <cstdint>

// The receiver's cells are 0 to USER_MEMORY_CELLS - 1.
constexpr int USER_MEMORY_CELLS = 100;

// Characters of a backup file line that are looked at; the rest of a longer
// line is passed over.
constexpr size_t BACKUP_LINE_CHARS = 254;

bool user_memory_cell_exists(int64_t address);

// Whether a cell can be stored exactly as given: the cell exists, the
// frequency is a 32-bit pattern (-2147483648 to 4294967295), the mode and
// the transverter index are 0 to 65535, and both words of the cell travel
// whole in a report of `report_size` bytes (a 5-byte report carries only the
// low 16 bits of a word). When not, `why` receives the reason, cut to
// `why_size`.
bool user_memory_cell_storable(int64_t address, int64_t freq, int64_t mode, int64_t trvtr_index,
                               int report_size, char *why, size_t why_size);

enum backup_line_kind {
    BACKUP_COMMENT,         // first character "#"
    BACKUP_DATA,            // four numbers read
    BACKUP_TOO_FEW_NUMBERS, // blank, truncated, or not numbers
    BACKUP_TOO_LONG,        // the four numbers do not end within the characters looked at
};

// The four numbers of a data line, as written in the file.
struct backup_line {
    int64_t address;
    int64_t freq;
    int64_t mode;
    int64_t trvtr_index;
};

// Reads one line of a backup file: `text` holds its first `length`
// characters (line end excluded; zero bytes allowed), and `whole` tells
// whether that is the entire line. Fills `line` for BACKUP_DATA only.
backup_line_kind parse_backup_line(const char *text, size_t length, bool whole, backup_line *line);
