// SPDX-License-Identifier: MIT
// User memory cells and the backup file (-W).
//
// Cell n of the receiver's user memory is the two 32-bit words 2n and 2n+1:
// the frequency in Hz, then the modulation mode (low 16 bits) with the
// transverter index (high 16 bits).
//
// A backup is first written to a temporary file next to the target, and only
// a complete one (every cell answered, the answers in step with the queries,
// every byte written and synced) replaces the old backup. Restoring stores
// only what a line says exactly: unreadable lines, cells that do not exist
// and values that would arrive changed are reported and skipped; it stops
// at the first store that gets no answer.
#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cmdline.h"
#include "fe_interface.h"
#include "platform/backup_file.h"
#include "user_memory.h"

bool user_memory_cell_exists(int64_t address) {
    return address >= 0 && address < USER_MEMORY_CELLS;
}

bool user_memory_cell_storable(int64_t address, int64_t freq, int64_t mode, int64_t trvtr_index,
                               int report_size, char *why, size_t why_size) {
    if (!user_memory_cell_exists(address)) {
        snprintf(why, why_size, "cell %lld is not one of the cells 0 to %d",
                 static_cast<long long>(address), USER_MEMORY_CELLS - 1);
        return false;
    }
    if (freq < INT32_MIN || freq > static_cast<int64_t>(UINT32_MAX)) {
        snprintf(why, why_size, "frequency %lld does not fit in 32 bits",
                 static_cast<long long>(freq));
        return false;
    }
    if (mode < 0 || mode > 0xFFFF) {
        snprintf(why, why_size, "mode %lld is outside 0 to 65535", static_cast<long long>(mode));
        return false;
    }
    if (trvtr_index < 0 || trvtr_index > 0xFFFF) {
        snprintf(why, why_size, "transverter index %lld is outside 0 to 65535",
                 static_cast<long long>(trvtr_index));
        return false;
    }
    // The store report carries the word from byte 3 on; only the bytes
    // within the report size travel.
    int word_bytes = report_size - 3;
    if (word_bytes < 4) {
        uint64_t limit = word_bytes <= 0 ? 0 : (uint64_t{1} << (8 * word_bytes)) - 1;
        uint64_t freq_word = static_cast<uint32_t>(freq);
        uint64_t mode_word =
            (static_cast<uint64_t>(trvtr_index) << 16) | static_cast<uint64_t>(mode);
        if (freq_word > limit || mode_word > limit) {
            snprintf(why, why_size,
                     "%s does not fit in the %d bits of a word that a %d-byte report carries",
                     freq_word > limit ? "the frequency" : "the mode with the transverter index",
                     8 * (word_bytes < 0 ? 0 : word_bytes), report_size);
            return false;
        }
    }
    return true;
}

backup_line_kind parse_backup_line(const char *text, size_t length, bool whole, backup_line *line) {
    if (length > 0 && text[0] == '#')
        return BACKUP_COMMENT;
    int64_t numbers[4];
    const char *p = text;
    int read = 0;
    for (; read < 4; read++) {
        if (!scan_decimal(p, &numbers[read], &p))
            break;
    }
    // In a line that goes on beyond what was read, a number that touches
    // the end of the read part may go on as well.
    if (!whole && (read < 4 || p >= text + length))
        return BACKUP_TOO_LONG;
    if (read < 4)
        return BACKUP_TOO_FEW_NUMBERS;
    line->address = numbers[0];
    line->freq = numbers[1];
    line->mode = numbers[2];
    line->trvtr_index = numbers[3];
    return BACKUP_DATA;
}

namespace {

constexpr uint8_t USER_MEMORY_QUERY = 0x64;

// The report and the answer for one word; `answered` is true only when the
// answer is the receiver's answer to a user memory query, not a time-out or
// an answer of another kind (whose value would be 0 or another quantity).
// Returns the send result of the report.
int query_word(int word, uint32_t *value, bool *answered) {
    int sent = HID_Get_User_Memory(word);
    ack_reply r = wait_for_ack();
    *value = static_cast<uint32_t>(r.value);
    *answered = fe_answers(r, USER_MEMORY_QUERY);
    return sent;
}

// Reads one cell and prints its "UM" line; `answered` is false when either
// word went unanswered. With `stop_early` the second word is not asked for
// once the first went unanswered (it reads as a time-out would give it).
int query_cell(int address, uint32_t *freq, int *mode, int *trvtr_index, bool *answered,
               bool stop_early = false) {
    bool first = false, second = false;
    uint32_t word = UINT32_MAX;
    int sent = query_word(2 * address, freq, &first);
    if (first || !stop_early)
        sent = query_word(2 * address + 1, &word, &second);
    *mode = static_cast<int>(word & 0xFFFFu);
    *trvtr_index = static_cast<int>(word >> 16);
    printf("UM %d %lu %d %d\n\r", address, static_cast<unsigned long>(*freq), *mode, *trvtr_index);
    *answered = first && second;
    return sent;
}

constexpr uint8_t FIRMWARE_VERSION_QUERY = 0x09;

// The check read around a backup: the firmware version query. Its answer
// carries its own command code, which no answer to a user memory query
// has. Returns false when no answer came; `in_step` tells whether the
// answer was the answer to this query.
bool check_read(uint32_t *value, bool *in_step) {
    ack_reply r = fe_query(FIRMWARE_VERSION_QUERY, 0, wait_for_ack);
    *value = static_cast<uint32_t>(r.value);
    *in_step = fe_answers(r, FIRMWARE_VERSION_QUERY);
    return r.result == FE_ANSWERED;
}

// "<what>: <the system's description>" on standard error.
void report_error(const char *what, long err) {
    fprintf(stderr, "%s: %s\n", what, plat_error_text(err));
}

// Room for the whole text of a backup: the header and 100 cell lines of at
// most 30 characters each.
constexpr size_t BACKUP_TEXT_SIZE = 8192;

// Where a backup is being written: a temporary file that replaces the
// target once complete; the old file itself, rewritten in place, where no
// temporary file can take its place; or, for a target that is not a regular
// file (a terminal, a pipe), the target itself. The text is gathered here
// and written whole when the run closes the output.
struct backup_output {
    plat_backup_target target;
    plat_backup_file file;
    bool direct = false;
    bool in_place = false;
    bool overflow = false; // the text did not fit (never for a real backup)
    size_t length = 0;
    char text[BACKUP_TEXT_SIZE] = {0};
};

// Creates the output; returns 0, or the error code when it cannot be had.
long open_backup_output(const char *file_name, backup_output *out) {
    out->direct = false;
    out->in_place = false;
    out->overflow = false;
    out->length = 0;
    long err = plat_backup_inspect(file_name, &out->target);
    if (err != 0 || out->target.device)
        return err; // a device: nothing opened, the caller refuses it
    if (out->target.exists && !out->target.regular) {
        out->direct = true;
        return plat_backup_open_direct(file_name, &out->file);
    }
    err = plat_backup_create_temp(&out->target, &out->file);
    // A directory the user cannot write, or an old file whose owner could
    // not be kept on a new one: the old file, writable as it is, is
    // refreshed in place.
    if (err != 0 && out->target.exists &&
        plat_backup_open_in_place(&out->target, &out->file) == 0) {
        out->in_place = true;
        err = 0;
    }
    return err;
}

// Writes, syncs and closes the output. With `keep` the new backup then
// replaces the target; otherwise the temporary file is removed. Returns
// false, after reporting why, when the file could not be completed.
bool close_backup_output(backup_output *out, bool keep) {
    long err = 0;
    if (out->overflow) {
        fprintf(stderr, "Cannot write output file: the text is longer than %zu bytes\n",
                sizeof out->text);
        keep = false;
    }
    if (out->in_place) {
        if (keep)
            err = plat_backup_overwrite(&out->file, out->text, out->length);
    } else if (keep || out->direct) {
        err = plat_backup_write(&out->file, out->text, out->length);
    }
    if (err == 0 && keep && !out->direct && !out->in_place)
        err = plat_backup_sync(&out->file);
    long close_err = plat_backup_close(&out->file);
    if (err == 0)
        err = close_err;
    if (err != 0)
        report_error("Cannot write output file", err);
    if (out->direct || out->in_place)
        return err == 0 && keep;
    if (err != 0 || !keep) {
        plat_backup_discard(&out->file);
        return false;
    }
    err = plat_backup_replace(&out->file, out->target.path);
    if (err != 0) {
        report_error("Cannot replace output file", err);
        plat_backup_discard(&out->file);
        return false;
    }
    return true;
}

void write_backup(backup_output *out, const char *text) {
    size_t n = strlen(text);
    if (out->length + n > sizeof out->text) {
        out->overflow = true;
        return;
    }
    memcpy(out->text + out->length, text, n);
    out->length += n;
}

const char *const backup_header[] = {
    "#  QUARRO SDR backup file\r\n",
    "#  modulation codes are next:\r\n",
    "#  AM=0, LSB=1, USB=2, CWL=3, CWU=4, NFM=5, WFM=6, \r\n",
    "#  BPSK=9, QPSK=10, RTTY=11, SAM=12, SAMU=13, SAML=14 \r\n",
    "#  numbers in lines below are organized in the next order:\r\n",
    "#<cell> <frequency> <modulation> <travsverter>:\r\n",
};

// What a restore reads at most: a real backup is about 3 KB in 106 lines of
// at most 60 characters.
constexpr uint64_t BACKUP_FILE_MAX_BYTES = 16u << 20;
constexpr uint64_t BACKUP_LINE_MAX_BYTES = 1u << 20;

// Reads the next line of `file`: its first BACKUP_LINE_CHARS characters go
// to `text` (terminated), the rest up to the line end is passed over, but
// no more than BACKUP_LINE_MAX_BYTES bytes of the line (`*cut` then turns
// true) and no more than the file's bytes left, counted in `*budget`.
// Returns false at end of file with nothing read.
bool read_backup_line(FILE *file, char (&text)[BACKUP_LINE_CHARS + 1], size_t *length, bool *whole,
                      uint64_t *budget, bool *cut) {
    size_t n = 0;
    bool any = false;
    *whole = true;
    *cut = false;
    uint64_t line_bytes = 0;
    int c;
    while ((c = getc(file)) != EOF) {
        any = true;
        if (*budget == 0 || ++line_bytes > BACKUP_LINE_MAX_BYTES) {
            *cut = true;
            break;
        }
        (*budget)--;
        if (c == '\n')
            break;
        if (n < BACKUP_LINE_CHARS)
            text[n++] = static_cast<char>(c);
        else
            *whole = false;
    }
    text[n] = '\0';
    *length = n;
    return any;
}

// Writes the cells marked in `cells` as ascending ranges ("0-11, 15"), or
// "none", into `text`.
void format_cells(const bool (&cells)[USER_MEMORY_CELLS], char *text, size_t size) {
    size_t n = 0;
    text[0] = '\0';
    for (int cell = 0; cell < USER_MEMORY_CELLS; cell++) {
        if (!cells[cell])
            continue;
        int last = cell;
        while (last + 1 < USER_MEMORY_CELLS && cells[last + 1])
            last++;
        int w = last == cell
                    ? snprintf(text + n, size - n, "%s%d", n > 0 ? ", " : "", cell)
                    : snprintf(text + n, size - n, "%s%d-%d", n > 0 ? ", " : "", cell, last);
        if (w < 0 || static_cast<size_t>(w) >= size - n)
            return; // cut short (never for 100 cells in the sizes used)
        n += static_cast<size_t>(w);
        cell = last;
    }
    if (n == 0)
        snprintf(text, size, "none");
}

} // namespace

int get_user_memory(int address, uint32_t *freq, int *mode, int *trvtr_index) {
    *freq = 0;
    *mode = 0;
    *trvtr_index = 0;
    if (!user_memory_cell_exists(address)) {
        // Word numbers travel in one byte: another cell would be read.
        fprintf(stderr, "User memory cell %d not read: the cells are 0 to %d\n", address,
                USER_MEMORY_CELLS - 1);
        return -1;
    }
    bool answered;
    int sent = query_cell(address, freq, mode, trvtr_index, &answered);
    return answered ? sent : -1; // a word without its answer: the cell was not read
}

int save_user_memory(int address, uint32_t freq, int mode, int trvtr_index) {
    char why[160];
    if (!user_memory_cell_storable(address, freq, mode, trvtr_index, HID_COMMAND_SIZE, why,
                                   sizeof why)) {
        fprintf(stderr, "User memory cell %d not stored: %s\n", address, why);
        return -1;
    }
    HID_Save_User_Memory(2 * address, freq);
    bool answered = wait_for_ack().result == FE_ANSWERED;
    uint32_t word = (static_cast<uint32_t>(trvtr_index) << 16) | static_cast<uint32_t>(mode);
    HID_Save_User_Memory(2 * address + 1, word);
    answered = wait_for_ack().result == FE_ANSWERED && answered;
    printf("UM: cell= %d, freq=%ld , mode=%d, tvtr=%d\n\r", address,
           static_cast<long>(static_cast<int32_t>(freq)), mode, trvtr_index);
    return answered ? 0 : -1;
}

int read_user_memory_to_file(const char *file_name) {
    if (file_name[0] == '\0') {
        printf("write to backup file: %s\r\n", file_name);
        return 0;
    }
    static backup_output out;
    long err = open_backup_output(file_name, &out);
    if (err == 0 && out.target.device) {
        fprintf(stderr, "Backup file %s not written: it is not a regular file\n", file_name);
        return -1;
    }
    if (err != 0) {
        report_error("Cannot open output file\n\r", err);
        return -1;
    }
    for (const char *line : backup_header)
        write_backup(&out, line);
    // Answers carry no word number: an answer left behind by an earlier run,
    // taken as the answer to a query of this one, would put every later word
    // one query late. The firmware version is read before the first cell and
    // again after the last; both answers must be answers to that query, and
    // the same, or the answers are out of step with the queries. The backup
    // stops at its first unanswered cell: it could not be kept anyway.
    uint32_t opening = 0, closing = 0;
    bool in_step = false;
    bool complete = check_read(&opening, &in_step);
    if (!complete)
        fprintf(stderr, "The receiver did not answer the firmware version query that opens the "
                        "backup: no cell was read\n");
    for (int cell = 0; complete && in_step && cell < USER_MEMORY_CELLS; cell++) {
        uint32_t freq;
        int mode, trvtr_index;
        query_cell(cell, &freq, &mode, &trvtr_index, &complete, true);
        char line[255];
        snprintf(line, sizeof line, "%d %d %d %d \r\n", cell, static_cast<int32_t>(freq), mode,
                 trvtr_index);
        write_backup(&out, line);
        if (!complete)
            fprintf(stderr,
                    "User memory cell %d got no answer to its query: the backup stops there\n",
                    cell);
    }
    if (complete && in_step) {
        complete = check_read(&closing, &in_step);
        in_step = in_step && closing == opening;
        if (!complete)
            fprintf(stderr, "The receiver did not answer the firmware version query that closes "
                            "the backup\n");
    }
    if (complete && !in_step)
        fprintf(stderr, "The receiver's answers are out of step with the queries (an answer left "
                        "from an earlier run came in between): the cells read may belong to other "
                        "cells\n");
    bool kept = close_backup_output(&out, complete && in_step);
    if (!kept) {
        if (!out.direct)
            fprintf(stderr, "No backup written: %s is left as it was\n", file_name);
        return -1;
    }
    printf("write to backup file: %s\r\n", file_name);
    return 0;
}

int restore_user_memory_from_file(const char *file_name) {
    if (file_name[0] == '\0') {
        printf("restore from backup file: %s\r\n", file_name);
        return 0;
    }
    plat_backup_source source;
    FILE *file = plat_backup_open_source(file_name, &source);
    if (file == nullptr) {
        if (source.not_regular)
            fprintf(stderr, "Backup file %s not read: it is not a regular file\n", file_name);
        else
            report_error("Cannot open input file\n\r", source.error);
        return -1;
    }
    if (source.size > BACKUP_FILE_MAX_BYTES) {
        fprintf(
            stderr,
            "Backup file %s not read: it holds %llu bytes, more than the %llu a restore reads\n",
            file_name, static_cast<unsigned long long>(source.size),
            static_cast<unsigned long long>(BACKUP_FILE_MAX_BYTES));
        fclose(file);
        return -1;
    }
    int result = 0;
    int line_number = 0;
    int stored = 0;
    char text[BACKUP_LINE_CHARS + 1];
    size_t length;
    bool whole, cut = false;
    uint64_t budget = BACKUP_FILE_MAX_BYTES;
    // A restore stops sending at its first store that got no answer; the
    // rest of the file is still read, to tell which cells it would have
    // restored.
    bool sending = true;
    static bool restored[USER_MEMORY_CELLS], not_restored[USER_MEMORY_CELLS];
    memset(restored, 0, sizeof restored);
    memset(not_restored, 0, sizeof not_restored);
    while (stored < USER_MEMORY_CELLS &&
           read_backup_line(file, text, &length, &whole, &budget, &cut)) {
        line_number++;
        if (cut) {
            if (budget == 0)
                fprintf(stderr,
                        "Backup file %s grew past %llu bytes while it was read: the rest is not "
                        "read\n",
                        file_name, static_cast<unsigned long long>(BACKUP_FILE_MAX_BYTES));
            else
                fprintf(stderr,
                        "Backup file line %d is longer than %llu bytes: the rest of the file is "
                        "not read\n",
                        line_number, static_cast<unsigned long long>(BACKUP_LINE_MAX_BYTES));
            result = -1;
            break;
        }
        backup_line line;
        switch (parse_backup_line(text, length, whole, &line)) {
        case BACKUP_COMMENT:
            continue;
        case BACKUP_TOO_FEW_NUMBERS:
            if (sending)
                fprintf(stderr, "Backup file line %d skipped: it does not hold four numbers\n",
                        line_number);
            result = -1;
            continue;
        case BACKUP_TOO_LONG:
            if (sending)
                fprintf(stderr,
                        "Backup file line %d skipped: its four numbers do not end within its first "
                        "%zu characters\n",
                        line_number, BACKUP_LINE_CHARS);
            result = -1;
            continue;
        case BACKUP_DATA:
            break;
        }
        char why[160];
        if (!user_memory_cell_storable(line.address, line.freq, line.mode, line.trvtr_index,
                                       HID_COMMAND_SIZE, why, sizeof why)) {
            if (sending)
                fprintf(stderr, "Backup file line %d skipped: %s\n", line_number, why);
            result = -1;
            continue;
        }
        int address = static_cast<int>(line.address);
        stored++;
        if (!sending) {
            not_restored[address] = true;
            continue;
        }
        uint32_t freq = static_cast<uint32_t>(line.freq);
        int mode = static_cast<int>(line.mode);
        int trvtr_index = static_cast<int>(line.trvtr_index);
        printf("%lu %d %d %d \n\r", static_cast<unsigned long>(address), static_cast<int>(freq),
               mode, trvtr_index);
        if (save_user_memory(address, freq, mode, trvtr_index) == 0) {
            restored[address] = true;
            continue;
        }
        fprintf(stderr,
                "User memory cell %d got no answer to its store: the restore stops at line %d of "
                "the backup file\n",
                address, line_number);
        not_restored[address] = true;
        sending = false;
        result = -1;
    }
    if (!sending) {
        for (int cell = 0; cell < USER_MEMORY_CELLS; cell++)
            restored[cell] = restored[cell] && !not_restored[cell];
        char cells[600];
        format_cells(restored, cells, sizeof cells);
        fprintf(stderr, "User memory cells restored: %s\n", cells);
        format_cells(not_restored, cells, sizeof cells);
        fprintf(stderr, "User memory cells not restored: %s\n", cells);
    }
    if (ferror(file)) {
        fprintf(stderr, "Cannot read input file: %s\n", strerror(errno != 0 ? errno : EIO));
        result = -1;
    }
    fclose(file);
    printf("restore from backup file: %s\r\n", file_name);
    return result;
}
